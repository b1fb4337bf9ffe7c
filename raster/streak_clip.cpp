// The clipping of a streak before its pixel loop: far-out ends brought near
// the image, the pixel box, and the dimming by length.
#include "raster/streak_clip.h"

#include <algorithm>
#include <cmath>

#include "raster/pixel_target.h"

namespace {

// Streak ends farther than this many pixels outside the image (a streak
// clipped at the near plane projects far out) are brought near it before the
// pixel loop. In single precision the nearest point a + t*u errs by about
// |a| x 6e-8 pixels: up to here that is no worse than the image coordinates
// themselves; from a million pixels out it is a tenth of a pixel, and from
// 1e13 the streak lands anywhere.
constexpr double kFarOut = 1 << 12;

}  // namespace

bool PixelTarget::PrepareStreak(Point2 a, Point2 b, float length, const Paint& paint, float r,
                                Streak& s) const {
  const float R = std::trunc(r + 1.0f);  // the box margin, whole pixels
  s.a = a;
  s.b = b;
  const double farX0 = -kFarOut, farX1 = maxX + kFarOut;
  const double farY0 = -kFarOut, farY1 = maxY + kFarOut;
  const auto nearImage = [&](Point2 p) { return p.x >= farX0 && p.x <= farX1 && p.y >= farY0 && p.y <= farY1; };
  if (nearImage(a) && nearImage(b)) {
    s.u = (b - a) * (1.0f / length);
  } else {
    // Keep only the part of the line within `reach` of the image centre m:
    // every point dropped lies farther than the box margin, so more than r,
    // from every pixel, and no pixel changes; the loop then measures from
    // ends close to the image. Worked in double, and without ever forming a
    // far end plus a long step: the line is its direction u and its foot f,
    // the point nearest to m, found from n.a = (b x a) / |b - a|, whose two
    // float products are exact in double.
    const double ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const double dx = bx - ax, dy = by - ay, len = std::hypot(dx, dy);
    const double ux = dx / len, uy = dy / len, nx = -uy, ny = ux;
    const double mx = 0.5 * maxX, my = 0.5 * maxY;
    const double margin = static_cast<double>(R) + 2.0;
    const double reach = std::ceil(std::hypot(mx + margin, my + margin));
    const double h = (bx * ay - ax * by) / len - (nx * mx + ny * my);
    if (!(std::abs(h) <= reach)) return false;  // the line passes beside the image
    const double fx = mx + h * nx, fy = my + h * ny;
    // Positions of the ends along the line from f; far ends are imprecise,
    // but they only need comparing with +-reach.
    const double sa = ux * (ax - fx) + uy * (ay - fy);
    const double sb = ux * (bx - fx) + uy * (by - fy);
    if (sb < -reach || sa > reach) return false;  // the segment ends before the image
    if (sa < -reach) s.a = Point2(static_cast<float>(fx - reach * ux), static_cast<float>(fy - reach * uy));
    if (sb > reach) s.b = Point2(static_cast<float>(fx + reach * ux), static_cast<float>(fy + reach * uy));
    s.u = Point2(static_cast<float>(ux), static_cast<float>(uy));
  }
  if (!raster::PixelRange(std::min(s.a.x, s.b.x) - R, std::max(s.a.x, s.b.x) + R, maxX, s.x0, s.x1) ||
      !raster::PixelRange(std::min(s.a.y, s.b.y) - R, std::max(s.a.y, s.b.y) + R, maxY, s.y0, s.y1))
    return false;

  // Longer streaks spread the same light over more pixels: each channel of
  // a plain call is divided by (dimming per pixel of length) x length + 1.
  // A light call's light is spread by its caller.
  s.paint = paint;
  if (paint.light) return true;
  WORD* channel[4] = {&s.paint.colour.r, &s.paint.colour.g, &s.paint.colour.b, &s.paint.colour.a};
  for (int i = 0; i < 4; ++i)
    if (streakDimming[i] > 0.0f)
      *channel[i] = ToChannel(static_cast<float>(*channel[i]) / (streakDimming[i] * length + 1.0f));
  return true;
}

