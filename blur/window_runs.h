// window_runs.h: the inner loops of the window sums (blur/window_sums.h):
// filling one row of the summed-area table, and the means of a run of
// windows that share their table rows and differ only by their column.
//
// A table row is three planes, r, g and b, each `planeStride` entries long
// (columns 0 .. width). Pointers to a row point at its column 0 in the r
// plane; the g and b planes follow at planeStride and 2 * planeStride.
//
// Every loop has a plain form; on x86 with SSE2 (the x86-64 baseline) the
// 32-bit table also has a four-windows-at-a-time form, and, built with GCC
// or Clang, an eight-at-a-time form for processors with AVX2, chosen at run
// time (the build itself assumes no more than SSE2). All forms do the very
// same arithmetic, so they give identical results. Only called from
// window_sums.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/types.h"
#include "blur/window_sums.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KESTRION_AVX2_LOOPS 1
#endif

namespace window_runs {

constexpr size_t CHANNELS = 3;

#if defined(__SSE2__)

// The four-at-a-time loops read and write pixels as four 16-bit lanes r, g,
// b, a (x86 is little-endian).
static_assert(sizeof(BMM_Color_64) == 8 && offsetof(BMM_Color_64, g) == 2 &&
              offsetof(BMM_Color_64, b) == 4 && offsetof(BMM_Color_64, a) == 6);

// Four lanes of 32-bit running sums: lane k gets the sum of lanes 0 .. k.
inline __m128i RunningSums4(__m128i v) {
  v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
  return _mm_add_epi32(v, _mm_slli_si128(v, 8));
}

// FillRow's main loop for a 32-bit table, four pixels at a time: their r, g
// and b are gathered into one vector each, summed along the row and added
// to the row above. Meanwhile the source row `next` is fetched into the
// cache. Returns how many pixels were done; sums[] holds the running sums
// after them.
inline int32_t FillRowInFours(const uint32_t* above, const BMM_Color_64* pixels,
                              const BMM_Color_64* next, int32_t width, size_t planeStride,
                              uint32_t* out, uint32_t sums[CHANNELS]) {
  const __m128i zero = _mm_setzero_si128();
  __m128i carry[CHANNELS] = {zero, zero, zero};
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    _mm_prefetch(reinterpret_cast<const char*>(next + x), _MM_HINT_T0);
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x + 2));
    const __m128i even = _mm_unpacklo_epi16(first, second);  // r0 r2 g0 g2 b0 b2 a0 a2
    const __m128i odd = _mm_unpackhi_epi16(first, second);   // r1 r3 g1 g3 b1 b3 a1 a3
    const __m128i redGreen = _mm_unpacklo_epi16(even, odd);  // r0 .. r3 g0 .. g3
    const __m128i blueAlpha = _mm_unpackhi_epi16(even, odd);
    const __m128i channels[CHANNELS] = {_mm_unpacklo_epi16(redGreen, zero),
                                        _mm_unpackhi_epi16(redGreen, zero),
                                        _mm_unpacklo_epi16(blueAlpha, zero)};
    for (size_t c = 0; c < CHANNELS; ++c) {
      const __m128i running = _mm_add_epi32(RunningSums4(channels[c]), carry[c]);
      carry[c] = _mm_shuffle_epi32(running, _MM_SHUFFLE(3, 3, 3, 3));
      const size_t at = c * planeStride + static_cast<size_t>(x) + 1;
      const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + at));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_add_epi32(running, up));
    }
  }
  for (size_t c = 0; c < CHANNELS; ++c) {
    sums[c] = static_cast<uint32_t>(_mm_cvtsi128_si32(carry[c]));
  }
  return x;
}

#endif  // __SSE2__

