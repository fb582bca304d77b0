// radius_lanes.h: the radii of a row of pixels several at a time, written
// once over a vector type `Lanes` (four lanes with SSE2, blur/lanes_sse2.h;
// eight with AVX2, blur/lanes_avx2.h), with exactly BlurRadius's result
// (blur/radius_rule.h) for every pixel.
//
// The rule's quotient is (distance * size) / range, and the division is
// what a row of radii costs most. Here the quotient is first estimated as
// q = distance * scale (scale = size / range) and the radius taken at
// q * (1 - 2^-48) and at q * (1 + 2^-48); where both agree, that is the
// radius, and the division is made only for the lanes of a vector where
// they do not (a quotient within a hair of a whole number, as at exactly
// the range's multiples).
//
// Why this is exact: let u = 2^-53 and E = fl(fl(distance * size) / range)
// the rule's quotient. Each of E, scale and q is one or two correctly
// rounded operations on the same exact product distance * size / range,
// none of which overflows or falls below the normal range (distance is
// below 2^129, size and range are floats with size >= 2^-149, so scale
// lies between 2^-277 and 2^277, and q and E are 0 or between 2^-426 and
// 2^406), so E / q lies
// within 1 +- 4.01u. The two products lie outside that band on either side
// (q * (1 -+ 2^-48) rounded moves at most u further), so E lies between
// them. The radius, trunc(E) held to 0 .. cap, never falls as its
// argument grows; so where it is the same at both ends it is the same at
// E. A NaN or infinite q comes only with an E of the same kind, which
// gives the same radius (0 for NaN; held to the cap or to 0).
//
// A range of 0 has no quotient: its rows are left to the plain loop.
// Included only by the translation units that instantiate it for one Lanes.
#pragma once

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
  int32_t i = 0;
  for (; i + COUNT <= count; i += COUNT) {
    Lanes::PrefetchFloats(ahead + i);
    const F32 depth = Lanes::LoadFloats(z + i);
    const U32 geometry = Lanes::Greater(depth, background);
    // |z + focal|: the rule's distance |(-z) - focal|.
    const F64 distanceLow = Lanes::AndNot(sign, Lanes::Add(Lanes::LowDoubles(depth), focal));
    const F64 distanceHigh = Lanes::AndNot(sign, Lanes::Add(Lanes::HighDoubles(depth), focal));
    const F64 low = Lanes::Mul(distanceLow, scale);
    const F64 high = Lanes::Mul(distanceHigh, scale);
    U32 r = radius(Lanes::Mul(low, below), Lanes::Mul(high, below));
    const U32 decided = Lanes::Equal(r, radius(Lanes::Mul(low, above), Lanes::Mul(high, above)));
    // Background lanes take the full radius whatever their quotient.
    if (!Lanes::AllSet(Lanes::Select(geometry, decided, Lanes::Broadcast(~0u)))) {
      r = radius(Lanes::Div(Lanes::Mul(distanceLow, size), range),
                 Lanes::Div(Lanes::Mul(distanceHigh, size), range));
    }
    Lanes::Store(radii + i, Lanes::Select(geometry, r, full));
  }
  return i;
}

}  // namespace window_runs
