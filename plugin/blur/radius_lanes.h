// radius_lanes.h: the radii of a row of pixels several at a time, written
// once over a vector type `Lanes` (four lanes with SSE2, blur/lanes_sse2.h;
// eight with AVX2, blur/lanes_avx2.h), with exactly BlurRadius's result
// (blur/radius_rule.h) for every pixel.
//
// The rule's quotient is (distance * size) / range in double, and the
// division is what a row of radii costs most. Here the quotient is
// estimated instead, and the radius taken at the estimate made a little
// smaller and a little larger; where both agree, that is the radius. The
// estimate is made in single precision, all COUNT lanes in one vector, where
// the rule allows it, else in double precision, in two halves; the division
// is made only for the vectors with a lane where the estimate does not
// decide (a quotient within a hair of a whole number, as at exactly the
// range's multiples).
//
// Why the double estimate is exact: let u = 2^-53 and E = fl(fl(distance *
// size) / range) the rule's quotient. The estimate is q = distance * scale
// (scale = size / range), taken at q * (1 - 2^-48) and q * (1 + 2^-48).
// Each of E, scale and q is one or two correctly rounded operations on the
// same exact product distance * size / range, none of which overflows or
// falls below the normal range (distance is below 2^129, size and range are
// floats with size >= 2^-149, so scale lies between 2^-277 and 2^277, and q
// and E are 0 or between 2^-426 and 2^406), so E / q lies within 1 +- 4.01u.
// The two products lie outside that band on either side (q * (1 -+ 2^-48)
// rounded moves at most u further), so E lies between them. The radius,
// trunc(E) held to 0 .. cap, never falls as its argument grows; so where it
// is the same at both ends it is the same at E. A NaN or infinite q comes
// only with an E of the same kind, which gives the same radius (0 for NaN;
// held to the cap or to 0).
//
// Why the single estimate is exact: let v = 2^-24. It is made only where
// the focal depth is a finite float and scale, rounded to a float, is a
// normal float; it is qf = fl(d * s) with d = fl(|z + focal|) and s =
// fl(scale), all in single precision, taken at qf * (1 - 2^-20) and qf *
// (1 + 2^-20). Where d is finite and qf normal, qf is three roundings to
// single and one to double away from the exact quotient Q, so qf / Q lies
// within 1 +- 3.01v, and E / Q within 1 +- 3.01u; the two products, one
// more rounding each, lie beyond 1 -+ 12v of Q, so E lies between them and
// the argument above applies. A qf below the normal range comes only with
// a Q below 2^-125, whose E gives radius 0, as both ends do. An infinite qf
// comes either with a finite d and a Q above 2^127, or with an infinite d,
// an exact distance above the largest float and so above |range|, whose
// quotient exceeds size; either lies beyond every cap (at most size), where
// E gives the cap too, or below 0 for a negative range, where both give 0.
//
// A range of 0 has no quotient: its rows are left to the plain loop.
// Included only by the translation units that instantiate it for one Lanes.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "blur/radius_rule.h"

