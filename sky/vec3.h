// Small double-precision vector and matrix types for the sky computations.
// Column vectors, as the astronomical literature writes them: a matrix M
// maps v to M v; Mul(A, B) applies B first, then A. (The host's Matrix3 uses
// row vectors; the sky keeps the textbook convention and hands out plain
// directions.)
#pragma once

#include <array>
#include <cmath>

namespace sky {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;  // rows

constexpr Vec3 operator+(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
constexpr Vec3 operator-(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
constexpr Vec3 operator*(double s, const Vec3& a) { return {s * a[0], s * a[1], s * a[2]}; }
constexpr double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
constexpr Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double Norm(const Vec3& a) { return std::sqrt(Dot(a, a)); }
inline Vec3 Normalized(const Vec3& a) { return (1.0 / Norm(a)) * a; }

constexpr Mat3 Identity3() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }
constexpr Vec3 Mul(const Mat3& m, const Vec3& v) { return {Dot(m[0], v), Dot(m[1], v), Dot(m[2], v)}; }
constexpr Vec3 MulTransposed(const Mat3& m, const Vec3& v) {
  return {m[0][0] * v[0] + m[1][0] * v[1] + m[2][0] * v[2], m[0][1] * v[0] + m[1][1] * v[1] + m[2][1] * v[2],
          m[0][2] * v[0] + m[1][2] * v[1] + m[2][2] * v[2]};
}
constexpr Mat3 Mul(const Mat3& a, const Mat3& b) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  return r;
}
constexpr Mat3 Transposed(const Mat3& m) {
  return {{{m[0][0], m[1][0], m[2][0]}, {m[0][1], m[1][1], m[2][1]}, {m[0][2], m[1][2], m[2][2]}}};
}

// Rotations of the reference frame (not of the vector) by angle a, radians,
// as the IAU's R1, R2, R3: a vector's components in the frame turned by +a
// about the axis. R3(a) = [[cos a, sin a, 0], [-sin a, cos a, 0], [0, 0, 1]].
inline Mat3 FrameRotationX(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return {{{1, 0, 0}, {0, c, s}, {0, -s, c}}};
}
inline Mat3 FrameRotationY(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return {{{c, 0, -s}, {0, 1, 0}, {s, 0, c}}};
}
inline Mat3 FrameRotationZ(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return {{{c, s, 0}, {-s, c, 0}, {0, 0, 1}}};
}

// Unit vector of spherical angles (longitude, latitude), radians.
inline Vec3 UnitVector(double longitude, double latitude) {
  const double cl = std::cos(latitude);
  return {cl * std::cos(longitude), cl * std::sin(longitude), std::sin(latitude)};
}

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kTwoPi = 2.0 * kPi;
inline constexpr double kDegToRad = kPi / 180.0;
inline constexpr double kArcsecToRad = kPi / (180.0 * 3600.0);
inline constexpr double kMasToRad = kArcsecToRad / 1000.0;

}  // namespace sky
