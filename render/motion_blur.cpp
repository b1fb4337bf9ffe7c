#include "render/motion_blur.h"

#include <cmath>
#include <limits>
#include <new>

TimeValue SampleTime(TimeValue t, int k, float step) {
  const float v = static_cast<float>(t) - static_cast<float>(k) * step;
  // 2^31 as a float; anything at or beyond it (or NaN) is held at the ends.
  constexpr float kLimit = 2147483648.0f;
  if (!(v > -kLimit)) return std::isnan(v) ? t : TIME_NegInfinity;
  if (!(v < kLimit)) return TIME_PosInfinity;
  return static_cast<TimeValue>(v);
}

void StreakDimming(int subdivisions, float dimming, const Color& filter, float out[4]) {
  const float d = static_cast<float>(subdivisions) * dimming;
  out[0] = d * (1.0f - filter.r);
  out[1] = d * (1.0f - filter.g);
  out[2] = d * (1.0f - filter.b);
  out[3] = (out[0] + out[1] + out[2]) / 3.0f;
}

bool MotionBlurPath::Allocate(int subdivisions) {
  n_ = 0;
  origin_.reset();
  view_.reset();
  time_.reset();
  placement_.reset();
  if (subdivisions < 0) return false;
  const std::uint64_t samples = static_cast<std::uint64_t>(subdivisions) + 1;
  // The largest sample count whose arrays' byte sizes fit a size_t.
  if (samples > std::numeric_limits<std::size_t>::max() / sizeof(Matrix3)) return false;
  origin_.reset(new (std::nothrow) Matrix3[samples]);
  if (!origin_) return false;
  view_.reset(new (std::nothrow) Matrix3[samples]);
  time_.reset(new (std::nothrow) TimeValue[samples]);
  placement_.reset(new (std::nothrow) StarPlacement[samples]);
  if (!view_ || !time_ || !placement_) {
    origin_.reset();
    view_.reset();
    time_.reset();
    placement_.reset();
    return false;
  }
  n_ = subdivisions;
  return true;
}

void MotionBlurPath::SetSample(int k, TimeValue time, const Matrix3& origin, const Matrix3& view,
                               const StarPlacement& placement) {
  time_[k] = time;
  origin_[k] = origin;
  view_[k] = view;
  placement_[k] = placement;
}

void MotionBlurPath::DrawStarPath(const StarRecord& s, PixelTarget& target, const RenderInfo& ri,
                                  const Hyperspace* hyperspace) const {
  const int n = n_;
  // P: the unshifted, unclipped point of the previous (older) sample.
  Point3 p;
  bool pValid = StarToCamera(s.pos, placement_[n], origin_[n], view_[n], p);
  for (int k = n - 1; k >= 0; --k) {
    Point3 prev = p;
    const bool prevValid = pValid;
    Point3 cur;
    pValid = StarToCamera(s.pos, placement_[k], origin_[k], view_[k], cur);
    p = cur;
    // A point without a placement (flattened onto the 3D domain's centre)
    // takes no part: the segments that touch it are skipped.
    if (!prevValid || !pValid) continue;
    if (hyperspace) cur = hyperspace->Shift(cur, view_[k]);

    // Near-plane clipping; only this segment's copies change.
    if (prev.z >= 0.0f && cur.z >= 0.0f) continue;
    if (prev.z >= 0.0f) {
      const float f = (kNearPlaneZ - prev.z) / (cur.z - prev.z);
      prev.x = prev.x + (cur.x - prev.x) * f;
      prev.y = prev.y + (cur.y - prev.y) * f;
      prev.z = kNearPlaneZ;
    } else if (cur.z >= 0.0f) {
      const float f = (kNearPlaneZ - prev.z) / (cur.z - prev.z);
      cur.x = prev.x + (cur.x - prev.x) * f;
      cur.y = prev.y + (cur.y - prev.y) * f;
      cur.z = kNearPlaneZ;
    }

    const Point2 a = ri.MapCamToScreen(prev);
    const Point2 b = ri.MapCamToScreen(cur);
    if (k == n - 1)
      target.DrawCapsule(a, b, s.color, s.size);
    else
      target.DrawTrail(b, a, s.color, s.size);
  }
}
