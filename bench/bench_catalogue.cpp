// Catalogue stars at 1920 x 1080 through a 30 degree lens on two granted
// threads, with the light layer an OpenEXR output asks for: the first frame
// of KStars' 126k-star stars.dat (read through the file service, parsed,
// placed, drawn) and the frames after it (placed again at their time,
// drawn, the parse cached), against a generated field of the same count.
#include <cstring>
#include <filesystem>
#include <memory>

#include "bench_util.h"
#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr const char* kCatalogue = "/usr/share/kstars/stars.dat";
constexpr float kFov = 0.523598776f;  // 30 degrees

struct Scene {
  explicit Scene(bool catalogue) {
    camera = ip.CreateNode("Camera001", std::make_unique<CameraObject>(kFov));
    TransformKey k;
    k.kind = TransformKey::Kind::Target;
    k.target = Point3(0.1f, 1, -0.05f);  // towards Orion
    camera->SetTransformKeys({k});
    fx = static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
    Configure(catalogue);
    bm.CreateChannels(BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID);
    bm.CreateLightLayer();
    Render(0);  // the pages faulted in once
    // A new effect, which has not read the catalogue yet.
    if (catalogue) {
      fx->DeleteMe();
      fx = static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
      Configure(catalogue);
    }
  }
  void Configure(bool catalogue) {
    IParamBlock2* pb = fx->pblock;
    pb->SetValue(pb_starsource, 0, catalogue ? starsource_catalogue : starsource_generated);
    pb->SetValue(pb_catalogfile, 0, kCatalogue);
    pb->SetValue(pb_magnitudelimit, 0, 30.0f);  // every star of the file
    pb->SetValue(pb_starscount, 0, 125982);
  }
  ~Scene() { fx->DeleteMe(); }

  // The frame and its layer are cleared, not made anew: fresh pages would
  // cost more than the pass (PERF-NOTES).
  // False when the effect logged a failure (the frame is not a render).
  bool Render(TimeValue t) {
    BitmapStorage& st = *bm.Storage();
    std::memset(static_cast<void*>(st.Pixels()), 0, sizeof(BMM_Color_64) * kWidth * kHeight);
    std::memset(static_cast<void*>(st.LightLayer()), 0, sizeof(BMM_Color_fl) * kWidth * kHeight);
    RenderInfo* ri = st.AllocRenderInfo();
    ri->SetPerspective(kWidth, kHeight, kFov);
    ri->worldToCam[0] = ri->worldToCam[1] = Inverse(camera->GetNodeTM(t));
    fx->Apply(t, &bm, nullptr, nullptr);
    return GetHostLog()->Take().empty();
  }

  Interface ip;
  BitmapManager manager{&ip};
  Bitmap bm{kWidth, kHeight, &manager};
  INode* camera = nullptr;
  Qe_Velumbra* fx = nullptr;
};

void BM_CatalogueFirstFrame(benchmark::State& state) {
  if (!std::filesystem::exists(kCatalogue)) {
    state.SkipWithError("kstars-data is not installed");
    return;
  }
  GrantRenderThreads(2);
  for (auto _ : state) {
    state.PauseTiming();
    Scene scene(true);
    state.ResumeTiming();
    if (!scene.Render(0)) state.SkipWithError("the effect logged a failure");
  }
  GrantRenderThreads(0);
}
BENCHMARK(BM_CatalogueFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_CatalogueNextFrames(benchmark::State& state) {
  if (!std::filesystem::exists(kCatalogue)) {
    state.SkipWithError("kstars-data is not installed");
    return;
  }
  GrantRenderThreads(2);
  Scene scene(true);
  scene.Render(0);
  TimeValue t = 0;
  for (auto _ : state)
    if (!scene.Render(t += GetTicksPerFrame())) state.SkipWithError("the effect logged a failure");
  GrantRenderThreads(0);
}
BENCHMARK(BM_CatalogueNextFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_GeneratedSameCount(benchmark::State& state) {
  GrantRenderThreads(2);
  Scene scene(false);
  scene.Render(0);
  TimeValue t = 0;
  for (auto _ : state) scene.Render(t += GetTicksPerFrame());
  GrantRenderThreads(0);
}
BENCHMARK(BM_GeneratedSameCount)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  bench::Ratios().emplace_back("BM_CatalogueNextFrames/iterations:5/real_time",
                               "BM_GeneratedSameCount/iterations:5/real_time");
  return bench::Main(argc, argv);
}
