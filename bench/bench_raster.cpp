// Star drawing on a 1920x1080 frame with both G-buffer channels: discs at
// radius 1, 1.5 and 3, full streaks (capsules) and trails of length 10, 100
// and 170 at radius 1.5. Each is set against the floor of the same calls:
// a loop that reads and writes once, directly in the pixel array, only the
// pixels the calls actually cover (coverage above 0, found beforehand with
// an independent distance test), measured in the same run. The ratio is the
// cost of finding, weighting and compositing those pixels. Capsules are
// also drawn by the straightforward loop over their whole box.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "bench_util.h"
#include "covered_pixels.h"
#include "raster/pixel_target.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kStars = 4096;  // drawn per iteration
constexpr float kStreakRadius = 1.5f;

struct Frame {
  Frame() : bitmap(kWidth, kHeight) {
    bitmap.CreateChannels(BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID);
    BMM_Color_64* pixels = bitmap.Storage()->Pixels();
    for (int i = 0; i < kWidth * kHeight; ++i)
      pixels[i] = {static_cast<WORD>(i % 9000), 4000, 2000, static_cast<WORD>((i * 7) % 65280)};
  }
  Bitmap bitmap;
};

Frame& SharedFrame() {
  static Frame frame;
  return frame;
}

// Seeded segments a -> b of the given length (0: points), kept `length` + 8
// pixels inside the frame so that no box is clipped.
struct Segment {
  Point2 a, b;
};
std::vector<Segment> Segments(float length) {
  Random rng;
  rng.srand(4242);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  const float margin = length + 8.0f;
  std::vector<Segment> out(kStars);
  for (Segment& s : out) {
    s.b = Point2(margin + unit() * (kWidth - 2 * margin), margin + unit() * (kHeight - 2 * margin));
    const float angle = unit() * 6.2831853f;
    s.a = Point2(s.b.x + length * std::cos(angle), s.b.y + length * std::sin(angle));
  }
  return out;
}

const BMM_Color_64 kStar{52000, 50000, 47000, 65280};

// The covered runs of each segment drawn as `shape`.
std::vector<bench::Run> Covered(const std::vector<Segment>& segments, float r, bench::Shape shape) {
  std::vector<bench::Run> runs;
  for (const Segment& s : segments) bench::AddCovered(shape, s.a, s.b, r, kWidth, kHeight, runs);
  return runs;
}

void TouchCovered(Bitmap& bitmap, const std::vector<bench::Run>& runs) {
  bench::TouchRuns(bitmap.Storage()->Pixels(), kWidth, runs);
  benchmark::ClobberMemory();
}

void BM_Splat(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0)) / 10.0f;
  const std::vector<Segment> stars = Segments(0.0f);
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  for (auto _ : state)
    for (const Segment& s : stars) target.DrawSplat(s.b, kStar, r);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_Splat)->Arg(10)->Arg(15)->Arg(30);

void BM_SplatCovered(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0)) / 10.0f;
  const std::vector<bench::Run> runs = Covered(Segments(0.0f), r, bench::Shape::kDisc);
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state) TouchCovered(bitmap, runs);
  state.SetItemsProcessed(state.iterations() * kStars);
  state.counters["pixels_per_call"] = static_cast<double>(bench::PixelsOf(runs)) / kStars;
}
BENCHMARK(BM_SplatCovered)->Arg(10)->Arg(15)->Arg(30);

void BM_Capsule(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state)
    for (const Segment& s : streaks) target.DrawCapsule(s.a, s.b, kStar, kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_Capsule)->Arg(10)->Arg(100)->Arg(170);

// The straightforward loop over each streak's whole box, for comparison.
void BM_CapsuleBoxLoop(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  target.boxLoops = true;
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state)
    for (const Segment& s : streaks) target.DrawCapsule(s.a, s.b, kStar, kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_CapsuleBoxLoop)->Arg(10)->Arg(100)->Arg(170);

void BM_Trail(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state)
    for (const Segment& s : streaks) target.DrawTrail(s.a, s.b, kStar, kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_Trail)->Arg(10)->Arg(100)->Arg(170);

void BM_StreakCovered(benchmark::State& state) {
  const std::vector<bench::Run> runs = Covered(Segments(static_cast<float>(state.range(0))), kStreakRadius, bench::Shape::kCapsule);
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state) TouchCovered(bitmap, runs);
  state.SetItemsProcessed(state.iterations() * kStars);
  state.counters["pixels_per_call"] = static_cast<double>(bench::PixelsOf(runs)) / kStars;
}
BENCHMARK(BM_StreakCovered)->Arg(10)->Arg(100)->Arg(170);

void BM_TrailCovered(benchmark::State& state) {
  const std::vector<bench::Run> runs = Covered(Segments(static_cast<float>(state.range(0))), kStreakRadius, bench::Shape::kTrail);
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state) TouchCovered(bitmap, runs);
  state.SetItemsProcessed(state.iterations() * kStars);
  state.counters["pixels_per_call"] = static_cast<double>(bench::PixelsOf(runs)) / kStars;
}
BENCHMARK(BM_TrailCovered)->Arg(10)->Arg(100)->Arg(170);

}  // namespace

int main(int argc, char** argv) {
  for (const char* r : {"10", "15", "30"})
    bench::Ratios().push_back({std::string("BM_Splat/") + r, std::string("BM_SplatCovered/") + r});
  for (const char* l : {"10", "100", "170"}) {
    bench::Ratios().push_back({std::string("BM_Capsule/") + l, std::string("BM_StreakCovered/") + l});
    bench::Ratios().push_back({std::string("BM_CapsuleBoxLoop/") + l, std::string("BM_StreakCovered/") + l});
    bench::Ratios().push_back({std::string("BM_Trail/") + l, std::string("BM_TrailCovered/") + l});
  }
  return bench::Main(argc, argv);
}