// Table row `out` = row `above` plus the running sums of the `width`
// source pixels; out[0] = 0. Unsigned arithmetic wraps, which the 32-bit
// table relies on. `next` is the source row the next call will read (or
// `pixels` again): a row of the source is read once, from memory, so
// fetching the next one ahead while this one is summed hides most of the
// wait.
template <typename Sum>
void FillRow(const Sum* above, const BMM_Color_64* pixels, const BMM_Color_64* next, int32_t width,
             size_t planeStride, Sum* out) {
  Sum* outR = out;
  Sum* outG = out + planeStride;
  Sum* outB = out + 2 * planeStride;
  const Sum* aboveR = above;
  const Sum* aboveG = above + planeStride;
  const Sum* aboveB = above + 2 * planeStride;
  Sum sums[CHANNELS] = {0, 0, 0};
  int32_t x = 0;
#if defined(__SSE2__)
  if constexpr (std::is_same_v<Sum, uint32_t>) {
    x = FillRowInFours(above, pixels, next, width, planeStride, out, sums);
  }
#endif
  Sum r = sums[0];
  Sum g = sums[1];
  Sum b = sums[2];
  for (; x < width; ++x) {
    r += pixels[x].r;
    g += pixels[x].g;
    b += pixels[x].b;
    outR[x + 1] = aboveR[x + 1] + r;
    outG[x + 1] = aboveG[x + 1] + g;
    outB[x + 1] = aboveB[x + 1] + b;
  }
  outR[0] = 0;
  outG[0] = 0;
  outB[0] = 0;
}

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

// A run of `count` windows whose sums lie between table rows `above` and
// `below`, window i between columns left (+ i) and right (+ i), left <
// right, as its shape says. The means go to r, g, b of out[0 .. count - 1];
// alpha is kept. `ahead`, when not null, is where the next row's run will
// write: it is fetched into the cache meanwhile.
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
            ahead ? ahead + n : nullptr};
  }
};

template <typename Sum, RunShape shape>
void PlainMeanRun(const WindowRun<Sum>& run) {
  for (int32_t i = 0; i < run.count; ++i) {
    const double reciprocal = run.reciprocals[shape.sharedReciprocal ? 0 : i];
    const int32_t l = shape.leftMoves ? run.left + i : run.left;
    const int32_t r = shape.rightMoves ? run.right + i : run.right;
    uint16_t mean[CHANNELS];
    for (size_t c = 0; c < CHANNELS; ++c) {
      const Sum* a = run.above + c * run.planeStride;
      const Sum* b = run.below + c * run.planeStride;
      mean[c] = TruncatedMean((b[r] - a[r]) - (b[l] - a[l]), reciprocal);
    }
    run.out[i].r = mean[0];
    run.out[i].g = mean[1];
    run.out[i].b = mean[2];
  }
}

// Below minus above, for each channel, at the column that all windows of a
// run clipped at an edge read on that side (0 where the windows move).
struct EdgeColumns {
  EdgeColumns(const WindowRun<uint32_t>& run, RunShape shape) {
    for (size_t c = 0; c < CHANNELS; ++c) {
      const uint32_t* a = run.above + c * run.planeStride;
      const uint32_t* b = run.below + c * run.planeStride;
      left[c] = shape.leftMoves ? 0 : b[run.left] - a[run.left];
      right[c] = shape.rightMoves ? 0 : b[run.right] - a[run.right];
    }
  }
  uint32_t left[CHANNELS];
  uint32_t right[CHANNELS];
};

#if defined(__SSE2__)

