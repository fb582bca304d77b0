// types.h: the value types shared by the host and the module.
#pragma once

#include <cstdint>

// A time in the host's ticks. A frame becomes a time by multiplying it by
// GetTicksPerFrame().
using TimeValue = int32_t;

constexpr TimeValue TIME_NEG_INFINITY = INT32_MIN;
constexpr TimeValue TIME_POS_INFINITY = INT32_MAX;

// A validity interval: the times [start, end] over which a value holds.
struct Interval {
  TimeValue start = TIME_NEG_INFINITY;
  TimeValue end = TIME_POS_INFINITY;

  Interval() = default;
  Interval(TimeValue s, TimeValue e) : start(s), end(e) {}
  void Set(TimeValue s, TimeValue e) {
    start = s;
    end = e;
  }
  bool operator==(const Interval&) const = default;
};

// The host's pixel: four unsigned 16-bit channels in the order r, g, b, a.
struct BMM_Color_64 {
  uint16_t r;
  uint16_t g;
  uint16_t b;
  uint16_t a;
  bool operator==(const BMM_Color_64&) const = default;
};
static_assert(sizeof(BMM_Color_64) == 8);

struct Point3 {
  float x;
  float y;
  float z;
  bool operator==(const Point3&) const = default;
};

// Four rows of three floats; the fourth row is the translation. Points are
// row vectors multiplied on the left: p * M.
struct Matrix3 {
  float m[4][3];

  static Matrix3 Identity();
  static Matrix3 Translation(const Point3& t);
  Point3 GetRow(int i) const { return {m[i][0], m[i][1], m[i][2]}; }
  void SetRow(int i, const Point3& p) {
    m[i][0] = p.x;
    m[i][1] = p.y;
    m[i][2] = p.z;
  }
  Point3 GetTrans() const { return GetRow(3); }
  bool operator==(const Matrix3&) const = default;
};

// p * M: (p.x, p.y, p.z, 1) times the 4 x 3 matrix.
Point3 operator*(const Point3& p, const Matrix3& m);
// The composition A * B: transforming by A, then by B.
Matrix3 operator*(const Matrix3& a, const Matrix3& b);

// Names one track on a track-view node: two unsigned 32-bit words.
struct TrackId {
  uint32_t first;
  uint32_t second;
  bool operator==(const TrackId&) const = default;
};
