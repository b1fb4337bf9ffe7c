// The render pass at 1920 x 1080 with 10,000,000 cached stars, for four
// settings (defaults; a panning camera with 8 subdivisions; scintillation;
// hyperspace), on the serial reference loop (nothing granted) and on two
// granted threads, with the visibility index and (on two threads) without
// it, against the floor of the same pass: a loop that reads and writes once
// each pixel the pass's drawing calls actually cover (coverage above 0),
// measured in the same run. Also a 100,000,000-star field (2.4 GB of
// records) at defaults and a 3840 x 2160 frame of the 10,000,000 stars,
// each against its own such floor (the 4K ratio also against the 1080p
// one), and the peak memory of the process with the 10,000,000 stars and a
// frame (bench_starfield measures generation).
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "bench_util.h"
#include "covered_pixels.h"
#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"
#include "render/star_loop.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int k4KWidth = 3840, k4KHeight = 2160;
constexpr int kStars = 10'000'000;
constexpr int kHugeStars = 100'000'000;

enum Setting { kDefaults, kPan8, kScintillation, kHyperspace };
const char* const kSettingNames[] = {"defaults", "pan8", "scintillation", "hyperspace"};

// One scene: a camera at the origin looking along world +Y (45 degrees),
// one effect, a bitmap (1920 x 1080 unless given) with both G-buffer
// channels.
struct Scene {
  explicit Scene(int stars = kStars, int w = kWidth, int h = kHeight) : width(w), height(h) {
    camera = ip.CreateNode("Camera001", std::make_unique<CameraObject>(0.785398163f));
    fx = static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
    fx->pblock->SetValue(pb_starscount, 0, stars);
    bitmap = std::make_unique<Bitmap>(width, height, &manager);
    bitmap->CreateChannels(BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID);
  }
  ~Scene() { fx->DeleteMe(); }

  void Use(Setting s) {
    const TimeValue tpf = GetTicksPerFrame();
    TransformKey still;
    still.kind = TransformKey::Kind::Target;
    still.target = Point3(0, 1, 0);
    TransformKey before = still;
    before.time = -tpf;
    before.target = Point3(-0.1f, 1, 0);
    camera->SetTransformKeys(s == kPan8 ? std::vector<TransformKey>{before, still} : std::vector<TransformKey>{still});
    IParamBlock2* pb = fx->pblock;
    pb->SetValue(pb_durationsubdivisions, 0, s == kPan8 ? 8 : 1);
    pb->SetValue(pb_scintillationflag, 0, s == kScintillation ? 1 : 0);
    pb->SetValue(pb_scintillationdx, 0, 2.0f);
    pb->SetValue(pb_hyperspaceflag, 0, s == kHyperspace ? 1 : 0);
    pb->SetValue(pb_hyperspacedepth, 0, 0.02f);  // stars lie within one unit: short streaks
  }

  void Clear() {
    BitmapStorage* st = bitmap->Storage();
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::memset(static_cast<void*>(st->Pixels()), 0, sizeof(BMM_Color_64) * pixels);
    ULONG type = 0;
    std::memset(st->GetChannel(BMM_CHAN_MTL_ID, type), 0, pixels);
    std::memset(st->GetChannel(BMM_CHAN_NODE_ID, type), 0, sizeof(WORD) * pixels);
    RenderInfo* ri = st->AllocRenderInfo();
    ri->SetPerspective(width, height, 0.785398163f);
    ri->worldToCam[0] = ri->worldToCam[1] = Inverse(camera->GetNodeTM(0));
  }

  void Apply() { fx->Apply(0, bitmap.get(), nullptr, nullptr); }

