// window_run.h: a run of windows that share their table rows and differ
// only by their column, as the mean loops (blur/window_runs.h,
// blur/window_means.h) take it.
//
// A table row is three planes, r, g and b, each `planeStride` entries long
// (columns 0 .. width). Pointers to a row point at its column 0 in the r
// plane; the g and b planes follow at planeStride and 2 * planeStride.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/types.h"

namespace window_runs {

constexpr size_t CHANNELS = 3;

// The most pixels a window may hold for its sums of 16-bit values to stay
// below 2^31: 32768 * 65535 < 2^31.
constexpr uint64_t SIGNED_SUM_PIXELS = 32768;

// The shape of a run of windows. A window whose rectangle runs past the
// left edge of the image is clipped to column 0, one that runs past the
// right edge to column `width`: all the windows of a run clipped at an edge
// read that edge's column, and each has its own pixel count.
struct RunShape {
  bool leftMoves;         // window i's left column is left + i, else left
  bool rightMoves;        // window i's right column is right + i, else right
  bool sharedReciprocal;  // one 1 / pixel count for the run, else one per window
};
// Windows clipped at neither the left nor the right edge: all of a run's
// windows hold the same number of pixels.
constexpr RunShape WHOLE{true, true, true};

// The shape of windows clipped at the left edge, the right edge, both or
// neither.
constexpr RunShape ClippedShape(bool clippedLeft, bool clippedRight) {
  return {!clippedLeft, !clippedRight, !clippedLeft && !clippedRight};
}

// A run of `count` windows whose sums lie between table rows `above` and
// `below`, window i between columns left (+ i) and right (+ i), left <
// right, as its shape says. The means go to r, g, b of out[0 .. count - 1];
// alpha is kept. `ahead`, when not null, is where the next row's run will
// write: it is fetched into the cache meanwhile. `signedSums` says that no
// window holds more than 32768 pixels, so that every window's sum stays
// below 2^31.
template <typename Sum>
struct WindowRun {
  const Sum* above;
  const Sum* below;
  size_t planeStride;
  int32_t left;
  int32_t right;
  const double* reciprocals;  // reciprocals[0], or reciprocals[i] for window i
  int32_t count;
  BMM_Color_64* out;
  const BMM_Color_64* ahead;
  bool signedSums;

  // The same run without its first n windows.
  template <RunShape shape>
  WindowRun After(int32_t n) const {
    return {above,
            below,
            planeStride,
            shape.leftMoves ? left + n : left,
            shape.rightMoves ? right + n : right,
            shape.sharedReciprocal ? reciprocals : reciprocals + n,
            count - n,
            out + n,
            ahead ? ahead + n : nullptr,
            signedSums};
  }
};

// The vector loops a table uses, chosen from a VectorWidth by what the build
// and the processor support (see WindowSums::Create).
enum class MeanLoops {
  Plain,   // one window at a time
  Sse2,    // four at a time
  Avx2,    // eight at a time
  Avx512,  // sixteen at a time
};

// MeanWindows (blur/window_means.h) for AVX2, compiled in its own
// translation unit for that instruction set; only to be called when the
// processor has it. Instantiated for the four shapes the blur uses.
template <RunShape shape>
int32_t MeanWindowsAvx2(const WindowRun<uint32_t>& run);

// The same for AVX-512, sixteen windows at a time (blur/loops_avx512.cpp).
template <RunShape shape>
int32_t MeanWindowsAvx512(const WindowRun<uint32_t>& run);

// FillRow's main loop for a 32-bit table with AVX2, eight pixels at a time
// (blur/window_runs.h); only to be called when the processor has it.
// Returns how many pixels were done; sums[] holds the running sums after
// them.
int32_t FillRowAvx2(const uint32_t* above, const BMM_Color_64* pixels, const BMM_Color_64* next,
                    int32_t width, size_t planeStride, uint32_t* out, uint32_t sums[CHANNELS]);

// The same with AVX-512, sixteen pixels at a time.
int32_t FillRowAvx512(const uint32_t* above, const BMM_Color_64* pixels, const BMM_Color_64* next,
                      int32_t width, size_t planeStride, uint32_t* out, uint32_t sums[CHANNELS]);

}  // namespace window_runs