inline __m128i Load4(const uint32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// TruncatedMean of four 32-bit sums, as 32-bit lanes. A sum becomes a double
// exactly by placing it under the exponent of 2^52 and subtracting 2^52;
// then multiply and truncation as in TruncatedMean.
inline __m128i Means4(__m128i sums, __m128d reciprocalsLow, __m128d reciprocalsHigh) {
  const __m128i exponent = _mm_set1_epi32(0x43300000);
  const __m128d two52 = _mm_set1_pd(4503599627370496.0);
  __m128d low = _mm_sub_pd(_mm_castsi128_pd(_mm_unpacklo_epi32(sums, exponent)), two52);
  __m128d high = _mm_sub_pd(_mm_castsi128_pd(_mm_unpackhi_epi32(sums, exponent)), two52);
  low = _mm_mul_pd(low, reciprocalsLow);
  high = _mm_mul_pd(high, reciprocalsHigh);
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
}

// The windows of the run four at a time, as far as they come in fours;
// returns how many were done.
template <RunShape shape>
int32_t MeanRunInFours(const WindowRun<uint32_t>& run) {
  const __m128i alphaMask = _mm_set1_epi32(static_cast<int32_t>(0xFFFF0000u));
  // Read once: the stores to the pixels below may not alias them.
  const __m128d shared = _mm_set1_pd(run.reciprocals[0]);
  const EdgeColumns edges(run, shape);
  __m128i fixedLeft[CHANNELS];
  __m128i fixedRight[CHANNELS];
  for (size_t c = 0; c < CHANNELS; ++c) {
    fixedLeft[c] = _mm_set1_epi32(static_cast<int32_t>(edges.left[c]));
    fixedRight[c] = _mm_set1_epi32(static_cast<int32_t>(edges.right[c]));
  }
  int32_t i = 0;
  for (; i + 4 <= run.count; i += 4) {
    if (run.ahead) _mm_prefetch(reinterpret_cast<const char*>(run.ahead + i), _MM_HINT_T0);
    __m128d reciprocalsLow = shared;
    __m128d reciprocalsHigh = shared;
    if constexpr (!shape.sharedReciprocal) {
      reciprocalsLow = _mm_loadu_pd(run.reciprocals + i);
      reciprocalsHigh = _mm_loadu_pd(run.reciprocals + i + 2);
    }
    __m128i mean[CHANNELS];
    for (size_t c = 0; c < CHANNELS; ++c) {
      const uint32_t* a = run.above + c * run.planeStride + i;
      const uint32_t* b = run.below + c * run.planeStride + i;
      __m128i right = fixedRight[c];
      __m128i left = fixedLeft[c];
      if constexpr (shape.rightMoves) {
        right = _mm_sub_epi32(Load4(b + run.right), Load4(a + run.right));
      }
      if constexpr (shape.leftMoves) {
        left = _mm_sub_epi32(Load4(b + run.left), Load4(a + run.left));
      }
      mean[c] = Means4(_mm_sub_epi32(right, left), reciprocalsLow, reciprocalsHigh);
    }
    // A pixel is the 32-bit words (r | g << 16) and (b | a << 16); the
    // means are below 2^16.
    __m128i* pixels = reinterpret_cast<__m128i*>(run.out + i);
    const __m128i first = _mm_loadu_si128(pixels);
    const __m128i second = _mm_loadu_si128(pixels + 1);
    const __m128i blueAlpha = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(first), _mm_castsi128_ps(second), _MM_SHUFFLE(3, 1, 3, 1)));
    const __m128i redGreen = _mm_or_si128(mean[0], _mm_slli_epi32(mean[1], 16));
    const __m128i newBlueAlpha = _mm_or_si128(mean[2], _mm_and_si128(blueAlpha, alphaMask));
    _mm_storeu_si128(pixels, _mm_unpacklo_epi32(redGreen, newBlueAlpha));
    _mm_storeu_si128(pixels + 1, _mm_unpackhi_epi32(redGreen, newBlueAlpha));
  }
  return i;
}

#endif  // __SSE2__

#if defined(KESTRION_AVX2_LOOPS)

// Whether the processor (and the system, which must save its registers)
// supports the eight-at-a-time loops.
inline bool ProcessorHasAvx2() { return __builtin_cpu_supports("avx2"); }

#define KESTRION_AVX2 __attribute__((target("avx2")))

