// window_means.h: the means of a run of windows, several windows at a time,
// written once over a vector type `Lanes` of 32-bit lanes (four with SSE2,
// blur/lanes_sse2.h; eight with AVX2, blur/lanes_avx2.h; sixteen with
// AVX-512, blur/lanes_avx512.h). For 32-bit tables
// only (blur/window_sums.h): the four-entry differences wrap modulo 2^32 to
// the window's true sum.
//
// Lanes provides, besides loads, stores and lane-wise arithmetic:
// - TruncatedMeans<signedSums>(sums, low, high): TruncatedMean
//   (blur/window_sums.h) of each lane's sum, exactly as the scalar does it:
//   the sum made a double exactly, multiplied by its window's reciprocal
//   (windows 0 .. COUNT / 2 - 1 in `low`, the rest in `high`), truncated;
//   with signedSums every sum is below 2^31 (WindowRun::signedSums);
// - BlueAlphaWords / StorePixelWords: pixels as their 32-bit words (r | g <<
//   16) and (b | a << 16), in the lane order TruncatedMeans gives its means
//   in; or, where MASKED_STORES says so, StoreMeans, which writes the means
//   without reading the pixels.
//
// Only included by the translation unit that instantiates it for one Lanes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blur/window_run.h"

namespace window_runs {

// The windows of the run COUNT at a time, as far as they come in whole
// vectors; returns how many were done. The rest is left to the caller.
template <typename Lanes, RunShape shape, bool signedSums = false>
int32_t MeanWindows(const WindowRun<uint32_t>& run) {
  using U32 = typename Lanes::U32;
  using F64 = typename Lanes::F64;
  constexpr int32_t COUNT = Lanes::COUNT;
  // Everything the loop reads of the run is copied first: the stores to the
  // pixels below may alias the run, so the compiler would read it again
  // after every store.
  const F64 shared = Lanes::BroadcastDouble(run.reciprocals[0]);
  const double* reciprocals = run.reciprocals;
  BMM_Color_64* const out = run.out;
  const BMM_Color_64* const ahead = run.ahead;
  const int32_t count = run.count;
  // The table entries at each window's corners, per channel: window i reads
  // column left (+ i) and right (+ i) of the rows above and below. On a
  // side where the windows are clipped at the image's edge, all read the
  // edge's column: below minus above there is one vector for the run.
  const uint32_t* aboveLeft[CHANNELS];
  const uint32_t* belowLeft[CHANNELS];
  const uint32_t* aboveRight[CHANNELS];
  const uint32_t* belowRight[CHANNELS];
  U32 fixedLeft[CHANNELS];
  U32 fixedRight[CHANNELS];
  for (size_t c = 0; c < CHANNELS; ++c) {
    const uint32_t* a = run.above + c * run.planeStride;
    const uint32_t* b = run.below + c * run.planeStride;
    aboveLeft[c] = a + run.left;
    belowLeft[c] = b + run.left;
    aboveRight[c] = a + run.right;
    belowRight[c] = b + run.right;
    fixedLeft[c] = Lanes::Broadcast(shape.leftMoves ? 0 : b[run.left] - a[run.left]);
    fixedRight[c] = Lanes::Broadcast(shape.rightMoves ? 0 : b[run.right] - a[run.right]);
  }
  int32_t i = 0;
  for (; i + COUNT <= count; i += COUNT) {
    if (ahead) Lanes::Prefetch(ahead + i);
    F64 low = shared;
    F64 high = shared;
    if constexpr (!shape.sharedReciprocal) {
      low = Lanes::LoadDoubles(reciprocals + i);
      high = Lanes::LoadDoubles(reciprocals + i + COUNT / 2);
    }
    U32 mean[CHANNELS];
    for (size_t c = 0; c < CHANNELS; ++c) {
      U32 right = fixedRight[c];
      U32 left = fixedLeft[c];
      if constexpr (shape.rightMoves) {
        right = Lanes::Sub(Lanes::Load(belowRight[c] + i), Lanes::Load(aboveRight[c] + i));
      }
      if constexpr (shape.leftMoves) {
        left = Lanes::Sub(Lanes::Load(belowLeft[c] + i), Lanes::Load(aboveLeft[c] + i));
      }
      mean[c] = Lanes::template TruncatedMeans<signedSums>(Lanes::Sub(right, left), low, high);
    }
    // The means are below 2^16; alpha is kept.
    BMM_Color_64* pixels = out + i;
    if constexpr (Lanes::MASKED_STORES) {
      Lanes::StoreMeans(pixels, mean[0], mean[1], mean[2]);
    } else {
      constexpr uint32_t ALPHA_MASK = 0xFFFF0000u;  // a in a (b | a << 16) word
      const U32 blueAlpha = Lanes::And(Lanes::BlueAlphaWords(pixels), Lanes::Broadcast(ALPHA_MASK));
      Lanes::StorePixelWords(pixels, Lanes::Or(mean[0], Lanes::ShiftLeft16(mean[1])),
                             Lanes::Or(mean[2], blueAlpha));
    }
  }
  return i;
}

}  // namespace window_runs
