// window_runs.h: the inner loops of the window sums (render/window_sums.h):
// filling one row of the summed-area table, and the means of a run of
// windows that share their table rows and differ only by their column.
//
// A table row is three planes, r, g and b, each `planeStride` entries long.
// Pointers to a row point at its column 0 in the r plane; the g and b planes
// follow at planeStride and 2 * planeStride. Columns may be addressed from
// -pad to width + pad, where the row was filled with zeros on the left and
// copies of column `width` on the right, so that a window clipped at the
// left or right edge of the image reads the same entries as a clipped
// rectangle would (see WindowSums::Create for the pad).
//
// Every loop has a plain form; on x86 with SSE2 (the x86-64 baseline) the
// 32-bit table also has a four-windows-at-a-time form doing the very same
// arithmetic, so both give identical results. Only called from
// window_sums.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/types.h"
#include "render/window_sums.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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
// table relies on. The pads are filled too. `next` is the source row the
// next call will read (or `pixels` again): a row of the source is read
// once, from memory, so fetching the next one ahead while this one is
// summed hides most of the wait.
template <typename Sum>
void FillRow(const Sum* above, const BMM_Color_64* pixels, const BMM_Color_64* next, int32_t width,
             int32_t pad, size_t planeStride, Sum* out) {
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
  for (size_t c = 0; c < CHANNELS; ++c) {
    Sum* plane = out + c * planeStride;
    for (int32_t j = -pad; j <= 0; ++j) plane[j] = 0;
    for (int32_t j = 1; j <= pad; ++j) plane[width + j] = plane[width];
  }
}

// How a run's windows get 1 / their pixel count: one value for the whole
// run, or one per window.
enum class Reciprocals { SHARED, PER_WINDOW };

// A run of `count` windows whose sums lie between table rows `above` and
// `below`, window i between columns left + i and right + i (left < right).
// The means go to r, g, b of out[0 .. count - 1]; alpha is kept. `ahead`,
// when not null, is where the next row's run will write: it is fetched into
// the cache meanwhile.
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
  WindowRun After(int32_t n, Reciprocals kind) const {
    return {above,     below,     planeStride,
            left + n,  right + n, kind == Reciprocals::SHARED ? reciprocals : reciprocals + n,
            count - n, out + n,   ahead ? ahead + n : nullptr};
  }
};

template <typename Sum, Reciprocals kind>
void PlainMeanRun(const WindowRun<Sum>& run) {
  for (int32_t i = 0; i < run.count; ++i) {
    const double reciprocal = run.reciprocals[kind == Reciprocals::SHARED ? 0 : i];
    uint16_t mean[CHANNELS];
    for (size_t c = 0; c < CHANNELS; ++c) {
      const Sum* a = run.above + c * run.planeStride;
      const Sum* b = run.below + c * run.planeStride;
      const int32_t l = run.left + i;
      const int32_t r = run.right + i;
      mean[c] = TruncatedMean((b[r] - b[l]) - (a[r] - a[l]), reciprocal);
    }
    run.out[i].r = mean[0];
    run.out[i].g = mean[1];
    run.out[i].b = mean[2];
  }
}

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
template <Reciprocals kind>
int32_t MeanRunInFours(const WindowRun<uint32_t>& run) {
  const __m128i alphaMask = _mm_set1_epi32(static_cast<int32_t>(0xFFFF0000u));
  // Read once: the stores to the pixels below may not alias it.
  const __m128d shared = _mm_set1_pd(run.reciprocals[0]);
  int32_t i = 0;
  for (; i + 4 <= run.count; i += 4) {
    if (run.ahead) _mm_prefetch(reinterpret_cast<const char*>(run.ahead + i), _MM_HINT_T0);
    __m128d reciprocalsLow = shared;
    __m128d reciprocalsHigh = shared;
    if constexpr (kind == Reciprocals::PER_WINDOW) {
      reciprocalsLow = _mm_loadu_pd(run.reciprocals + i);
      reciprocalsHigh = _mm_loadu_pd(run.reciprocals + i + 2);
    }
    __m128i mean[CHANNELS];
    for (size_t c = 0; c < CHANNELS; ++c) {
      const uint32_t* a = run.above + c * run.planeStride + i;
      const uint32_t* b = run.below + c * run.planeStride + i;
      const __m128i sums = _mm_sub_epi32(_mm_sub_epi32(Load4(b + run.right), Load4(b + run.left)),
                                         _mm_sub_epi32(Load4(a + run.right), Load4(a + run.left)));
      mean[c] = Means4(sums, reciprocalsLow, reciprocalsHigh);
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

// The means of a run of windows: in fours where SSE2 serves the table, the
// rest one by one.
template <typename Sum, Reciprocals kind>
void MeanRun(const WindowRun<Sum>& run) {
  int32_t done = 0;
#if defined(__SSE2__)
  if constexpr (std::is_same_v<Sum, uint32_t>) done = MeanRunInFours<kind>(run);
#endif
  PlainMeanRun<Sum, kind>(done == 0 ? run : run.After(done, kind));
}

}  // namespace window_runs