KESTRION_AVX2 inline __m256i Load8(const uint32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The windows of the run eight at a time, as far as they come in eights;
// returns how many were done. The arithmetic of MeanRunInFours on 256-bit
// vectors: a 32-bit sum s becomes a double as (s - 2^31 as a signed
// integer) + 2^31, which is exact.
template <RunShape shape>
KESTRION_AVX2 int32_t MeanRunInEights(const WindowRun<uint32_t>& run) {
  const __m256i alphaMask = _mm256_set1_epi32(static_cast<int32_t>(0xFFFF0000u));
  const __m256i signBit = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
  const __m256d two31 = _mm256_set1_pd(2147483648.0);
  const __m256d shared = _mm256_set1_pd(run.reciprocals[0]);
  const EdgeColumns edges(run, shape);
  __m256i fixedLeft[CHANNELS];
  __m256i fixedRight[CHANNELS];
  for (size_t c = 0; c < CHANNELS; ++c) {
    fixedLeft[c] = _mm256_set1_epi32(static_cast<int32_t>(edges.left[c]));
    fixedRight[c] = _mm256_set1_epi32(static_cast<int32_t>(edges.right[c]));
  }
  int32_t i = 0;
  for (; i + 8 <= run.count; i += 8) {
    if (run.ahead) {
      _mm_prefetch(reinterpret_cast<const char*>(run.ahead + i), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(run.ahead + i + 4), _MM_HINT_T0);
    }
    __m256d reciprocalsLow = shared;
    __m256d reciprocalsHigh = shared;
    if constexpr (!shape.sharedReciprocal) {
      reciprocalsLow = _mm256_loadu_pd(run.reciprocals + i);
      reciprocalsHigh = _mm256_loadu_pd(run.reciprocals + i + 4);
    }
    // Means of windows 0 .. 7 in the lane order 0 1 4 5 2 3 6 7, the order
    // in which the pixels' words are interleaved below.
    __m256i mean[CHANNELS];
    for (size_t c = 0; c < CHANNELS; ++c) {
      const uint32_t* a = run.above + c * run.planeStride + i;
      const uint32_t* b = run.below + c * run.planeStride + i;
      __m256i right = fixedRight[c];
      __m256i left = fixedLeft[c];
      if constexpr (shape.rightMoves) {
        right = _mm256_sub_epi32(Load8(b + run.right), Load8(a + run.right));
      }
      if constexpr (shape.leftMoves) {
        left = _mm256_sub_epi32(Load8(b + run.left), Load8(a + run.left));
      }
      const __m256i offset = _mm256_xor_si256(_mm256_sub_epi32(right, left), signBit);
      const __m256d low = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(offset)), two31);
      const __m256d high =
          _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(offset, 1)), two31);
      const __m128i lowMeans = _mm256_cvttpd_epi32(_mm256_mul_pd(low, reciprocalsLow));
      const __m128i highMeans = _mm256_cvttpd_epi32(_mm256_mul_pd(high, reciprocalsHigh));
      mean[c] =
          _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(lowMeans, highMeans)),
                                  _mm_unpackhi_epi64(lowMeans, highMeans), 1);
    }
    // Pixels 0 .. 3 and 4 .. 7 as the 32-bit words (r | g << 16) and
    // (b | a << 16); the (b | a << 16) words gathered from both come out in
    // the order 0 1 4 5 2 3 6 7, and interleaving words in that order with
    // the means gives the pixels back in their own order.
    __m256i* pixels = reinterpret_cast<__m256i*>(run.out + i);
    const __m256i first = _mm256_loadu_si256(pixels);
    const __m256i second = _mm256_loadu_si256(pixels + 1);
    const __m256i blueAlpha = _mm256_castps_si256(_mm256_shuffle_ps(
        _mm256_castsi256_ps(first), _mm256_castsi256_ps(second), _MM_SHUFFLE(3, 1, 3, 1)));
    const __m256i redGreen = _mm256_or_si256(mean[0], _mm256_slli_epi32(mean[1], 16));
    const __m256i newBlueAlpha = _mm256_or_si256(mean[2], _mm256_and_si256(blueAlpha, alphaMask));
    _mm256_storeu_si256(pixels, _mm256_unpacklo_epi32(redGreen, newBlueAlpha));
    _mm256_storeu_si256(pixels + 1, _mm256_unpackhi_epi32(redGreen, newBlueAlpha));
  }
  return i;
}

#undef KESTRION_AVX2

#endif  // KESTRION_AVX2_LOOPS

// The end of the run of equal radii that starts at radii[from]: the first
// index after `from` whose radius differs, or `count`.
inline int32_t RunEnd(const int32_t* radii, int32_t from, int32_t count) {
  const int32_t radius = radii[from];
  int32_t end = from + 1;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi32(radius);
  for (; end + 4 <= count; end += 4) {
    const __m128i equal =
        _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(radii + end)), wanted);
    const int mask = _mm_movemask_ps(_mm_castsi128_ps(equal));
    if (mask != 0xF) return end + __builtin_ctz(~mask);
  }
#endif
  while (end < count && radii[end] == radius) ++end;
  return end;
}

// The means of a run of windows: in eights where `avx2` allows (the caller
// has checked ProcessorHasAvx2()), in fours where SSE2 serves the table,
// the rest one by one.
template <typename Sum, RunShape shape>
void MeanRun(const WindowRun<Sum>& run, [[maybe_unused]] bool avx2) {
  if constexpr (std::is_same_v<Sum, uint32_t>) {
#if defined(KESTRION_AVX2_LOOPS)
    if (avx2 && run.count >= 8) {
      const int32_t done = MeanRunInEights<shape>(run);
      if (done < run.count) MeanRun<Sum, shape>(run.template After<shape>(done), false);
      return;
    }
#endif
#if defined(__SSE2__)
    const int32_t done = MeanRunInFours<shape>(run);
    if (done > 0) {
      if (done < run.count) PlainMeanRun<Sum, shape>(run.template After<shape>(done));
      return;
    }
#endif
  }
  PlainMeanRun<Sum, shape>(run);
}

}  // namespace window_runs
