// The fill-in below KStars' limit and catalogue stars under motion blur, at
// 1920 x 1080 on two granted threads with the light layer:
//
// - the first frame with fill-in to magnitude 11 (the file read and parsed,
//   884,000 fill-in stars fitted and made, 1.0 million stars placed and
//   drawn), and the frames after it (the fill-in kept, every star placed
//   again at its time), against the catalogue alone and a generated field
//   of the same count;
// - a panning, motion-blurred 45 degree lens over the catalogue to
//   magnitude 8 (41,000 stars), with the stars that cannot reach the image
//   left out before their light is measured, and with every star measured
//   (the reference, Qe_Velumbra::visibilityIndex off).
#include <filesystem>
#include <vector>

#include "bench_util.h"
#include "sky_frame.h"

namespace {

constexpr const char* kCatalogue = bench::kKStarsCatalogue;

// A still camera towards Orion, or one panning from there over 30 frames.
std::vector<TransformKey> CameraKeys(bool panning) {
  if (!panning) return {};
  TransformKey a, b;
  a.kind = b.kind = TransformKey::Kind::Target;
  a.target = Point3(0.1f, 1, -0.05f);  // towards Orion
  b.target = Point3(0.6f, 1, 0.1f);
  b.time = 30 * GetTicksPerFrame();
  return {a, b};
}

struct Scene : bench::SkyFrame {
  Scene(float fov, float limit, bool fillIn, bool panning) : SkyFrame(fov, CameraKeys(panning)) {
    IParamBlock2* pb = fx->pblock;
    pb->SetValue(pb_starsource, 0, starsource_catalogue);
    pb->SetValue(pb_catalogfile, 0, kCatalogue);
    pb->SetValue(pb_magnitudelimit, 0, limit);
    pb->SetValue(pb_fillinflag, 0, fillIn ? 1 : 0);
    if (panning) {
      pb->SetValue(pb_duration, 0, 1.0f);
      pb->SetValue(pb_durationsubdivisions, 0, 8);
    }
  }
};

bool HaveCatalogue(benchmark::State& state) {
  if (std::filesystem::exists(kCatalogue)) return true;
  state.SkipWithError("kstars-data is not installed");
  return false;
}

constexpr float kThirtyDegrees = 0.523598776f;
constexpr float kFortyFiveDegrees = 0.785398163f;

void BM_FillInFirstFrame(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  GrantRenderThreads(2);
  for (auto _ : state) {
    state.PauseTiming();
    Scene scene(kThirtyDegrees, 11.0f, true, false);
    state.ResumeTiming();
    if (!scene.Render(0)) state.SkipWithError("the effect logged a failure");
  }
  GrantRenderThreads(0);
}
BENCHMARK(BM_FillInFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Frames after the first, fill-in to `state.range(0)` (0: none).
void BM_FillInNextFrames(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  GrantRenderThreads(2);
  Scene scene(kThirtyDegrees, 11.0f, state.range(0) != 0, false);
  scene.Render(0);
  TimeValue t = 0;
  for (auto _ : state)
    if (!scene.Render(t += GetTicksPerFrame())) state.SkipWithError("the effect logged a failure");
  GrantRenderThreads(0);
}
BENCHMARK(BM_FillInNextFrames)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A generated field of as many stars as the catalogue and its fill-in to
// magnitude 11 (1,010,454), the frames after the first.
void BM_GeneratedSameCount(benchmark::State& state) {
  GrantRenderThreads(2);
  Scene scene(kThirtyDegrees, 11.0f, false, false);
  scene.fx->pblock->SetValue(pb_starsource, 0, starsource_generated);
  scene.fx->pblock->SetValue(pb_starscount, 0, 1010454);
  scene.Render(0);
  TimeValue t = 0;
  for (auto _ : state) scene.Render(t += GetTicksPerFrame());
  GrantRenderThreads(0);
}
BENCHMARK(BM_GeneratedSameCount)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A panning motion-blurred frame; range(0) 1: stars that cannot reach the
// image left out, 0: every star measured.
void BM_PanningCatalogue(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  GrantRenderThreads(2);
  Scene scene(kFortyFiveDegrees, 8.0f, false, true);
  scene.fx->visibilityIndex = state.range(0) != 0;
  scene.Render(3 * GetTicksPerFrame());
  TimeValue t = 3 * GetTicksPerFrame();
  for (auto _ : state)
    if (!scene.Render(t += GetTicksPerFrame())) state.SkipWithError("the effect logged a failure");
  GrantRenderThreads(0);
}
BENCHMARK(BM_PanningCatalogue)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  bench::Ratios().emplace_back("BM_FillInNextFrames/1/iterations:5/real_time",
                               "BM_FillInNextFrames/0/iterations:5/real_time");
  bench::Ratios().emplace_back("BM_FillInNextFrames/1/iterations:5/real_time",
                               "BM_GeneratedSameCount/iterations:5/real_time");
  bench::Ratios().emplace_back("BM_PanningCatalogue/0/iterations:2/real_time",
                               "BM_PanningCatalogue/1/iterations:2/real_time");
  return bench::Main(argc, argv);
}
