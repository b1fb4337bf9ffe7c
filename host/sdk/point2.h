// Point2: a 2D point or vector of single-precision floats (screen pixels).
#pragma once

#include <cmath>

class Point2 {
 public:
  float x = 0.0f;
  float y = 0.0f;

  constexpr Point2() = default;
  constexpr Point2(float x_, float y_) : x(x_), y(y_) {}

  constexpr Point2 operator+(Point2 b) const { return {x + b.x, y + b.y}; }
  constexpr Point2 operator-(Point2 b) const { return {x - b.x, y - b.y}; }
  constexpr Point2 operator*(float f) const { return {x * f, y * f}; }
  constexpr bool operator==(const Point2&) const = default;
};

// Euclidean length, in single precision.
inline float Length(Point2 p) { return std::sqrt(p.x * p.x + p.y * p.y); }
