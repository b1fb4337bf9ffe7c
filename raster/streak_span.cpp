#include "raster/streak_span.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Beyond this radius (pixels) spans are not worth bounding: the box column
// is used.
constexpr double kLargestBoundedRadius = 1e7;

}  // namespace

StreakSpan::StreakSpan(Point2 a, Point2 b, float r, int y0, int y1)
    : y0_(y0),
      y1_(y1),
      top_(y0),
      bottom_(y1),
      whole_(true),
      ax_(a.x),
      ay_(a.y),
      bx_(b.x),
      by_(b.y),
      rho2_(0) {
  for (Side& s : sides_) s = {INFINITY, 0.0, -INFINITY, 0.0, 0.0, 0.0};
  const double largest = std::max({std::fabs(ax_), std::fabs(ay_), std::fabs(bx_), std::fabs(by_), 1.0});
  if (!(static_cast<double>(r) <= kLargestBoundedRadius) || !(largest <= kLargestBoundedRadius)) return;
  // The loop's nearest point errs by about 1.5e-6 x the largest coordinate,
  // its Length by about 3e-7 x r: room is several times both.
  const double room = 0.02 + 1e-5 * static_cast<double>(r) + 1e-5 * largest;
  const double rho = static_cast<double>(r) + room;
  rho2_ = rho * rho;
  whole_ = false;

  const double dx = bx_ - ax_, dy = by_ - ay_, length = raster::SquareRoot(dx * dx + dy * dy);
  if (!(length > 0.0)) return;  // a point: the end discs alone
  const double nx = -dy / length * rho, ny = dx / length * rho;  // the normal, rho long
  for (int k = 0; k < 2; ++k) {
    const double sign = k == 0 ? 1.0 : -1.0;
    double px = ax_ + sign * nx, py = ay_ + sign * ny;
    double qx = bx_ + sign * nx, qy = by_ + sign * ny;
    if (qx < px) {
      std::swap(px, qx);
      std::swap(py, qy);
    }
    if (!(qx > px)) continue;
    sides_[k] = {px, py, qx, (qy - py) / (qx - px), std::min(py, qy), std::max(py, qy)};
  }
}
