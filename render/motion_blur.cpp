#include "render/motion_blur.h"

#include <bit>
#include <cmath>
#include <cstring>
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
  same_.reset();
  if (subdivisions < 0) return false;
  const std::uint64_t samples = static_cast<std::uint64_t>(subdivisions) + 1;
  // The largest sample count whose arrays' byte sizes fit a size_t.
  if (samples > std::numeric_limits<std::size_t>::max() / sizeof(Matrix3)) return false;
  origin_.reset(new (std::nothrow) Matrix3[samples]);
  if (!origin_) return false;
  view_.reset(new (std::nothrow) Matrix3[samples]);
  time_.reset(new (std::nothrow) TimeValue[samples]);
  placement_.reset(new (std::nothrow) StarPlacement[samples]);
  same_.reset(new (std::nothrow) bool[samples]());
  if (!view_ || !time_ || !placement_ || !same_) {
    origin_.reset();
    view_.reset();
    time_.reset();
    placement_.reset();
    same_.reset();
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
  // Kept right for whatever order the samples are set in.
  if (k > 0) same_[k - 1] = SameInputs(k - 1, k);
  same_[k] = k < n_ && SameInputs(k, k + 1);
}

bool MotionBlurPath::SameInputs(int k, int older) const {
  const auto bits = [](float f) { return std::bit_cast<std::uint32_t>(f); };
  const StarPlacement& a = placement_[k];
  const StarPlacement& b = placement_[older];
  return std::memcmp(&origin_[k], &origin_[older], sizeof(Matrix3)) == 0 &&
         std::memcmp(&view_[k], &view_[older], sizeof(Matrix3)) == 0 && bits(a.velumbraLimit) == bits(b.velumbraLimit) &&
         a.domain3d == b.domain3d && bits(a.domainRadius) == bits(b.domainRadius) &&
         bits(a.radialDensityBalance) == bits(b.radialDensityBalance);
}
