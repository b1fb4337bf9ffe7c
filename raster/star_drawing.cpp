// Star discs and streaks: per-pixel coverage handed to PlotPixel.
//
// Coverage of a pixel by a disc of radius r centred at c is r - |p - c|:
// full within r - 1, falling linearly to 0 at r. A streak covers a pixel as
// the disc centred at the point of the segment nearest to the pixel.
#include <algorithm>
#include <cmath>
#include <utility>

#include "raster/pixel_target.h"

namespace {

constexpr float kFullF = static_cast<float>(kFullChannel);

// Streak ends farther than this many pixels outside the image (a streak
// clipped at the near plane projects far out) are brought near it before the
// pixel loop. In single precision the nearest point a + t*u errs by about
// |a| x 6e-8 pixels: up to here that is no worse than the image coordinates
// themselves; from a million pixels out it is a tenth of a pixel, and from
// 1e13 the streak lands anywhere.
constexpr double kFarOut = 1 << 12;

bool Finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

BMM_Color_64 Scale(BMM_Color_64 c, float factor) {
  return {ToChannel(static_cast<float>(c.r) * factor), ToChannel(static_cast<float>(c.g) * factor),
          ToChannel(static_cast<float>(c.b) * factor), ToChannel(static_cast<float>(c.a) * factor)};
}

// Pixel indices trunc(lo) .. trunc(hi) clipped to 0..maxIndex into
// [first, last]. The bounds are clipped in floating point before they are
// converted, so far-out or infinite bounds are safe; false when the range is
// empty or a bound is NaN.
bool PixelRange(float lo, float hi, int maxIndex, int& first, int& last) {
  if (std::isnan(lo) || std::isnan(hi)) return false;
  const float below = -1.0f;
  const float above = static_cast<float>(maxIndex) + 1.0f;
  first = std::max(0, static_cast<int>(std::clamp(lo, below, above)));
  last = std::min(maxIndex, static_cast<int>(std::clamp(hi, below, above)));
  return first <= last;
}

}  // namespace

bool PixelTarget::PrepareStreak(Point2 a, Point2 b, float length, BMM_Color_64 colour, float r,
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
  if (!PixelRange(std::min(s.a.x, s.b.x) - R, std::max(s.a.x, s.b.x) + R, maxX, s.x0, s.x1) ||
      !PixelRange(std::min(s.a.y, s.b.y) - R, std::max(s.a.y, s.b.y) + R, maxY, s.y0, s.y1))
    return false;

  // Longer streaks spread the same light over more pixels: each channel is
  // divided by (dimming per pixel of length) x length + 1.
  s.colour = colour;
  WORD* channel[4] = {&s.colour.r, &s.colour.g, &s.colour.b, &s.colour.a};
  for (int i = 0; i < 4; ++i)
    if (streakDimming[i] > 0.0f)
      *channel[i] = ToChannel(static_cast<float>(*channel[i]) / (streakDimming[i] * length + 1.0f));
  return true;
}

bool PixelTarget::StreakRows(const Streak& s, float r, int x, int& first, int& last) const {
  first = s.y0;
  last = s.y1;
  if (boxLoops) return true;
  // A pixel (x, y) the loop can cover lies within r of the point q it
  // measures from, and q lies on the loop's segment s.a..s.b to within far
  // less than a pixel (the unit direction and the brought-in ends are
  // rounded to float). So the segment's nearest point to the pixel has x
  // within r + 1 of x, and y within r + 1 of y: the rows are those within
  // r + 1 of the y-range of the part of the segment whose x is within r + 1
  // of the column. Worked in double, where the products of these float
  // inputs are exact enough; an empty part (or NaN) gives no rows.
  const double reach = static_cast<double>(r) + 1.0;
  const double ax = s.a.x, ay = s.a.y, dx = static_cast<double>(s.b.x) - ax, dy = static_cast<double>(s.b.y) - ay;
  const double lo = x - reach, hi = x + reach;
  double t0 = 0.0, t1 = 1.0;
  if (dx != 0.0) {
    t0 = (lo - ax) / dx;
    t1 = (hi - ax) / dx;
    if (t0 > t1) std::swap(t0, t1);
    t0 = std::max(t0, 0.0);
    t1 = std::min(t1, 1.0);
    if (!(t0 <= t1)) return false;
  } else if (!(ax >= lo && ax <= hi)) {
    return false;
  }
  const double y0 = ay + dy * t0, y1 = ay + dy * t1;
  const double top = std::min(y0, y1) - reach, bottom = std::max(y0, y1) + reach;
  if (!(top <= static_cast<double>(s.y1) && bottom >= static_cast<double>(s.y0))) return false;
  first = std::max(s.y0, static_cast<int>(std::floor(std::max(top, static_cast<double>(s.y0)))));
  last = std::min(s.y1, static_cast<int>(std::ceil(std::min(bottom, static_cast<double>(s.y1)))));
  return first <= last;
}

