// Matrix3: an affine transform of 4 rows x 3 columns, single precision.
//
// Rows 0-2 are the images of the X, Y and Z axes, row 3 the translation.
// Points are row vectors: PointTransform(p) = p.x*row0 + p.y*row1 + p.z*row2
// + row3. A * B applies A first, then B. A node's transform maps its local
// space to world.
#pragma once

#include "point3.h"

class Matrix3 {
 public:
  // Zero-initialised (the host's own default leaves the elements undefined;
  // nothing may rely on either).
  constexpr Matrix3() = default;
  constexpr Matrix3(const Point3& r0, const Point3& r1, const Point3& r2, const Point3& r3)
      : rows_{r0, r1, r2, r3} {}

  static constexpr Matrix3 Identity() {
    return Matrix3({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0});
  }

  constexpr void IdentityMatrix() { *this = Identity(); }
  // Clears the translation row.
  constexpr void NoTrans() { rows_[3] = Point3::Origin; }

  constexpr const Point3& GetRow(int i) const { return rows_[i]; }
  constexpr void SetRow(int i, const Point3& p) { rows_[i] = p; }
  constexpr const Point3& GetTrans() const { return rows_[3]; }
  constexpr void SetTrans(const Point3& p) { rows_[3] = p; }

  constexpr Point3 PointTransform(const Point3& p) const {
    return {p.x * rows_[0].x + p.y * rows_[1].x + p.z * rows_[2].x + rows_[3].x,
            p.x * rows_[0].y + p.y * rows_[1].y + p.z * rows_[2].y + rows_[3].y,
            p.x * rows_[0].z + p.y * rows_[1].z + p.z * rows_[2].z + rows_[3].z};
  }
  constexpr Point3 VectorTransform(const Point3& p) const {
    return {p.x * rows_[0].x + p.y * rows_[1].x + p.z * rows_[2].x,
            p.x * rows_[0].y + p.y * rows_[1].y + p.z * rows_[2].y,
            p.x * rows_[0].z + p.y * rows_[1].z + p.z * rows_[2].z};
  }

  // A * B: apply A, then B.
  constexpr Matrix3 operator*(const Matrix3& b) const {
    return Matrix3(b.VectorTransform(rows_[0]), b.VectorTransform(rows_[1]),
                   b.VectorTransform(rows_[2]), b.PointTransform(rows_[3]));
  }

  // True when every element differs by at most epsilon (absolute).
  bool Equals(const Matrix3& m, float epsilon = 1e-6f) const;

  constexpr bool operator==(const Matrix3&) const = default;

 private:
  Point3 rows_[4];
};

// Inverse of an affine transform. A singular matrix (determinant 0, or not
// finite) has no inverse: the result is then the zero matrix, which maps
// every point to the origin. Use InverseChecked to tell the cases apart.
Matrix3 Inverse(const Matrix3& m);
bool InverseChecked(const Matrix3& m, Matrix3& out);

// Rotation matrices (angles in radians, right-handed), scale and translation.
Matrix3 RotateXMatrix(float angle);
Matrix3 RotateYMatrix(float angle);
Matrix3 RotateZMatrix(float angle);
Matrix3 ScaleMatrix(const Point3& s);
Matrix3 TransMatrix(const Point3& t);
