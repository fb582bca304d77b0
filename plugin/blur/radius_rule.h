// radius_rule.h: the blur radius of a pixel from its Z value, once for one
// pixel (BlurRadius) and once for a row (BlurRadii), with the same result.
//
// With geometry (z > Z_BACKGROUND): trunc(|(-z) - focalDepth| * size /
// range), multiplied first and divided second, in double, capped at
// FullRadius. Without geometry (z <= Z_BACKGROUND, or a NaN z): FullRadius.
// A radius below 1, or not a number (0 * size / 0, a NaN size, focal depth
// or range), is 0: the pixel is left alone.
//
// A range of 0 is the limit of a shrinking range: a pixel exactly at the
// focal depth keeps its colour and every other pixel gets the full radius.
//
// Every radius is capped at the image's larger side, where a window covers
// the whole image from any pixel: every larger radius gives the same window.
// The cap and the choice between geometry and background are made on
// doubles, so no quotient, however large, infinite or NaN, reaches the
// conversion to int. Capping before truncating gives the same radius as
// truncating first, as the cap is whole.
#pragma once

#include <cmath>
#include <cstdint>

#include "host/bitmap.h"

// trunc(size) capped at `extent` (the image's larger side); NaN for a NaN
// size.
inline double SizeCap(float size, int32_t extent) {
  const double whole = std::trunc(static_cast<double>(size));
  return whole > extent ? extent : whole;  // NaN stays NaN
}

// The radius of a pixel without geometry, which no radius exceeds: the
// size's cap, 0 when that is below 1 or NaN.
inline int32_t FullRadius(float size, int32_t extent) {
  const double cap = SizeCap(size, extent);
  return cap >= 1.0 ? static_cast<int32_t>(cap) : 0;
}

// The blur's parameters as the radius computation uses them.
struct RadiusRule {
  RadiusRule(float focalDepth, float range, float size, int32_t extent)
      : focal(focalDepth),
        range(range),
        size(size),
        cap(SizeCap(size, extent)),
        full(FullRadius(size, extent)),
        rangeIsZero(range == 0.0f),
        scale(static_cast<double>(size) / range) {}

  double focal;
  double range;
  double size;
  double cap;  // SizeCap
  int32_t full;
  bool rangeIsZero;
  // size / range: distance * scale is the quotient to within a few units in
  // the last place, which the vector rows (blur/radius_lanes.h) use to
  // skip the division wherever that decides the radius.
  double scale;
};

// The radius of one pixel with Z value z. Written without branches, so that
// BlurRadii, which applies it to a row, is vectorised.
inline int32_t BlurRadius(const RadiusRule& rule, float z) {
  const double depth = z;
  // |(-z) - focal| as |z + focal|: negation is exact and rounding symmetric.
  const double distance = std::fabs(depth + rule.focal);
  // With range 0 the quotient is 0 at the focal depth and the full radius
  // elsewhere (also for a NaN distance).
  const double quotient =
      rule.rangeIsZero ? (distance == 0.0 ? 0.0 : rule.full) : (distance * rule.size) / rule.range;
  const double capped = rule.cap < quotient ? rule.cap : quotient;  // NaN stays NaN
  // A NaN or negative value becomes 0 here; one below 1 truncates to 0.
  const double radius = capped > 0.0 ? capped : 0.0;
  // Chosen before the conversion: radius and full are both in 0 .. extent.
  return static_cast<int32_t>(depth > Z_BACKGROUND ? radius : rule.full);
}

// The radii of `count` pixels from their Z values. The rule is copied, so
// that the compiler knows the stores to `radii` leave it alone and makes
// the choices that depend on it once per row.
inline void BlurRadii(const RadiusRule& rule, const float* z, int32_t count, int32_t* radii) {
  const RadiusRule local = rule;
  for (int32_t x = 0; x < count; ++x) radii[x] = BlurRadius(local, z[x]);
}