void PixelTarget::SplatPixel(Point2 p, Point2 c, BMM_Color_64 colour, float r) {
  const float cov = r - Length(p - c);
  if (!(cov > 0.0f)) return;
  if (cov < 1.0f) {
    colour = Scale(colour, cov);
    if (applyMethod == kApplyAsFilter) {
      // A partly covered pixel tends to the neutral filter value, not black.
      const float neutral = (1.0f - cov) * kFullF;
      colour = {ToChannel(static_cast<float>(colour.r) + neutral), ToChannel(static_cast<float>(colour.g) + neutral),
                ToChannel(static_cast<float>(colour.b) + neutral), ToChannel(static_cast<float>(colour.a) + neutral)};
    }
  }
  PlotPixel(p.x, p.y, colour);
}

void PixelTarget::DrawSplat(Point2 c, BMM_Color_64 colour, float r) {
  if (!(r > 0.0f)) return;  // no pixel can get positive coverage
  const float R = std::trunc(r + 1.0f);
  int x0, x1, y0, y1;
  if (!PixelRange(c.x - R, c.x + R, maxX, x0, x1) || !PixelRange(c.y - R, c.y + R, maxY, y0, y1)) return;
  y0 = std::max(y0, clipY0);
  y1 = std::min(y1, clipY1);
  if (y0 > y1) return;
  // Per column only the rows within the disc: a pixel is covered when its
  // distance to c, as Length computes it in float, is below r; the exact
  // distance differs from that by far less than the room given here, so
  // every covered pixel is visited (and the per-pixel arithmetic decides).
  const double room = 0.01 + 1e-5 * static_cast<double>(r);
  const double reach = static_cast<double>(r) + room;
  for (int x = x0; x <= x1; ++x) {
    int first = y0, last = y1;
    if (!boxLoops) {
      const double dx = std::fabs(static_cast<double>(x) - c.x);
      if (dx >= reach) continue;
      const double half = std::sqrt(reach * reach - dx * dx);
      first = std::max(y0, static_cast<int>(std::floor(std::max(c.y - half, static_cast<double>(y0)))));
      last = std::min(y1, static_cast<int>(std::ceil(std::min(c.y + half, static_cast<double>(y1)))));
    }
    for (int y = first; y <= last; ++y)
      SplatPixel(Point2(static_cast<float>(x), static_cast<float>(y)), c, colour, r);
  }
}

