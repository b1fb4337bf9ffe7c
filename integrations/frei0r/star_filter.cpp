#include "integrations/frei0r/star_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>

#include "host/app/image/png_samples.h"
#include "host/app/render_camera.h"
#include "host/app/scene/scene_check.h"
#include "host/sdk/log_sys.h"
#include "host/sdk/max_time.h"

namespace velumbra::frei0r {

namespace {

constexpr float kPi = 3.14159265358979323846f;

TransformKey RotationKey(TimeValue t, float x, float y, float z) {
  TransformKey k;
  k.time = t;
  k.kind = TransformKey::Kind::Rotation;
  k.rotation = Point3(x, y, z);
  return k;
}

// The tilt as a look-at from the origin: at 0 the camera looks along world
// +Y with +Y up, exactly the default scene's camera (position [0, 0, 0],
// target [0, 1, 0]), so the plug-in at its defaults renders the frame
// velumbra render does.
TransformKey TiltKey(TimeValue t, float tiltDegrees) {
  const double a = static_cast<double>(tiltDegrees) * 3.14159265358979323846 / 180.0;
  TransformKey k;
  k.time = t;
  k.kind = TransformKey::Kind::Target;
  k.position = Point3(0.0f, 0.0f, 0.0f);
  k.target = Point3(0.0f, static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)));
  return k;
}

}  // namespace

StarFilter::StarFilter(ClassDesc2& cd, const std::vector<Param>& params, int width, int height)
    : params_(params), values_(params.size()), width_(width), height_(height), manager_(&ip_),
      applied_(params.size()) {
  for (size_t i = 0; i < params.size(); ++i) {
    values_[i].x = params[i].DefaultX();
    values_[i].colour = params[i].DefaultColour();
  }
  // The rig: pan turns about world Z; tilt aims the camera's -Z from world
  // +Y up or down (a look-at, +Y up); roll turns about the view axis. Each
  // a node of its own, so each interpolates on its own between keys.
  pan_ = ip_.CreateNode("Pan", std::make_unique<DummyObject>());
  tilt_ = ip_.CreateNode("Tilt", std::make_unique<DummyObject>(), pan_);
  camera_ = ip_.CreateNode("Camera", std::make_unique<CameraObject>(45.0f * kPi / 180.0f), tilt_);
  if (cd.SuperClassID() != RENDER_EFFECT_CLASS_ID) return;
  effect_ = static_cast<Effect*>(cd.Create(FALSE));
  if (effect_ && effect_->NumParamBlocks() > 0) block_ = effect_->GetParamBlock(0);
}

StarFilter::~StarFilter() {
  if (effect_) effect_->DeleteMe();
}

double StarFilter::Own(frei0r::Own which) const {
  for (size_t i = 0; i < params_.size(); ++i)
    if (params_[i].own && params_[i].own->which == which) return params_[i].OwnValue(values_[i].x);
  return 0.0;
}

void StarFilter::SetBlock(TimeValue t) {
  if (!block_) return;
  for (size_t i = 0; i < params_.size(); ++i) {
    const Param& p = params_[i];
    if (!p.def) continue;
    const Value& v = values_[i];
    // Only changes reach the block: a change of a generation parameter is
    // what makes the effect regenerate its field.
    if (applied_[i] && applied_[i]->x == v.x && applied_[i]->colour == v.colour) continue;
    const ParamID id = p.def->id;
    if (p.kind == Kind::Colour) block_->SetValue(id, t, v.colour);
    else if (p.def->type == TYPE_FLOAT) block_->SetValue(id, t, p.FloatValue(v.x));
    else block_->SetValue(id, t, p.IntValue(v.x));
    applied_[i] = v;
  }
}

void StarFilter::SetCamera(const Camera& now) {
  std::vector<TransformKey> pan, tilt, roll;
  std::vector<CameraObject::FovKey> fov;
  const auto key = [&](const Camera& c) {
    pan.push_back(RotationKey(c.t, 0.0f, 0.0f, c.pan));
    tilt.push_back(TiltKey(c.t, c.tilt));
    roll.push_back(RotationKey(c.t, 0.0f, 0.0f, c.roll));
    fov.push_back({c.t, c.fov * kPi / 180.0f});
  };
  if (previous_) key(*previous_);
  key(now);
  pan_->SetTransformKeys(std::move(pan));
  tilt_->SetTransformKeys(std::move(tilt));
  camera_->SetTransformKeys(std::move(roll));
  static_cast<CameraObject*>(camera_->GetObjectRef())->SetFovKeys(std::move(fov));
}

