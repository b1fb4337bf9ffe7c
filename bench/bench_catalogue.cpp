// Catalogue stars at 1920 x 1080 through a 30 degree lens on two granted
// threads, with the light layer an OpenEXR output asks for: the first frame
// of KStars' 126k-star stars.dat (read through the file service, parsed,
// placed, drawn) and the frames after it (placed again at their time,
// drawn, the parse cached), against a generated field of the same count.
#include <filesystem>

#include "bench_util.h"
#include "sky_frame.h"

namespace {

constexpr const char* kCatalogue = bench::kKStarsCatalogue;
constexpr float kFov = 0.523598776f;  // 30 degrees

struct Scene : bench::SkyFrame {
  explicit Scene(bool catalogue) : SkyFrame(kFov) {
    Configure(catalogue);
    Render(0);  // the pages faulted in once
    // A new effect, which has not read the catalogue yet.
    if (catalogue) {
      fx->DeleteMe();
      fx = NewEffect();
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
