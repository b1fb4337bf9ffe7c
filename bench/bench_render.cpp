// The render pass at 1920 x 1080 with 10,000,000 cached stars, for four
// settings (defaults; a panning camera with 8 subdivisions; scintillation;
// hyperspace), each on the serial reference loop and on 1 and 2 workers of
// the parallel loop, against a loop that reads and writes once every pixel
// of the boxes the same drawing calls cover. Also the peak memory of the
// process after the runs (10,000,000 records are 240 MB of it).
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "bench_util.h"
#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"
#include "render/star_loop.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kStars = 10'000'000;

enum Setting { kDefaults, kPan8, kScintillation, kHyperspace };
const char* const kSettingNames[] = {"defaults", "pan8", "scintillation", "hyperspace"};

// One scene: a camera at the origin looking along world +Y (45 degrees),
// one effect, a 1920 x 1080 bitmap with both G-buffer channels.
struct Scene {
  Scene() {
    camera = ip.CreateNode("Camera001", std::make_unique<CameraObject>(0.785398163f));
    fx = static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
    fx->pblock->SetValue(pb_starscount, 0, kStars);
    bitmap = std::make_unique<Bitmap>(kWidth, kHeight, &manager);
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
    std::memset(static_cast<void*>(st->Pixels()), 0, sizeof(BMM_Color_64) * kWidth * kHeight);
    ULONG type = 0;
    std::memset(st->GetChannel(BMM_CHAN_MTL_ID, type), 0, static_cast<size_t>(kWidth) * kHeight);
    std::memset(st->GetChannel(BMM_CHAN_NODE_ID, type), 0, sizeof(WORD) * kWidth * kHeight);
    RenderInfo* ri = st->AllocRenderInfo();
    ri->SetPerspective(kWidth, kHeight, 0.785398163f);
    ri->worldToCam[0] = ri->worldToCam[1] = Inverse(camera->GetNodeTM(0));
  }

  void Apply() { fx->Apply(0, bitmap.get(), nullptr, nullptr); }

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

// The pixel box a drawing call may touch, as the drawing operations clip it.
struct Box {
  std::int16_t x0, x1, y0, y1;
};

class BoxCollector : public DrawCallObserver {
 public:
  void Call(const DrawOp& op) override {
    if (!(op.r > 0.0f)) return;
    const float R = std::trunc(op.r + 1.0f);
    const float lx = std::min(op.a.x, op.b.x) - R, hx = std::max(op.a.x, op.b.x) + R;
    const float ly = std::min(op.a.y, op.b.y) - R, hy = std::max(op.a.y, op.b.y) + R;
    if (!(hx >= 0.0f && lx <= kWidth - 1.0f && hy >= 0.0f && ly <= kHeight - 1.0f)) return;
    boxes.push_back({static_cast<std::int16_t>(std::max(0.0f, lx)), static_cast<std::int16_t>(std::min(kWidth - 1.0f, hx)),
                     static_cast<std::int16_t>(std::max(0.0f, ly)), static_cast<std::int16_t>(std::min(kHeight - 1.0f, hy))});
  }
  std::vector<Box> boxes;
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
  scene.Clear();
  scene.Apply();  // the field is generated once, outside the timing
  for (auto _ : state) {
    state.PauseTiming();
    scene.Clear();
    state.ResumeTiming();
    scene.Apply();
  }
  GrantRenderThreads(0);
  state.SetLabel(kSettingNames[setting]);
}
// threads: the host's grant; 0 = nothing granted, the serial reference loop.
BENCHMARK(BM_RenderPass)
    ->ArgsProduct({{kDefaults, kPan8, kScintillation, kHyperspace}, {0, 2}})
    ->ArgNames({"setting", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Reads and writes once every pixel of every box the pass's calls cover.
void BM_PixelReference(benchmark::State& state) {
  const auto setting = static_cast<Setting>(state.range(0));
  Scene& scene = TheScene();
  scene.Use(setting);
  scene.Clear();
  BoxCollector collector;
  scene.fx->drawCallObserver = &collector;
  scene.Apply();
  scene.fx->drawCallObserver = nullptr;
  BMM_Color_64* px = scene.bitmap->Storage()->Pixels();
  std::uint64_t pixels = 0;
  for (auto _ : state) {
    pixels = 0;
    for (const Box& b : collector.boxes) {
      for (int x = b.x0; x <= b.x1; ++x) {
        for (int y = b.y0; y <= b.y1; ++y) {
          BMM_Color_64& p = px[static_cast<size_t>(y) * kWidth + x];
          p.r = static_cast<WORD>(p.r + 1);
        }
      }
      pixels += static_cast<std::uint64_t>(b.x1 - b.x0 + 1) * (b.y1 - b.y0 + 1);
    }
    benchmark::DoNotOptimize(px);
  }
  state.counters["pixels"] = static_cast<double>(pixels);
  state.counters["calls"] = static_cast<double>(collector.boxes.size());
  state.SetLabel(kSettingNames[setting]);
}
BENCHMARK(BM_PixelReference)
    ->Arg(kDefaults)->Arg(kPan8)->Arg(kScintillation)->Arg(kHyperspace)
    ->ArgName("setting")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);


}  // namespace

int main(int argc, char** argv) {
  for (int s = kDefaults; s <= kHyperspace; ++s) {
    const std::string ref = "BM_PixelReference/setting:" + std::to_string(s) + "/iterations:3/real_time";
    for (int threads : {0, 2}) {
      bench::Ratios().emplace_back("BM_RenderPass/setting:" + std::to_string(s) + "/threads:" + std::to_string(threads) +
                                       "/iterations:3/real_time",
                                   ref);
    }
    bench::Ratios().emplace_back("BM_RenderPass/setting:" + std::to_string(s) + "/threads:0/iterations:3/real_time",
                                 "BM_RenderPass/setting:" + std::to_string(s) + "/threads:2/iterations:3/real_time");
  }
  return bench::Main(argc, argv);
}
