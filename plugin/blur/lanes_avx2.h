// lanes_avx2.h: eight 32-bit lanes with AVX2, for the vector loops of
// blur/window_means.h. Only for a translation unit compiled for AVX2
// (blur/loops_avx2.cpp), whose code runs only where the processor
// has it.
//
// The 256-bit unpacks and shuffles work within each 128-bit half, so the
// means and pixel words are kept in the lane order 0 1 4 5 2 3 6 7 of their
// windows: the order in which the words of pixels 0 .. 7 come out of
// BlueAlphaWords, and in which StorePixelWords puts them back.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "host/types.h"

namespace window_runs {

static_assert(sizeof(BMM_Color_64) == 8 && offsetof(BMM_Color_64, g) == 2 &&
              offsetof(BMM_Color_64, b) == 4 && offsetof(BMM_Color_64, a) == 6);

struct Avx2Lanes {
  static constexpr int32_t COUNT = 8;
  static constexpr bool MASKED_STORES = false;
  using U32 = __m256i;
  using F64 = __m256d;  // four windows' doubles

  static U32 Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const U32*>(p)); }
  static U32 Broadcast(uint32_t v) { return _mm256_set1_epi32(static_cast<int32_t>(v)); }
  static U32 Sub(U32 a, U32 b) { return _mm256_sub_epi32(a, b); }
  static U32 Or(U32 a, U32 b) { return _mm256_or_si256(a, b); }
  static U32 And(U32 a, U32 b) { return _mm256_and_si256(a, b); }
  static U32 ShiftLeft16(U32 a) { return _mm256_slli_epi32(a, 16); }
  static F64 LoadDoubles(const double* p) { return _mm256_loadu_pd(p); }
  static F64 BroadcastDouble(double v) { return _mm256_set1_pd(v); }
  // Eight pixels are one cache line long: one fetch for each eight pixels
  // of a row meets every line of it.
  static void Prefetch(const BMM_Color_64* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  }

  // A 32-bit sum s becomes a double exactly as (s - 2^31, a signed integer)
  // + 2^31, or, below 2^31, as the signed integer it is. The means come out
  // in the lane order 0 1 4 5 2 3 6 7.
  template <bool signedSums>
  static U32 TruncatedMeans(U32 sums, F64 low, F64 high) {
    F64 sumsLow;
    F64 sumsHigh;
    if constexpr (signedSums) {
      sumsLow = _mm256_cvtepi32_pd(_mm256_castsi256_si128(sums));
      sumsHigh = _mm256_cvtepi32_pd(_mm256_extracti128_si256(sums, 1));
    } else {
      constexpr uint32_t SIGN_BIT = 0x80000000u;
      const U32 offsetSums = _mm256_xor_si256(sums, Broadcast(SIGN_BIT));
      const F64 offset = _mm256_set1_pd(0x1p31);
      sumsLow = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(offsetSums)), offset);
      sumsHigh = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(offsetSums, 1)), offset);
    }
    const __m128i meansLow = _mm256_cvttpd_epi32(_mm256_mul_pd(sumsLow, low));
    const __m128i meansHigh = _mm256_cvttpd_epi32(_mm256_mul_pd(sumsHigh, high));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(meansLow, meansHigh)),
                                   _mm_unpackhi_epi64(meansLow, meansHigh), 1);
  }

  // The (b | a << 16) words of eight pixels, in the lane order 0 1 4 5 2 3 6 7.
  static U32 BlueAlphaWords(const BMM_Color_64* p) {
    const U32 first = _mm256_loadu_si256(reinterpret_cast<const U32*>(p));
    const U32 second = _mm256_loadu_si256(reinterpret_cast<const U32*>(p) + 1);
    return _mm256_castps_si256(_mm256_shuffle_ps(
        _mm256_castsi256_ps(first), _mm256_castsi256_ps(second), _MM_SHUFFLE(3, 1, 3, 1)));
  }
  // Interleaving words in the lane order 0 1 4 5 2 3 6 7 gives the pixels
  // back in their own order.
  static void StorePixelWords(BMM_Color_64* p, U32 redGreen, U32 blueAlpha) {
    U32* out = reinterpret_cast<U32*>(p);
    _mm256_storeu_si256(out, _mm256_unpacklo_epi32(redGreen, blueAlpha));
    _mm256_storeu_si256(out + 1, _mm256_unpackhi_epi32(redGreen, blueAlpha));
  }

  // For the radius rows (blur/radius_lanes.h), in the lanes' own order.
  using F32 = __m256;
  static F32 LoadFloats(const float* p) { return _mm256_loadu_ps(p); }
  static void PrefetchFloats(const float* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  }
  static F32 BroadcastFloat(float v) { return _mm256_set1_ps(v); }
  // Masks are vectors of lanes all ones or all zeros.
  using Mask = U32;
  static Mask Greater(F32 a, F32 b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ)); }
  static F64 LowDoubles(F32 v) { return _mm256_cvtps_pd(_mm256_castps256_ps128(v)); }
  static F64 HighDoubles(F32 v) { return _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)); }
  static F64 Add(F64 a, F64 b) { return _mm256_add_pd(a, b); }
  static F64 Mul(F64 a, F64 b) { return _mm256_mul_pd(a, b); }
  static F64 Div(F64 a, F64 b) { return _mm256_div_pd(a, b); }
  static F64 AndNot(F64 a, F64 b) { return _mm256_andnot_pd(a, b); }
  // a < b ? a : b and a > b ? a : b, lane by lane: b when either is NaN.
  static F64 Min(F64 a, F64 b) { return _mm256_min_pd(a, b); }
  static F64 Max(F64 a, F64 b) { return _mm256_max_pd(a, b); }
  // The truncated integers of two halves, each within the int32 range.
  static U32 Truncate(F64 low, F64 high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm256_cvttpd_epi32(low)),
                                   _mm256_cvttpd_epi32(high), 1);
  }
  // The same on the floats themselves, for the single-precision estimate.
  static F32 Add(F32 a, F32 b) { return _mm256_add_ps(a, b); }
  static F32 Mul(F32 a, F32 b) { return _mm256_mul_ps(a, b); }
  static F32 AndNot(F32 a, F32 b) { return _mm256_andnot_ps(a, b); }
  static F32 Min(F32 a, F32 b) { return _mm256_min_ps(a, b); }
  static F32 Max(F32 a, F32 b) { return _mm256_max_ps(a, b); }
  static U32 Truncate(F32 v) { return _mm256_cvttps_epi32(v); }
  static Mask Equal(U32 a, U32 b) { return _mm256_cmpeq_epi32(a, b); }
  static U32 Select(Mask mask, U32 a, U32 b) { return _mm256_blendv_epi8(b, a, mask); }
  // Whether `mask` is set in every lane where `where` is.
  static bool AllWhere(Mask where, Mask mask) {
    return (_mm256_movemask_epi8(mask) | ~_mm256_movemask_epi8(where)) == -1;
  }
  static void Store(int32_t* p, U32 v) { _mm256_storeu_si256(reinterpret_cast<U32*>(p), v); }
};

}  // namespace window_runs