void PixelTarget::DrawCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return;
  const float length = Length(b - a);
  if (length == 0.0f) {
    DrawSplat(a, colour, r);
    return;
  }
  Streak s;
  if (!PrepareStreak(a, b, length, colour, r, s)) return;
  s.y0 = std::max(s.y0, clipY0);
  s.y1 = std::min(s.y1, clipY1);
  if (s.y0 > s.y1) return;
  for (int x = s.x0; x <= s.x1; ++x) {
    const float px = static_cast<float>(x);
    const float alongA = (px - s.a.x) * s.u.x;  // column terms of the projections
    const float alongB = (px - s.b.x) * s.u.x;
    int first, last;
    if (!StreakRows(s, r, x, first, last)) continue;
    for (int y = first; y <= last; ++y) {
      const float py = static_cast<float>(y);
      const float t = alongA + (py - s.a.y) * s.u.y;
      Point2 q;
      if (t <= 0.0f)
        q = s.a;
      else if (alongB + (py - s.b.y) * s.u.y >= 0.0f)
        q = s.b;
      else
        q = s.a + s.u * t;
      SplatPixel(Point2(px, py), q, s.colour, r);
    }
  }
}

void PixelTarget::TrailPixel(Point2 p, Point2 q, Point2 b, BMM_Color_64 colour, float r) {
  const float c1 = r - Length(p - q);  // coverage by the streak
  if (!(c1 > 0.0f)) return;
  const float c2 = r - Length(p - b);  // coverage by the disc at b, already drawn
  if (!(c2 < 1.0f)) return;
  const bool filter = applyMethod == kApplyAsFilter;
  float e = std::min(c1, 1.0f);
  if (c2 > 0.0f && !filter) {
    // Only the coverage the disc left over, and for the alpha-weighted
    // methods relative to the alpha the disc already changed.
    e = e - c2;
    if (writeAlpha) {
      const float alphaCovered = static_cast<float>(colour.a) * c2 * kInvFull;
      if (applyMethod == kAdditiveWithAlpha || applyMethod == kSimpleApply) {
        // At star alpha 65280 and c2 one step below 1 this is exactly 0: the
        // disc has already made the pixel fully opaque (method 0 adds
        // nothing over full alpha; method 3 has laid the whole star over
        // it), so the pixel is taken as fully covered and left alone.
        const float divisor = 1.0f - alphaCovered;
        if (!(divisor > 0.0f)) return;
        e = e / divisor;
      } else if (applyMethod == kAdditiveWithInverseAlpha) {
        e = e / (1.0f + alphaCovered);
      }
    }
  }
  if (!filter) {
    colour = Scale(colour, e);
  } else {
    // The disc multiplied the pixel by its own filter value; dividing it out
    // leaves one filter at the combined coverage.
    const float neutral = (1.0f - e) * kFullF;
    const auto channel = [&](WORD v) {
      const float fv = static_cast<float>(v);
      if (c2 > 0.0f) return ToChannel((fv * e + neutral) * kFullF / (fv * c2 + (1.0f - c2) * kFullF));
      return ToChannel(fv * e + neutral);
    };
    colour = {channel(colour.r), channel(colour.g), channel(colour.b), channel(colour.a)};
  }
  PlotPixel(p.x, p.y, colour);
}

void PixelTarget::DrawTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return;
  const float length = Length(b - a);
  if (length == 0.0f) return;
  Streak s;
  if (!PrepareStreak(a, b, length, colour, r, s)) return;
  s.y0 = std::max(s.y0, clipY0);
  s.y1 = std::min(s.y1, clipY1);
  if (s.y0 > s.y1) return;
  for (int x = s.x0; x <= s.x1; ++x) {
    const float px = static_cast<float>(x);
    const float alongA = (px - s.a.x) * s.u.x;
    const float alongB = (px - s.b.x) * s.u.x;
    int first, last;
    if (!StreakRows(s, r, x, first, last)) continue;
    for (int y = first; y <= last; ++y) {
      const float py = static_cast<float>(y);
      const float t = alongA + (py - s.a.y) * s.u.y;
      // The disc drawn at b is measured from the caller's b, also when the
      // loop's ends were brought in from far out.
      if (t <= 0.0f) {
        TrailPixel(Point2(px, py), s.a, b, s.colour, r);
      } else if (alongB + (py - s.b.y) * s.u.y < 0.0f) {
        TrailPixel(Point2(px, py), s.a + s.u * t, b, s.colour, r);
      }
      // Beyond b the disc at b gives all the coverage.
    }
  }
}
