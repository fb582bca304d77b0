#include "host/types.h"

Matrix3 Matrix3::Identity() {
  Matrix3 r{};
  r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0f;
  return r;
}

Matrix3 Matrix3::Translation(const Point3& t) {
  Matrix3 r = Identity();
  r.SetRow(3, t);
  return r;
}

Point3 operator*(const Point3& p, const Matrix3& m) {
  return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
          p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
          p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

Matrix3 operator*(const Matrix3& a, const Matrix3& b) {
  Matrix3 r{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 3; ++j) {
      float v = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
      r.m[i][j] = i == 3 ? v + b.m[3][j] : v;
    }
  }
  return r;
}
