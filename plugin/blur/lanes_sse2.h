// lanes_sse2.h: four 32-bit lanes with SSE2 (the x86-64 baseline), for the
// vector loops of blur/window_means.h. Lane k of every vector belongs to
// window (or pixel) k of the four.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "host/types.h"

namespace window_runs {

// Pixels are read and written as 32-bit words (x86 is little-endian).
static_assert(sizeof(BMM_Color_64) == 8 && offsetof(BMM_Color_64, g) == 2 &&
              offsetof(BMM_Color_64, b) == 4 && offsetof(BMM_Color_64, a) == 6);

struct Sse2Lanes {
  static constexpr int32_t COUNT = 4;
  static constexpr bool MASKED_STORES = false;
  using U32 = __m128i;
  using F64 = __m128d;  // two windows' doubles

  static U32 Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const U32*>(p)); }
  static U32 Broadcast(uint32_t v) { return _mm_set1_epi32(static_cast<int32_t>(v)); }
  static U32 Sub(U32 a, U32 b) { return _mm_sub_epi32(a, b); }
  static U32 Or(U32 a, U32 b) { return _mm_or_si128(a, b); }
  static U32 And(U32 a, U32 b) { return _mm_and_si128(a, b); }
  static U32 ShiftLeft16(U32 a) { return _mm_slli_epi32(a, 16); }
  static F64 LoadDoubles(const double* p) { return _mm_loadu_pd(p); }
  static F64 BroadcastDouble(double v) { return _mm_set1_pd(v); }
  static void Prefetch(const BMM_Color_64* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  }

  // A 32-bit sum s becomes a double exactly as the bits of 2^52 + s (s under
  // the exponent of 2^52) minus 2^52, which costs no more for sums below
  // 2^31.
  template <bool signedSums>
  static U32 TruncatedMeans(U32 sums, F64 low, F64 high) {
    constexpr int32_t EXPONENT_OF_2_TO_52 = 0x43300000;  // high word of 0x1p52
    const U32 exponent = _mm_set1_epi32(EXPONENT_OF_2_TO_52);
    const F64 offset = _mm_set1_pd(0x1p52);
    const F64 sumsLow = _mm_sub_pd(_mm_castsi128_pd(_mm_unpacklo_epi32(sums, exponent)), offset);
    const F64 sumsHigh = _mm_sub_pd(_mm_castsi128_pd(_mm_unpackhi_epi32(sums, exponent)), offset);
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(sumsLow, low)),
                              _mm_cvttpd_epi32(_mm_mul_pd(sumsHigh, high)));
  }

  // The (b | a << 16) words of four pixels.
  static U32 BlueAlphaWords(const BMM_Color_64* p) {
    const U32 first = _mm_loadu_si128(reinterpret_cast<const U32*>(p));
    const U32 second = _mm_loadu_si128(reinterpret_cast<const U32*>(p) + 1);
    return _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(first), _mm_castsi128_ps(second), _MM_SHUFFLE(3, 1, 3, 1)));
  }
  static void StorePixelWords(BMM_Color_64* p, U32 redGreen, U32 blueAlpha) {
    U32* out = reinterpret_cast<U32*>(p);
    _mm_storeu_si128(out, _mm_unpacklo_epi32(redGreen, blueAlpha));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(redGreen, blueAlpha));
  }

  // For the radius rows (blur/radius_lanes.h): COUNT floats, their doubles
  // in two halves, and the lane-wise operations the rule needs.
  using F32 = __m128;
  static F32 LoadFloats(const float* p) { return _mm_loadu_ps(p); }
  static void PrefetchFloats(const float* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  }
  static F32 BroadcastFloat(float v) { return _mm_set1_ps(v); }
  // Masks are vectors of lanes all ones or all zeros.
  using Mask = U32;
  static Mask Greater(F32 a, F32 b) { return _mm_castps_si128(_mm_cmpgt_ps(a, b)); }
  static F64 LowDoubles(F32 v) { return _mm_cvtps_pd(v); }
  static F64 HighDoubles(F32 v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
  static F64 Add(F64 a, F64 b) { return _mm_add_pd(a, b); }
  static F64 Mul(F64 a, F64 b) { return _mm_mul_pd(a, b); }
  static F64 Div(F64 a, F64 b) { return _mm_div_pd(a, b); }
  static F64 AndNot(F64 a, F64 b) { return _mm_andnot_pd(a, b); }
  // a < b ? a : b and a > b ? a : b, lane by lane: b when either is NaN.
  static F64 Min(F64 a, F64 b) { return _mm_min_pd(a, b); }
  static F64 Max(F64 a, F64 b) { return _mm_max_pd(a, b); }
  // The truncated integers of two halves, each within the int32 range.
  static U32 Truncate(F64 low, F64 high) {
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
  }
  // The same on the floats themselves, for the single-precision estimate.
  static F32 Add(F32 a, F32 b) { return _mm_add_ps(a, b); }
  static F32 Mul(F32 a, F32 b) { return _mm_mul_ps(a, b); }
  static F32 AndNot(F32 a, F32 b) { return _mm_andnot_ps(a, b); }
  static F32 Min(F32 a, F32 b) { return _mm_min_ps(a, b); }
  static F32 Max(F32 a, F32 b) { return _mm_max_ps(a, b); }
  static U32 Truncate(F32 v) { return _mm_cvttps_epi32(v); }
  static Mask Equal(U32 a, U32 b) { return _mm_cmpeq_epi32(a, b); }
  static U32 Select(Mask mask, U32 a, U32 b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  }
  // Whether `mask` is set in every lane where `where` is.
  static bool AllWhere(Mask where, Mask mask) {
    return (_mm_movemask_epi8(mask) | ~_mm_movemask_epi8(where)) == -1;
  }
  static void Store(int32_t* p, U32 v) { _mm_storeu_si128(reinterpret_cast<U32*>(p), v); }
};

}  // namespace window_runs
