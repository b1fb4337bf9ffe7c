#include "matrix3.h"

#include <cmath>

bool Matrix3::Equals(const Matrix3& m, float epsilon) const {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c)
      if (!(std::fabs(rows_[r][c] - m.rows_[r][c]) <= epsilon)) return false;
  return true;
}

bool InverseChecked(const Matrix3& m, Matrix3& out) {
  const Point3& a = m.GetRow(0);
  const Point3& b = m.GetRow(1);
  const Point3& c = m.GetRow(2);
  // Rows of the 3x3 part are a, b, c; its inverse has the cofactors as columns.
  const Point3 bc = CrossProd(b, c);
  const Point3 ca = CrossProd(c, a);
  const Point3 ab = CrossProd(a, b);
  const float det = DotProd(a, bc);
  if (det == 0.0f || !std::isfinite(det)) {
    out = Matrix3();
    return false;
  }
  const float inv = 1.0f / det;
  Matrix3 r({bc.x * inv, ca.x * inv, ab.x * inv},
            {bc.y * inv, ca.y * inv, ab.y * inv},
            {bc.z * inv, ca.z * inv, ab.z * inv},
            {0, 0, 0});
  r.SetTrans(-r.VectorTransform(m.GetTrans()));
  out = r;
  return true;
}

Matrix3 Inverse(const Matrix3& m) {
  Matrix3 r;
  InverseChecked(m, r);
  return r;
}

Matrix3 RotateXMatrix(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return Matrix3({1, 0, 0}, {0, c, s}, {0, -s, c}, {0, 0, 0});
}

Matrix3 RotateYMatrix(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return Matrix3({c, 0, -s}, {0, 1, 0}, {s, 0, c}, {0, 0, 0});
}

Matrix3 RotateZMatrix(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return Matrix3({c, s, 0}, {-s, c, 0}, {0, 0, 1}, {0, 0, 0});
}

Matrix3 ScaleMatrix(const Point3& s) {
  return Matrix3({s.x, 0, 0}, {0, s.y, 0}, {0, 0, s.z}, {0, 0, 0});
}

Matrix3 TransMatrix(const Point3& t) {
  return Matrix3({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, t);
}
