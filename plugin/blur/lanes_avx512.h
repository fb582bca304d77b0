// lanes_avx512.h: sixteen 32-bit lanes with AVX-512 (the F, BW and DQ
// subsets), for the vector loops of blur/window_means.h and
// blur/radius_lanes.h. Only for a translation unit compiled for AVX-512
// (blur/loops_avx512.cpp), whose code runs only where the processor has it.
//
// Lane k of every vector belongs to window (or pixel) k of the sixteen, as
// with SSE2 and unlike AVX2's order: the conversions between 32-bit
// integers and doubles here take a whole 256-bit half at a time. The means are written
// with a masked store that leaves each pixel's alpha word alone, so the
// pixels are never read.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "host/types.h"

namespace window_runs {

static_assert(sizeof(BMM_Color_64) == 8 && offsetof(BMM_Color_64, g) == 2 &&
              offsetof(BMM_Color_64, b) == 4 && offsetof(BMM_Color_64, a) == 6);

struct Avx512Lanes {
  static constexpr int32_t COUNT = 16;
  // StoreMeans writes r, g and b without reading the pixels.
  static constexpr bool MASKED_STORES = true;
  using U32 = __m512i;
  using F64 = __m512d;  // eight windows' doubles

  static U32 Load(const uint32_t* p) { return _mm512_loadu_si512(p); }
  static U32 Broadcast(uint32_t v) { return _mm512_set1_epi32(static_cast<int32_t>(v)); }
  static U32 Sub(U32 a, U32 b) { return _mm512_sub_epi32(a, b); }
  static F64 LoadDoubles(const double* p) { return _mm512_loadu_pd(p); }
  static F64 BroadcastDouble(double v) { return _mm512_set1_pd(v); }
  // Sixteen pixels are two cache lines long.
  static void Prefetch(const BMM_Color_64* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 8), _MM_HINT_T0);
  }

  // A 32-bit sum becomes a double exactly, unsigned or, below 2^31, signed:
  // the two conversions give the same double there.
  template <bool signedSums>
  static U32 TruncatedMeans(U32 sums, F64 low, F64 high) {
    const __m256i lowSums = _mm512_castsi512_si256(sums);
    const __m256i highSums = _mm512_extracti64x4_epi64(sums, 1);
    F64 sumsLow;
    F64 sumsHigh;
    if constexpr (signedSums) {
      sumsLow = _mm512_cvtepi32_pd(lowSums);
      sumsHigh = _mm512_cvtepi32_pd(highSums);
    } else {
      sumsLow = _mm512_cvtepu32_pd(lowSums);
      sumsHigh = _mm512_cvtepu32_pd(highSums);
    }
    const __m256i meansLow = _mm512_cvttpd_epi32(_mm512_mul_pd(sumsLow, low));
    const __m256i meansHigh = _mm512_cvttpd_epi32(_mm512_mul_pd(sumsHigh, high));
    return _mm512_inserti64x4(_mm512_castsi256_si512(meansLow), meansHigh, 1);
  }

  // The means r, g, b (each below 2^16) of sixteen pixels as their (r | g <<
  // 16) and (b) words, interleaved into pixel order, stored without the
  // alpha words.
  static void StoreMeans(BMM_Color_64* p, U32 r, U32 g, U32 b) {
    const U32 redGreen = _mm512_or_si512(r, _mm512_slli_epi32(g, 16));
    // Word 2k of a result is redGreen's lane k, word 2k + 1 blue's lane k
    // (index 16 + k: the second source).
    const U32 firstEight =
        _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const U32 secondEight =
        _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    constexpr __mmask32 RGB_WORDS = 0x77777777u;  // words 0, 1, 2 of each pixel's four
    _mm512_mask_storeu_epi16(p, RGB_WORDS, _mm512_permutex2var_epi32(redGreen, firstEight, b));
    _mm512_mask_storeu_epi16(p + 8, RGB_WORDS, _mm512_permutex2var_epi32(redGreen, secondEight, b));
  }

  // For the radius rows (blur/radius_lanes.h). Masks are the processor's
  // own mask registers, a bit a lane.
  using F32 = __m512;
  using Mask = __mmask16;
  static F32 LoadFloats(const float* p) { return _mm512_loadu_ps(p); }
  static void PrefetchFloats(const float* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  }
  static F32 BroadcastFloat(float v) { return _mm512_set1_ps(v); }
  static Mask Greater(F32 a, F32 b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
  static F64 LowDoubles(F32 v) { return _mm512_cvtps_pd(_mm512_castps512_ps256(v)); }
  static F64 HighDoubles(F32 v) {
    return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
  }
  static F64 Add(F64 a, F64 b) { return _mm512_add_pd(a, b); }
  static F64 Mul(F64 a, F64 b) { return _mm512_mul_pd(a, b); }
  static F64 Div(F64 a, F64 b) { return _mm512_div_pd(a, b); }
  static F64 AndNot(F64 a, F64 b) { return _mm512_andnot_pd(a, b); }
  // a < b ? a : b and a > b ? a : b, lane by lane: b when either is NaN.
  static F64 Min(F64 a, F64 b) { return _mm512_min_pd(a, b); }
  static F64 Max(F64 a, F64 b) { return _mm512_max_pd(a, b); }
  // The truncated integers of two halves, each within the int32 range.
  static U32 Truncate(F64 low, F64 high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(low)),
                              _mm512_cvttpd_epi32(high), 1);
  }
  static F32 Add(F32 a, F32 b) { return _mm512_add_ps(a, b); }
  static F32 Mul(F32 a, F32 b) { return _mm512_mul_ps(a, b); }
  static F32 AndNot(F32 a, F32 b) { return _mm512_andnot_ps(a, b); }
  static F32 Min(F32 a, F32 b) { return _mm512_min_ps(a, b); }
  static F32 Max(F32 a, F32 b) { return _mm512_max_ps(a, b); }
  static U32 Truncate(F32 v) { return _mm512_cvttps_epi32(v); }
  static Mask Equal(U32 a, U32 b) { return _mm512_cmpeq_epi32_mask(a, b); }
  static U32 Select(Mask mask, U32 a, U32 b) { return _mm512_mask_blend_epi32(mask, b, a); }
  // Whether `mask` is set in every lane where `where` is.
  static bool AllWhere(Mask where, Mask mask) {
    return static_cast<uint16_t>(mask | ~where) == 0xFFFF;
  }
  static void Store(int32_t* p, U32 v) { _mm512_storeu_si512(p, v); }
};

}  // namespace window_runs