namespace window_runs {

// The radii of z[0 .. count - 1] as far as they come in whole vectors;
// returns how many were done. The rest is left to the caller. `ahead` is
// the next row's z (or z again), fetched into the cache meanwhile.
template <typename Lanes>
int32_t VectorRadii(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii,
                    const float* ahead) {
  using U32 = typename Lanes::U32;
  using F64 = typename Lanes::F64;
  using F32 = typename Lanes::F32;
  constexpr int32_t COUNT = Lanes::COUNT;
  if (rule.rangeIsZero) return 0;
  const F32 background = Lanes::BroadcastFloat(Z_BACKGROUND);
  const F64 focal = Lanes::BroadcastDouble(rule.focal);
  const F64 scale = Lanes::BroadcastDouble(rule.scale);
  const F64 size = Lanes::BroadcastDouble(rule.size);
  const F64 range = Lanes::BroadcastDouble(rule.range);
  const F64 cap = Lanes::BroadcastDouble(rule.cap);
  const F64 zero = Lanes::BroadcastDouble(0.0);
  const F64 sign = Lanes::BroadcastDouble(-0.0);
  const F64 below = Lanes::BroadcastDouble(1.0 - 0x1p-48);
  const F64 above = Lanes::BroadcastDouble(1.0 + 0x1p-48);
  const U32 full = Lanes::Broadcast(static_cast<uint32_t>(rule.full));
  // trunc(quotient) held to 0 .. cap, NaN as 0, exactly as BlurRadius
  // holds it.
  auto radius = [&](F64 low, F64 high) {
    return Lanes::Truncate(Lanes::Max(Lanes::Min(cap, low), zero),
                           Lanes::Max(Lanes::Min(cap, high), zero));
  };
  // The single-precision estimate, where the rule allows it (see above).
  const bool focalInRange = std::fabs(rule.focal) <= FLT_MAX;  // false for NaN
  const float focalFloat = focalInRange ? static_cast<float>(rule.focal) : 0.0f;
  const bool floatEstimate = std::fabs(rule.scale) >= FLT_MIN && std::fabs(rule.scale) <= FLT_MAX &&
                             focalInRange && focalFloat == rule.focal;
  const float scaleFloat = floatEstimate ? static_cast<float>(rule.scale) : 0.0f;
  const F32 focalF = Lanes::BroadcastFloat(focalFloat);
  const F32 scaleF = Lanes::BroadcastFloat(scaleFloat);
  const F32 capF = Lanes::BroadcastFloat(floatEstimate ? static_cast<float>(rule.cap) : 0.0f);
  const F32 zeroF = Lanes::BroadcastFloat(0.0f);
  const F32 signF = Lanes::BroadcastFloat(-0.0f);
  const F32 belowF = Lanes::BroadcastFloat(1.0f - 0x1p-20f);
  const F32 aboveF = Lanes::BroadcastFloat(1.0f + 0x1p-20f);
  auto radiusF = [&](F32 quotient) {
    return Lanes::Truncate(Lanes::Max(Lanes::Min(capF, quotient), zeroF));
  };
  // |z + focal|: the rule's distance |(-z) - focal|.
  auto distanceOf = [&](F64 depth) { return Lanes::AndNot(sign, Lanes::Add(depth, focal)); };
  int32_t i = 0;
  for (; i + COUNT <= count; i += COUNT) {
    Lanes::PrefetchFloats(ahead + i);
    const F32 depth = Lanes::LoadFloats(z + i);
    const typename Lanes::Mask geometry = Lanes::Greater(depth, background);
    U32 r;
    typename Lanes::Mask agree;
    if (floatEstimate) {
      const F32 distance = Lanes::AndNot(signF, Lanes::Add(depth, focalF));
      const F32 quotient = Lanes::Mul(distance, scaleF);
      r = radiusF(Lanes::Mul(quotient, belowF));
      agree = Lanes::Equal(r, radiusF(Lanes::Mul(quotient, aboveF)));
    } else {
      const F64 low = Lanes::Mul(distanceOf(Lanes::LowDoubles(depth)), scale);
      const F64 high = Lanes::Mul(distanceOf(Lanes::HighDoubles(depth)), scale);
      r = radius(Lanes::Mul(low, below), Lanes::Mul(high, below));
      agree = Lanes::Equal(r, radius(Lanes::Mul(low, above), Lanes::Mul(high, above)));
    }
    // Background lanes take the full radius whatever their quotient.
    if (!Lanes::AllWhere(geometry, agree)) {
      r = radius(Lanes::Div(Lanes::Mul(distanceOf(Lanes::LowDoubles(depth)), size), range),
                 Lanes::Div(Lanes::Mul(distanceOf(Lanes::HighDoubles(depth)), size), range));
    }
    Lanes::Store(radii + i, Lanes::Select(geometry, r, full));
  }
  return i;
}

}  // namespace window_runs