void StarFilter::Update(double time, const std::uint32_t* in, std::uint32_t* out) {
  const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  if (!effect_) {
    if (in) std::memcpy(out, in, count * 4);
    else std::memset(out, 0, count * 4);
    return;
  }
  // A rate the host cannot count in whole ticks per frame renders at 30.
  // Rounded to 0.001 fps, so that a rate typed as x to six digits
  // (0.104167 for 25) is the rate meant.
  const double rate = std::round(Own(Own::FrameRate) * 1000.0) / 1000.0;
  int ticksPerFrame = scene_check::WholeTicksPerFrame(rate);
  if (ticksPerFrame <= 0) ticksPerFrame = TIME_TICKSPERSEC / 30;
  const double frames = std::round(time * (ticksPerFrame == scene_check::WholeTicksPerFrame(rate) ? rate : 30.0));
  // The host's time is 32-bit ticks: a clip beyond it renders its last tick.
  const double maxFrame = static_cast<double>(TIME_PosInfinity) / 2 / ticksPerFrame;
  const TimeValue t = static_cast<TimeValue>(std::clamp(frames, -maxFrame, maxFrame)) * ticksPerFrame;
  SetTicksPerFrame(ticksPerFrame);

  Camera now;
  now.t = t;
  now.pan = static_cast<float>(Own(Own::Pan));
  now.tilt = static_cast<float>(Own(Own::Tilt));
  now.roll = static_cast<float>(Own(Own::Roll));
  // A field of view of 0 or 180 degrees has no projection.
  now.fov = std::clamp(static_cast<float>(Own(Own::FieldOfView)), 0.01f, 179.99f);
  // The camera of the frame before is the motion the blur sees: from the
  // last update when that was the frame before, kept when this frame is
  // rendered again, none after a seek.
  if (last_ && last_->t == t - ticksPerFrame) previous_ = last_;
  else if (!(last_ && last_->t == t && previous_)) previous_.reset();
  SetCamera(now);
  SetBlock(t);

  // One bitmap for the instance's life: the pixels are written whole each
  // frame, the G-buffer channels cleared.
  if (!bitmap_) bitmap_ = std::make_unique<Bitmap>(width_, height_, &manager_);
  BitmapStorage& storage = *bitmap_->Storage();
  BMM_Color_64* pixels = storage.Pixels();
  const auto* bytes = reinterpret_cast<const unsigned char*>(in);
  for (size_t i = 0; i < count; ++i) {
    if (!in) {
      pixels[i] = BMM_Color_64{};
      continue;
    }
    const unsigned char* s = bytes + 4 * i;
    pixels[i] = PngToFrame(PngSamples{s[0], s[1], s[2], s[3]}, 8, PngAlpha::Straight);
  }
  const ULONG channels = effect_->GBufferChannelsRequired(t);
  storage.CreateChannels(channels);
  for (ULONG mask : {ULONG{BMM_CHAN_NODE_ID}, ULONG{BMM_CHAN_MTL_ID}}) {
    ULONG type = 0;
    if (!(channels & mask)) continue;
    if (void* data = storage.GetChannel(mask, type))
      std::memset(data, 0, count * (mask == BMM_CHAN_NODE_ID ? sizeof(WORD) : sizeof(UBYTE)));
  }
  try {
    SetRenderCamera(*storage.AllocRenderInfo(), *camera_, t, width_, height_);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qe_velumbra: %s\n", e.what());
    return;
  }

  LogSys& log = *GetHostLog();
  log.Take();
  if (effect_->Active(t)) effect_->Apply(t, bitmap_.get(), nullptr, nullptr);
  for (const LogRecord& entry : log.Take())
    if (entry.type & (SYSLOG_ERROR | SYSLOG_WARN))
      std::fprintf(stderr, "qe_velumbra: %s\n", entry.message.c_str());

  FrameRowToPng8(pixels, count, PngAlpha::Straight, reinterpret_cast<unsigned char*>(out));
  last_ = now;
}

}  // namespace velumbra::frei0r
