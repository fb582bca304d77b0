// window_runs.h: the inner loops of the window sums (blur/window_sums.h):
// filling one row of the summed-area table, finding the runs of equal radii,
// and the means of a run of windows (blur/window_run.h).
//
// Every loop has a plain form. Built with KESTRION_VECTOR_LOOPS on x86, the
// 32-bit table's loops also have vector forms: four windows at a time with
// SSE2 (the x86-64 baseline) and, where the build has the AVX2 and AVX-512
// translation units, eight at a time on processors with AVX2 and sixteen on
// those with AVX-512. The mean loops are one
// algorithm over either vector width (blur/window_means.h). All forms do
// the very same arithmetic, so they give identical results. Only included
// by window_sums.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "blur/window_run.h"
#include "blur/window_sums.h"
#include "host/types.h"

#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
#include <emmintrin.h>

#include "blur/lanes_sse2.h"
#include "blur/window_means.h"
#endif

namespace window_runs {

#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)

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

#endif

// Table row `out` = row `above` plus the running sums of the `width`
// source pixels; out[0] = 0. Unsigned arithmetic wraps, which the 32-bit
// table relies on. `next` is the source row the next call will read (or
// `pixels` again): a row of the source is read once, from memory, so
// fetching the next one ahead while this one is summed hides most of the
// wait.
template <typename Sum>
void FillRow(const Sum* above, const BMM_Color_64* pixels,
             [[maybe_unused]] const BMM_Color_64* next, int32_t width, size_t planeStride, Sum* out,
             [[maybe_unused]] MeanLoops loops) {
  Sum* outR = out;
  Sum* outG = out + planeStride;
  Sum* outB = out + 2 * planeStride;
  const Sum* aboveR = above;
  const Sum* aboveG = above + planeStride;
  const Sum* aboveB = above + 2 * planeStride;
  Sum sums[CHANNELS] = {0, 0, 0};
  int32_t x = 0;
  if constexpr (std::is_same_v<Sum, uint32_t>) {
#if defined(KESTRION_AVX512_LOOPS)
    if (loops == MeanLoops::Avx512) {
      x = FillRowAvx512(above, pixels, next, width, planeStride, out, sums);
    }
#endif
#if defined(KESTRION_AVX2_LOOPS)
    if (loops == MeanLoops::Avx2) {
      x = FillRowAvx2(above, pixels, next, width, planeStride, out, sums);
    }
#endif
#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
    if (loops == MeanLoops::Sse2) {
      x = FillRowInFours(above, pixels, next, width, planeStride, out, sums);
    }
#endif
  }
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

// The end of the run of equal radii that starts at radii[from]: the first
// index after `from` whose radius differs, or `count`.
inline int32_t RunEnd(const int32_t* radii, int32_t from, int32_t count,
                      [[maybe_unused]] MeanLoops loops) {
  const int32_t radius = radii[from];
  int32_t end = from + 1;
#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
  // Sixteen radii at a time: four comparisons packed into one mask of a
  // byte per radius.
  const __m128i wanted = _mm_set1_epi32(radius);
  auto equal = [&](int32_t at) {
    return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(radii + at)), wanted);
  };
  for (; loops != MeanLoops::Plain && end + 16 <= count; end += 16) {
    const __m128i words = _mm_packs_epi32(equal(end), equal(end + 4));
    const __m128i moreWords = _mm_packs_epi32(equal(end + 8), equal(end + 12));
    const int mask = _mm_movemask_epi8(_mm_packs_epi16(words, moreWords));
    if (mask != 0xFFFF) return end + __builtin_ctz(~mask);
  }
#endif
  while (end < count && radii[end] == radius) ++end;
  return end;
}

// The means of a run of windows: as many as come in sixteens with the
// AVX-512 loops, then in eights with the AVX2 ones, then in fours with the
// SSE2 ones, as `loops` allows; the rest one by one.
template <typename Sum, RunShape shape>
void MeanRun(const WindowRun<Sum>& run, [[maybe_unused]] MeanLoops loops) {
  int32_t done = 0;
  if constexpr (std::is_same_v<Sum, uint32_t>) {
#if defined(KESTRION_AVX512_LOOPS)
    if (loops == MeanLoops::Avx512) done = MeanWindowsAvx512<shape>(run);
#endif
#if defined(KESTRION_AVX2_LOOPS)
    if ((loops == MeanLoops::Avx512 || loops == MeanLoops::Avx2) && done < run.count) {
      done += MeanWindowsAvx2<shape>(done ? run.template After<shape>(done) : run);
    }
#endif
#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
    if (loops != MeanLoops::Plain && done < run.count) {
      done += MeanWindows<Sse2Lanes, shape>(done ? run.template After<shape>(done) : run);
    }
#endif
  }
  if (done == 0) {
    PlainMeanRun<Sum, shape>(run);
  } else if (done < run.count) {
    PlainMeanRun<Sum, shape>(run.template After<shape>(done));
  }
}

}  // namespace window_runs