  int width, height;
  Interface ip;
  BitmapManager manager{&ip};
  INode* camera = nullptr;
  Qe_Velumbra* fx = nullptr;
  std::unique_ptr<Bitmap> bitmap;
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

// The pixels each drawing call of a pass covers.
class CoveredCollector : public DrawCallObserver {
 public:
  explicit CoveredCollector(int w = kWidth, int h = kHeight) : width(w), height(h) {}
  void Call(const DrawOp& op) override {
    bench::Shape shape = bench::Shape::kCapsule;
    if (op.kind == DrawOp::kSplat || (op.kind == DrawOp::kCapsule && op.a.x == op.b.x && op.a.y == op.b.y))
      shape = bench::Shape::kDisc;
    else if (op.kind == DrawOp::kTrail)
      shape = bench::Shape::kTrail;
    bench::AddCovered(shape, op.a, op.b, op.r, width, height, runs);
    ++calls;
  }
  int width, height;
  std::vector<bench::Run> runs;
  std::uint64_t calls = 0;
};

// Peak resident memory of the process, run first so that the reference
// boxes collected later do not count (the 10,000,000-star field and
// a 1920 x 1080 bitmap with its G-buffer included).
void BM_PeakMemory(benchmark::State& state) {
  Scene& scene = TheScene();
  scene.Use(kPan8);
  scene.Clear();
  scene.Apply();
  for (auto _ : state) benchmark::DoNotOptimize(scene.fx);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_PeakMemory)->Iterations(1);

void BM_RenderPass(benchmark::State& state) {
  const auto setting = static_cast<Setting>(state.range(0));
  Scene& scene = TheScene();
  scene.Use(setting);
  GrantRenderThreads(static_cast<int>(state.range(1)));
  scene.fx->visibilityIndex = state.range(2) != 0;
  scene.Clear();
  scene.Apply();  // the field is generated once, outside the timing
  for (auto _ : state) {
    state.PauseTiming();
    scene.Clear();
    state.ResumeTiming();
    scene.Apply();
  }
  GrantRenderThreads(0);
  scene.fx->visibilityIndex = true;
  state.SetLabel(kSettingNames[setting]);
}
// threads: the host's grant (0 = nothing granted, the serial reference
// loop); index: 0 visits every star.
BENCHMARK(BM_RenderPass)
    ->ArgsProduct({{kDefaults, kPan8, kScintillation, kHyperspace}, {0, 2}, {1}})
    ->ArgNames({"setting", "threads", "index"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_RenderPass)
    ->ArgsProduct({{kDefaults, kPan8, kScintillation}, {2}, {0}})
    ->ArgNames({"setting", "threads", "index"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Reads and writes once each pixel the pass's calls cover.
void BM_CoveredReference(benchmark::State& state) {
  const auto setting = static_cast<Setting>(state.range(0));
  Scene& scene = TheScene();
  scene.Use(setting);
  scene.Clear();
  CoveredCollector collector;
  scene.fx->drawCallObserver = &collector;
  scene.Apply();
  scene.fx->drawCallObserver = nullptr;
  BMM_Color_64* px = scene.bitmap->Storage()->Pixels();
  for (auto _ : state) {
    bench::TouchRuns(px, kWidth, collector.runs);
    benchmark::ClobberMemory();
  }
  state.counters["pixels"] = static_cast<double>(bench::PixelsOf(collector.runs));
  state.counters["calls"] = static_cast<double>(collector.calls);
  state.SetLabel(kSettingNames[setting]);
}
BENCHMARK(BM_CoveredReference)
    ->Arg(kDefaults)->Arg(kPan8)->Arg(kScintillation)->Arg(kHyperspace)
    ->ArgName("setting")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// 100,000,000 stars at defaults on a 1080p frame.
std::unique_ptr<Scene>& HugeScene() {
  static std::unique_ptr<Scene> scene;
  return scene;
}

// A kept scene's pass timed (the field generated once, outside the timing,
// on two granted threads), and its floor: the pixels its calls cover, read
// and written once. The floor runs after the pass and releases the scene.
void TimeKeptPass(benchmark::State& state, std::unique_ptr<Scene>& scene, int stars, int width, int height) {
  GrantRenderThreads(2);
  scene = std::make_unique<Scene>(stars, width, height);
  scene->Use(kDefaults);
  scene->Clear();
  scene->Apply();
  if (scene->fx->starField.count() != static_cast<std::uint32_t>(stars)) state.SkipWithError("no field");
  for (auto _ : state) {
    state.PauseTiming();
    scene->Clear();
    state.ResumeTiming();
    scene->Apply();
  }
  GrantRenderThreads(0);
}

void TimeKeptFloor(benchmark::State& state, std::unique_ptr<Scene>& scene, const char* pass, int width, int height) {
  if (!scene) {
    state.SkipWithError((std::string("run with ") + pass).c_str());
    return;
  }
  scene->Clear();
  CoveredCollector collector(width, height);
  scene->fx->drawCallObserver = &collector;
  scene->Apply();
  scene->fx->drawCallObserver = nullptr;
  BMM_Color_64* px = scene->bitmap->Storage()->Pixels();
  for (auto _ : state) {
    bench::TouchRuns(px, width, collector.runs);
    benchmark::ClobberMemory();
  }
  state.counters["pixels"] = static_cast<double>(bench::PixelsOf(collector.runs));
  state.counters["calls"] = static_cast<double>(collector.calls);
  scene.reset();
}

void BM_HugeFieldPass(benchmark::State& state) { TimeKeptPass(state, HugeScene(), kHugeStars, kWidth, kHeight); }
// Ten passes: one pass of this size varies by a tenth on a shared machine.
BENCHMARK(BM_HugeFieldPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_HugeCoveredReference(benchmark::State& state) {
  TimeKeptFloor(state, HugeScene(), "BM_HugeFieldPass", kWidth, kHeight);
}
BENCHMARK(BM_HugeCoveredReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The 10,000,000 stars at defaults on a 3840 x 2160 frame.
std::unique_ptr<Scene>& Scene4K() {
  static std::unique_ptr<Scene> scene;
  return scene;
}

void BM_4KPass(benchmark::State& state) { TimeKeptPass(state, Scene4K(), kStars, k4KWidth, k4KHeight); }
BENCHMARK(BM_4KPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_4KCoveredReference(benchmark::State& state) {
  TimeKeptFloor(state, Scene4K(), "BM_4KPass", k4KWidth, k4KHeight);
}
BENCHMARK(BM_4KCoveredReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  for (int s = kDefaults; s <= kHyperspace; ++s) {
    const std::string setting = std::to_string(s);
    const std::string ref = "BM_CoveredReference/setting:" + setting + "/iterations:3/real_time";
    const auto pass = [&](const char* threads, const char* index) {
      return "BM_RenderPass/setting:" + setting + "/threads:" + threads + "/index:" + index + "/iterations:3/real_time";
    };
    bench::Ratios().emplace_back(pass("0", "1"), ref);
    bench::Ratios().emplace_back(pass("2", "1"), ref);
    bench::Ratios().emplace_back(pass("2", "0"), ref);
    bench::Ratios().emplace_back(pass("2", "0"), pass("2", "1"));
    bench::Ratios().emplace_back(pass("0", "1"), pass("2", "1"));
  }
  bench::Ratios().emplace_back("BM_HugeFieldPass/iterations:10/real_time", "BM_HugeCoveredReference/iterations:3/real_time");
  bench::Ratios().emplace_back("BM_4KPass/iterations:10/real_time", "BM_4KCoveredReference/iterations:10/real_time");
  // The 4K frame's ratio to its floor against the 1080p frame's (the
  // 10,000,000 stars at defaults on two threads each).
  bench::RatiosOfRatios().push_back({{"BM_4KPass/iterations:10/real_time", "BM_4KCoveredReference/iterations:10/real_time"},
                                     {"BM_RenderPass/setting:0/threads:2/index:1/iterations:3/real_time",
                                      "BM_CoveredReference/setting:0/iterations:3/real_time"}});
  return bench::Main(argc, argv);
}
