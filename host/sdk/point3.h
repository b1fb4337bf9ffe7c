// Point3: a 3D point or vector of single-precision floats. Points are row
// vectors throughout the host (see Matrix3).
#pragma once

#include <cmath>

class Point3 {
 public:
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  static const Point3 Origin;

  constexpr Point3() = default;
  constexpr Point3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  constexpr float& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
  constexpr float operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }

  constexpr Point3 operator+(const Point3& b) const { return {x + b.x, y + b.y, z + b.z}; }
  constexpr Point3 operator-(const Point3& b) const { return {x - b.x, y - b.y, z - b.z}; }
  constexpr Point3 operator-() const { return {-x, -y, -z}; }
  constexpr Point3 operator*(float f) const { return {x * f, y * f, z * f}; }
  constexpr Point3& operator+=(const Point3& b) { x += b.x; y += b.y; z += b.z; return *this; }
  constexpr bool operator==(const Point3&) const = default;

  // Euclidean length, in single precision.
  float Length() const { return std::sqrt(x * x + y * y + z * z); }
};

inline constexpr Point3 Point3::Origin{0.0f, 0.0f, 0.0f};

inline float Length(const Point3& p) { return p.Length(); }
inline constexpr float DotProd(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline constexpr Point3 CrossProd(const Point3& a, const Point3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
