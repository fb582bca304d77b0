// ray_geometry.h: the vector arithmetic and ray intersections of the demo
// ray caster. A ray is origin + t * direction; the direction need not be of
// unit length, and t is measured in multiples of it.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace kestrion {

struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  float operator[](int axis) const { return axis == 0 ? x : axis == 1 ? y : z; }
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(Vec3 a, Vec3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Normalize(Vec3 a) { return a * (1.0f / std::sqrt(Dot(a, a))); }
inline Vec3 Mix(Vec3 a, Vec3 b, float t) { return a * (1.0f - t) + b * t; }

struct Ray {
  Vec3 origin;
  Vec3 direction;
  Vec3 At(float t) const { return origin + direction * t; }
};

struct SurfaceHit {
  float t;
  Vec3 normal;  // unit length, facing the ray
};

// Hits nearer than this are the surface a ray starts from.
constexpr float HIT_EPSILON = 1.0e-4f;

inline std::optional<SurfaceHit> HitSphere(const Ray& ray, Vec3 centre, float radius) {
  const Vec3 oc = ray.origin - centre;
  const float a = Dot(ray.direction, ray.direction);
  const float b = Dot(oc, ray.direction);
  const float c = Dot(oc, oc) - radius * radius;
  const float discriminant = b * b - a * c;
  if (discriminant < 0.0f) return std::nullopt;
  const float root = std::sqrt(discriminant);
  float t = (-b - root) / a;
  if (t <= HIT_EPSILON) t = (-b + root) / a;
  if (t <= HIT_EPSILON) return std::nullopt;
  return SurfaceHit{t, (ray.At(t) - centre) * (1.0f / radius)};
}

// An axis-aligned box by its centre and half side (slab method).
inline std::optional<SurfaceHit> HitBox(const Ray& ray, Vec3 centre, float half) {
  float near = -std::numeric_limits<float>::infinity();
  float far = std::numeric_limits<float>::infinity();
  int nearAxis = 0;
  for (int axis = 0; axis < 3; ++axis) {
    const float o = ray.origin[axis] - centre[axis];
    const float d = ray.direction[axis];
    if (d == 0.0f) {
      if (std::fabs(o) > half) return std::nullopt;
      continue;
    }
    float t0 = (-half - o) / d;
    float t1 = (half - o) / d;
    if (t0 > t1) std::swap(t0, t1);
    if (t0 > near) {
      near = t0;
      nearAxis = axis;
    }
    far = std::min(far, t1);
  }
  if (near > far || near <= HIT_EPSILON) return std::nullopt;
  Vec3 normal;
  const float facing = ray.direction[nearAxis] > 0.0f ? -1.0f : 1.0f;
  (nearAxis == 0 ? normal.x : nearAxis == 1 ? normal.y : normal.z) = facing;
  return SurfaceHit{near, normal};
}

// The plane y = 0, seen from above.
inline std::optional<SurfaceHit> HitGround(const Ray& ray) {
  if (ray.direction.y >= 0.0f || ray.origin.y <= 0.0f) return std::nullopt;
  return SurfaceHit{-ray.origin.y / ray.direction.y, Vec3{0.0f, 1.0f, 0.0f}};
}

}  // namespace kestrion
