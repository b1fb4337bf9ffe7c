// Star drawing on a 1920x1080 frame with both G-buffer channels: discs at
// radius 1, 1.5, 3 and 3.9 spread over the frame and crowded in a corner that
// stays in the cache, full streaks (capsules) and trails of length 10, 100
// and 170 at radius 1.5. Each is set against the floor of the same calls:
// a loop that reads and writes once, directly in the pixel array, only the
// pixels the calls actually cover (coverage above 0, found beforehand with
// an independent distance test), measured in the same run. The ratio is the
// cost of finding, weighting and compositing those pixels. Capsules and
// trails are also drawn by the straightforward loops over their whole box
// (boxLoops), and motion-blur chains of a panning camera (a capsule and
// seven trails per star) both ways.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "bench_util.h"
#include "covered_pixels.h"
#include "raster/pixel_target.h"
#include "raster/reference_drawing.h"

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
BENCHMARK(BM_Splat)->Arg(10)->Arg(15)->Arg(30)->Arg(39);

void BM_SplatCovered(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0)) / 10.0f;
  const std::vector<bench::Run> runs = Covered(Segments(0.0f), r, bench::Shape::kDisc);
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state) TouchCovered(bitmap, runs);
  state.SetItemsProcessed(state.iterations() * kStars);
  state.counters["pixels_per_call"] = static_cast<double>(bench::PixelsOf(runs)) / kStars;
}
BENCHMARK(BM_SplatCovered)->Arg(10)->Arg(15)->Arg(30)->Arg(39);

// Disc centres within a 112 x 48 pixel corner of the frame (about 43 KB of
// pixels, which stay in the cache): the cost of a call's instructions
// alone, without the misses of stars spread over the whole frame.
std::vector<Segment> HotPoints() {
  Random rng;
  rng.srand(2424);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  std::vector<Segment> out(kStars);
  for (Segment& s : out) s.a = s.b = Point2(8.0f + unit() * 96.0f, 8.0f + unit() * 32.0f);
  return out;
}

void BM_SplatHot(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0)) / 10.0f;
  const std::vector<Segment> stars = HotPoints();
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  for (auto _ : state)
    for (const Segment& s : stars) target.DrawSplat(s.b, kStar, r);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_SplatHot)->Arg(10)->Arg(15)->Arg(30)->Arg(39);

void BM_SplatHotCovered(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0)) / 10.0f;
  const std::vector<bench::Run> runs = Covered(HotPoints(), r, bench::Shape::kDisc);
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state) TouchCovered(bitmap, runs);
  state.SetItemsProcessed(state.iterations() * kStars);
  state.counters["pixels_per_call"] = static_cast<double>(bench::PixelsOf(runs)) / kStars;
}
BENCHMARK(BM_SplatHotCovered)->Arg(10)->Arg(15)->Arg(30)->Arg(39);

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
  target.boxLoops = &raster::ReferenceDrawing();
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

// The straightforward loop for trails, for comparison.
void BM_TrailBoxLoop(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  target.boxLoops = &raster::ReferenceDrawing();
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state)
    for (const Segment& s : streaks) target.DrawTrail(s.a, s.b, kStar, kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_TrailBoxLoop)->Arg(10)->Arg(100)->Arg(170);

// Motion-blur paths of a panning camera: per star a capsule and then seven
// trails back to the point before, each segment about 30 pixels nearly
// along the rows, at radius 1 or 1.5 (the stars' sizes), as the render pass
// draws them with 8 subdivisions.
struct Chain {
  Point2 points[9];
  float r;
};
constexpr int kChains = kStars / 8;

std::vector<Chain> PanChains() {
  Random rng;
  rng.srand(777);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  std::vector<Chain> out(kChains);
  for (Chain& c : out) {
    const float dx = 26.0f + unit() * 8.0f, dy = (unit() - 0.5f) * 3.0f;
    Point2 p(20.0f + unit() * (kWidth - 300.0f), 20.0f + unit() * (kHeight - 40.0f));
    for (Point2& q : c.points) {
      q = p;
      p = Point2(p.x + dx, p.y + dy);
    }
    c.r = unit() < 0.5f ? 1.0f : 1.5f;
  }
  return out;
}

void DrawChains(PixelTarget& target, const std::vector<Chain>& chains) {
  for (const Chain& c : chains) {
    target.DrawCapsule(c.points[0], c.points[1], kStar, c.r);
    for (int k = 2; k < 9; ++k) target.DrawTrail(c.points[k], c.points[k - 1], kStar, c.r);
  }
}

void BM_PanChain(benchmark::State& state) {
  const std::vector<Chain> chains = PanChains();
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  target.boxLoops = state.range(0) != 0 ? &raster::ReferenceDrawing() : nullptr;
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state) DrawChains(target, chains);
  state.SetItemsProcessed(state.iterations() * kChains * 8);
}
// 0: the drawing as the render pass runs it; 1: the straightforward loops.
BENCHMARK(BM_PanChain)->Arg(0)->Arg(1)->ArgName("boxLoops");

void BM_PanChainCovered(benchmark::State& state) {
  std::vector<bench::Run> runs;
  for (const Chain& c : PanChains()) {
    bench::AddCovered(bench::Shape::kCapsule, c.points[0], c.points[1], c.r, kWidth, kHeight, runs);
    for (int k = 2; k < 9; ++k)
      bench::AddCovered(bench::Shape::kTrail, c.points[k], c.points[k - 1], c.r, kWidth, kHeight, runs);
  }
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state) TouchCovered(bitmap, runs);
  state.SetItemsProcessed(state.iterations() * kChains * 8);
  state.counters["pixels_per_call"] = static_cast<double>(bench::PixelsOf(runs)) / (kChains * 8);
}
BENCHMARK(BM_PanChainCovered);

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
  for (const char* r : {"10", "15", "30", "39"})
  {
    bench::Ratios().push_back({std::string("BM_Splat/") + r, std::string("BM_SplatCovered/") + r});
    bench::Ratios().push_back({std::string("BM_SplatHot/") + r, std::string("BM_SplatHotCovered/") + r});
  }
  for (const char* l : {"10", "100", "170"}) {
    bench::Ratios().push_back({std::string("BM_Capsule/") + l, std::string("BM_StreakCovered/") + l});
    bench::Ratios().push_back({std::string("BM_CapsuleBoxLoop/") + l, std::string("BM_StreakCovered/") + l});
    bench::Ratios().push_back({std::string("BM_Trail/") + l, std::string("BM_TrailCovered/") + l});
    bench::Ratios().push_back({std::string("BM_TrailBoxLoop/") + l, std::string("BM_TrailCovered/") + l});
  }
  bench::Ratios().push_back({"BM_PanChain/boxLoops:0", "BM_PanChainCovered"});
  bench::Ratios().push_back({"BM_PanChain/boxLoops:1", "BM_PanChainCovered"});
  return bench::Main(argc, argv);
}
