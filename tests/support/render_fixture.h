// A small scene rendered the way the host renders: a camera node, a bitmap
// with the G-buffer channels the effect asks for and the render's camera
// information, and an effect made by its class descriptor.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"
#include "support/recording_abort.h"

// A keyed transform that is a whole matrix.
inline TransformKey MatrixKey(TimeValue t, const Matrix3& m) {
  TransformKey k;
  k.time = t;
  k.kind = TransformKey::Kind::Matrix;
  k.matrix = m;
  return k;
}

// A camera at `position` looking at `target`, at time t.
inline TransformKey LookKey(TimeValue t, Point3 position, Point3 target) {
  TransformKey k;
  k.time = t;
  k.kind = TransformKey::Kind::Target;
  k.position = position;
  k.target = target;
  return k;
}

constexpr float kFov = 0.785398163f;  // 45 degrees

class RenderScene {
 public:
  explicit RenderScene(int width = 160, int height = 120) : width_(width), height_(height) {
    camera = ip.CreateNode("Camera001", std::make_unique<CameraObject>(kFov));
    camera->SetTransformKeys({LookKey(0, {0, 0, 0}, {0, 1, 0})});
    fx = static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
  }
  ~RenderScene() {
    if (fx) fx->DeleteMe();
  }
  RenderScene(const RenderScene&) = delete;
  RenderScene& operator=(const RenderScene&) = delete;

  // Renders frame time t through `through` (the scene camera by default)
  // into a fresh transparent-black bitmap; returns its pixels, row-major.
  std::vector<BMM_Color_64> Render(TimeValue t, CheckAbortCallback* cb = nullptr, INode* through = nullptr) {
    Prepare(t, through);
    RecordingAbort quiet;
    fx->Apply(t, bitmap.get(), nullptr, cb ? cb : &quiet);
    return Pixels();
  }

  // Renders as Render does, calling the pass itself: the settings it read
  // and chose.
  PassSettings Pass(TimeValue t) {
    Prepare(t);
    RecordingAbort quiet;
    return fx->RenderPass(t, bitmap.get(), &quiet);
  }

  // Everything Render does before it calls Apply: `bitmap` as the host
  // hands it to the effect.
  void Prepare(TimeValue t, INode* through = nullptr) {
    bitmap = std::make_unique<Bitmap>(width_, height_, &manager);
    bitmap->CreateChannels(fx->GBufferChannelsRequired(t));
    if (prepare) prepare(*bitmap);
    RenderInfo* ri = bitmap->Storage()->AllocRenderInfo();
    ri->SetPerspective(width_, height_, fov);
    INode* cam = through ? through : camera;
    ri->worldToCam[0] = ri->worldToCam[1] = Inverse(cam->GetNodeTM(t));
    ri->camToWorld[0] = ri->camToWorld[1] = cam->GetNodeTM(t);
    ri->renderTime[0] = ri->renderTime[1] = t;
  }

  std::vector<BMM_Color_64> Pixels() const {
    std::vector<BMM_Color_64> px(static_cast<size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y) bitmap->GetPixels(0, y, width_, &px[static_cast<size_t>(y) * width_]);
    return px;
  }

  void Set(ParamID id, int v, TimeValue t = 0) { ASSERT_TRUE(fx->pblock->SetValue(id, t, v)); }
  void Set(ParamID id, float v, TimeValue t = 0) { ASSERT_TRUE(fx->pblock->SetValue(id, t, v)); }
  void Set(ParamID id, Color v, TimeValue t = 0) { ASSERT_TRUE(fx->pblock->SetValue(id, t, v)); }
  void Set(ParamID id, INode* v, TimeValue t = 0) { ASSERT_TRUE(fx->pblock->SetValue(id, t, v)); }
  float GetFloat(ParamID id, TimeValue t = 0) {
    float v = 0;
    Interval valid = FOREVER;
    fx->pblock->GetValue(id, t, v, valid);
    return v;
  }
  INode* GetNode(ParamID id, TimeValue t = 0) {
    INode* v = nullptr;
    Interval valid = FOREVER;
    fx->pblock->GetValue(id, t, v, valid);
    return v;
  }

