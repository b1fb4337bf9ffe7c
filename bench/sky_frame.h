// A 1920 x 1080 frame with the ID channels and the light layer an OpenEXR
// output asks for, a camera towards Orion and one effect: what the catalogue
// benchmarks render. The frame and its layer are cleared before each
// render, not made anew: fresh pages would cost more than the pass
// (PERF-NOTES).
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"

namespace bench {

inline constexpr const char* kKStarsCatalogue = "/usr/share/kstars/stars.dat";

struct SkyFrame {
  static constexpr int kWidth = 1920, kHeight = 1080;

  // `keys` of the camera's target; none: towards Orion, still.
  explicit SkyFrame(float fov, std::vector<TransformKey> keys = {}) : fov(fov) {
    camera = ip.CreateNode("Camera001", std::make_unique<CameraObject>(fov));
    if (keys.empty()) {
      TransformKey k;
      k.kind = TransformKey::Kind::Target;
      k.target = Point3(0.1f, 1, -0.05f);
      keys.push_back(k);
    }
    camera->SetTransformKeys(keys);
    fx = NewEffect();
    bm.CreateChannels(BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID);
    bm.CreateLightLayer();
  }
  ~SkyFrame() { fx->DeleteMe(); }
  SkyFrame(const SkyFrame&) = delete;
  SkyFrame& operator=(const SkyFrame&) = delete;

  static Qe_Velumbra* NewEffect() {
    return static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
  }

  // Renders frame time t; false when the effect logged a failure (the frame
  // is not a render).
  bool Render(TimeValue t) {
    BitmapStorage& st = *bm.Storage();
    std::memset(static_cast<void*>(st.Pixels()), 0, sizeof(BMM_Color_64) * kWidth * kHeight);
    std::memset(static_cast<void*>(st.LightLayer()), 0, sizeof(BMM_Color_fl) * kWidth * kHeight);
    RenderInfo* ri = st.AllocRenderInfo();
    ri->SetPerspective(kWidth, kHeight, fov);
    ri->worldToCam[0] = ri->worldToCam[1] = Inverse(camera->GetNodeTM(t));
    ri->renderTime[0] = ri->renderTime[1] = t;
    fx->Apply(t, &bm, nullptr, nullptr);
    return GetHostLog()->Take().empty();
  }

  float fov;
  Interface ip;
  BitmapManager manager{&ip};
  Bitmap bm{kWidth, kHeight, &manager};
  INode* camera = nullptr;
  Qe_Velumbra* fx = nullptr;
};

}  // namespace bench
