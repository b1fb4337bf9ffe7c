#include "raster/coverage.h"

#include <algorithm>
#include <cmath>

namespace raster {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Radii beyond this are summed in closed form (a disc of 4096 pixels covers
// 50 million of them; the sum is the integral to far better than 1e-6).
constexpr float kLargeRadius = 4096.0f;

bool Finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The rows of column X within `reach` of the line through a with unit
// direction (ux, uy), kept within lo..hi; false when there are none.
bool BandRows(double X, Point2 a, double ux, double uy, double reach, double lo, double hi, long& first,
              long& last) {
  // Distance to the line: |n . (p - a)| with n = (-uy, ux).
  const double nx = -uy, ny = ux;
  const double across = nx * (X - a.x);
  if (std::fabs(ny) < 1e-12) {
    if (std::fabs(across) > reach) return false;
  } else {
    const double y0 = a.y + (-reach - across) / ny;
    const double y1 = a.y + (reach - across) / ny;
    lo = std::max(lo, std::min(y0, y1));
    hi = std::min(hi, std::max(y0, y1));
  }
  if (!(lo <= hi)) return false;
  first = static_cast<long>(std::floor(lo));
  last = static_cast<long>(std::ceil(hi));
  return true;
}

// Calls f(p) for every pixel p within `reach` of the segment a..b (a
// superset of the pixels a call of radius reach - 1 covers), columns
// ascending.
template <class F>
void ForEachPixelNear(Point2 a, Point2 b, double reach, F&& f) {
  const double len = std::hypot(static_cast<double>(b.x) - a.x, static_cast<double>(b.y) - a.y);
  const double ux = len > 0.0 ? (static_cast<double>(b.x) - a.x) / len : 1.0;
  const double uy = len > 0.0 ? (static_cast<double>(b.y) - a.y) / len : 0.0;
  const long x0 = static_cast<long>(std::floor(std::min(a.x, b.x) - reach));
  const long x1 = static_cast<long>(std::ceil(std::max(a.x, b.x) + reach));
  const double ylo = std::min(a.y, b.y) - reach, yhi = std::max(a.y, b.y) + reach;
  for (long x = x0; x <= x1; ++x) {
    long first = 0, last = -1;
    if (!BandRows(static_cast<double>(x), a, ux, uy, reach, ylo, yhi, first, last)) continue;
    for (long y = first; y <= last; ++y) f(Point2(static_cast<float>(x), static_cast<float>(y)));
  }
}

}  // namespace

double DiscIntegral(double r) {
  if (!(r > 0.0)) return 0.0;
  if (r <= 1.0) return kPi * r * r * r / 3.0;
  return kPi * (r * r - r + 1.0 / 3.0);
}

double StreakWidthIntegral(double r) {
  if (!(r > 0.0)) return 0.0;
  return r <= 1.0 ? r * r : 2.0 * r - 1.0;
}

double DiscCoverage(Point2 c, float r) {
  if (!(r > 0.0f) || !Finite(c)) return 0.0;
  if (r > kLargeRadius) return DiscIntegral(r);
  const double reach = static_cast<double>(r) + 1.0;
  double sum = 0.0;
  const long x0 = static_cast<long>(std::floor(c.x - reach)), x1 = static_cast<long>(std::ceil(c.x + reach));
  for (long x = x0; x <= x1; ++x) {
    const double dx = static_cast<double>(x) - c.x;
    const double h2 = reach * reach - dx * dx;
    if (!(h2 > 0.0)) continue;
    const double h = std::sqrt(h2);
    for (long y = static_cast<long>(std::floor(c.y - h)), y1 = static_cast<long>(std::ceil(c.y + h)); y <= y1; ++y) {
      // As SplatPixel forms it.
      const float cov = r - Length(Point2(static_cast<float>(x), static_cast<float>(y)) - c);
      if (cov > 0.0f) sum += std::min(cov, 1.0f);
    }
  }
  return sum;
}

namespace {

enum class Nearest { kA, kBetween, kPastB };

// Where the segment a..b (unit direction u) comes nearest to pixel p, found
// as the drawing finds it (PrepareStreak's direction, the reference's
// projections): at a (q = a), between the ends (q on the segment), or at b
// or past it (q not set: the callers differ there).
Nearest NearestOnSegment(Point2 p, Point2 a, Point2 b, Point2 u, Point2& q) {
  const float alongA = (p.x - a.x) * u.x;
  const float alongB = (p.x - b.x) * u.x;
  const float t = alongA + (p.y - a.y) * u.y;
  if (t <= 0.0f) {
    q = a;
    return Nearest::kA;
  }
  if (alongB + (p.y - b.y) * u.y >= 0.0f) return Nearest::kPastB;
  q = a + u * t;
  return Nearest::kBetween;
}

}  // namespace

double CapsuleCoverage(Point2 a, Point2 b, float r) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return 0.0;
  const float length = Length(b - a);
  if (length == 0.0f) return DiscCoverage(a, r);
  if (length > kLongStreak || r > kLargeRadius) return length * StreakWidthIntegral(r) + DiscIntegral(r);
  const Point2 u = (b - a) * (1.0f / length);
  double sum = 0.0;
  ForEachPixelNear(a, b, static_cast<double>(r) + 1.0, [&](Point2 p) {
    Point2 q;
    if (NearestOnSegment(p, a, b, u, q) == Nearest::kPastB) q = b;
    const float cov = r - Length(p - q);
    if (cov > 0.0f) sum += std::min(cov, 1.0f);
  });
  return sum;
}

double TrailCoverage(Point2 a, Point2 b, float r) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return 0.0;
  const float length = Length(b - a);
  if (length == 0.0f) return 0.0;
  // The rounded end at a and the disc left out at b make up one disc less
  // half and half: the long form is the width alone.
  if (length > kLongStreak || r > kLargeRadius) return length * StreakWidthIntegral(r);
  const Point2 u = (b - a) * (1.0f / length);
  double sum = 0.0;
  ForEachPixelNear(a, b, static_cast<double>(r) + 1.0, [&](Point2 p) {
    Point2 q;
    // Beyond b the disc at b gives all the coverage.
    if (NearestOnSegment(p, a, b, u, q) == Nearest::kPastB) return;
    const float c1 = r - Length(p - q);
    if (!(c1 > 0.0f)) return;
    const float c2 = r - Length(p - b);
    if (!(c2 < 1.0f)) return;
    const float e = std::min(c1, 1.0f);
    sum += c2 > 0.0f ? e - c2 : e;
  });
  return sum;
}

}  // namespace raster