  int width() const { return width_; }
  // Later renders use a bitmap of this size.
  void Resize(int width, int height) { width_ = width, height_ = height; }
  int height() const { return height_; }

  // The render's horizontal field of view (radians).
  float fov = kFov;

  // Fills a new bitmap (image and G-buffer) before the effect runs.
  std::function<void(Bitmap&)> prepare;

  ScopedInstance module;
  Interface ip;
  BitmapManager manager{&ip};
  INode* camera = nullptr;
  Qe_Velumbra* fx = nullptr;
  std::unique_ptr<Bitmap> bitmap;

 private:
  int width_, height_;
};

// A background with varied colour and alpha, and ID channels in stripes, so
// that masks, alpha weighting and ID stamping all have something to do.
inline void StripedBackground(Bitmap& bm) {
  BitmapStorage* s = bm.Storage();
  ULONG type = 0;
  auto* mtl = static_cast<UBYTE*>(s->GetChannel(BMM_CHAN_MTL_ID, type));
  auto* obj = static_cast<WORD*>(s->GetChannel(BMM_CHAN_NODE_ID, type));
  for (int y = 0; y < s->Height(); ++y) {
    for (int x = 0; x < s->Width(); ++x) {
      const size_t i = static_cast<size_t>(y) * s->Width() + x;
      BMM_Color_64& p = s->Pixels()[i];
      p.r = static_cast<WORD>((x * 311) % 65281);
      p.g = static_cast<WORD>((y * 173) % 65281);
      p.b = static_cast<WORD>(((x + y) * 97) % 30000);
      p.a = static_cast<WORD>(((x / 7 + y / 5) % 4) * 21760);  // 0, 1/3, 2/3, full
      mtl[i] = static_cast<UBYTE>((x / 16) % 3);
      obj[i] = static_cast<WORD>((y / 12) % 4);
    }
  }
}

// What a pass leaves: the image, both G-buffer channels, and the progress
// calls it made.
struct PassResult {
  std::vector<BMM_Color_64> pixels;
  std::vector<UBYTE> materialIds;
  std::vector<WORD> objectIds;
  std::vector<std::pair<int, int>> progress;
  bool operator==(const PassResult&) const = default;
};

// Renders `scene` at t with Progress answering "stop" on call `stopAtCall`
// (-1: never), on the threads granted now.
inline PassResult RenderPassResult(RenderScene& scene, TimeValue t, int stopAtCall) {
  RecordingAbort cb(stopAtCall);
  PassResult r;
  r.pixels = scene.Render(t, &cb);
  r.progress = cb.progress;
  const size_t n = r.pixels.size();
  ULONG type = 0;
  auto* mtl = static_cast<UBYTE*>(scene.bitmap->Storage()->GetChannel(BMM_CHAN_MTL_ID, type));
  auto* obj = static_cast<WORD*>(scene.bitmap->Storage()->GetChannel(BMM_CHAN_NODE_ID, type));
  r.materialIds.assign(mtl, mtl + n);
  r.objectIds.assign(obj, obj + n);
  return r;
}

inline bool SamePixels(const std::vector<BMM_Color_64>& a, const std::vector<BMM_Color_64>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b || a[i].a != b[i].a) return false;
  return true;
}

// Pixels whose colour is not black.
inline int LitPixels(const std::vector<BMM_Color_64>& px) {
  int n = 0;
  for (const auto& p : px) n += (p.r | p.g | p.b) != 0;
  return n;
}

// The sum of all colour channels: a measure of the light in an image.
inline double TotalLight(const std::vector<BMM_Color_64>& px) {
  double s = 0;
  for (const auto& p : px) s += static_cast<double>(p.r) + p.g + p.b;
  return s;
}

inline int MaxChannelDifference(const std::vector<BMM_Color_64>& a, const std::vector<BMM_Color_64>& b) {
  int m = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    m = std::max({m, std::abs(a[i].r - b[i].r), std::abs(a[i].g - b[i].g), std::abs(a[i].b - b[i].b),
                  std::abs(a[i].a - b[i].a)});
  }
  return m;
}
