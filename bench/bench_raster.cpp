// Star drawing on a 1920x1080 frame with both G-buffer channels: discs at
// radius 1, 1.5 and 3, full streaks (capsules) and trails of length 10 and
// 100 at radius 1.5. Each is set against a reference loop that only reads
// and writes every pixel of the same boxes once through the host
// (GetPixels + PutPixels), measured in the same run: the ratio is the cost of
// coverage and compositing over the bare pixel traffic.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "bench_util.h"
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

// Reads and writes every pixel of the box trunc(lo - R) .. trunc(hi + R) once.
void TouchBox(Bitmap& bitmap, Point2 lo, Point2 hi, float r) {
  const float R = std::trunc(r + 1.0f);
  const int x0 = static_cast<int>(lo.x - R), x1 = static_cast<int>(hi.x + R);
  const int y0 = static_cast<int>(lo.y - R), y1 = static_cast<int>(hi.y + R);
  BitmapStorage* storage = bitmap.Storage();
  for (int x = x0; x <= x1; ++x)
    for (int y = y0; y <= y1; ++y) {
      BMM_Color_64 p;
      storage->GetPixels(x, y, 1, &p);
      bitmap.PutPixels(x, y, 1, &p);
    }
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

void BM_SplatBoxes(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0)) / 10.0f;
  const std::vector<Segment> stars = Segments(0.0f);
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state)
    for (const Segment& s : stars) TouchBox(bitmap, s.b, s.b, r);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_SplatBoxes)->Arg(10)->Arg(15)->Arg(30);

void BM_Capsule(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state)
    for (const Segment& s : streaks) target.DrawCapsule(s.a, s.b, kStar, kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_Capsule)->Arg(10)->Arg(100);

void BM_Trail(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  PixelTarget target(&SharedFrame().bitmap, PixelTarget::kAdditiveWithAlpha);
  for (float& d : target.streakDimming) d = 0.05f;
  for (auto _ : state)
    for (const Segment& s : streaks) target.DrawTrail(s.a, s.b, kStar, kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_Trail)->Arg(10)->Arg(100);

void BM_StreakBoxes(benchmark::State& state) {
  const std::vector<Segment> streaks = Segments(static_cast<float>(state.range(0)));
  Bitmap& bitmap = SharedFrame().bitmap;
  for (auto _ : state)
    for (const Segment& s : streaks)
      TouchBox(bitmap, Point2(std::min(s.a.x, s.b.x), std::min(s.a.y, s.b.y)),
               Point2(std::max(s.a.x, s.b.x), std::max(s.a.y, s.b.y)), kStreakRadius);
  state.SetItemsProcessed(state.iterations() * kStars);
}
BENCHMARK(BM_StreakBoxes)->Arg(10)->Arg(100);

}  // namespace

int main(int argc, char** argv) {
  for (const char* r : {"10", "15", "30"})
    bench::Ratios().push_back({std::string("BM_Splat/") + r, std::string("BM_SplatBoxes/") + r});
  for (const char* l : {"10", "100"}) {
    bench::Ratios().push_back({std::string("BM_Capsule/") + l, std::string("BM_StreakBoxes/") + l});
    bench::Ratios().push_back({std::string("BM_Trail/") + l, std::string("BM_StreakBoxes/") + l});
  }
  return bench::Main(argc, argv);
}
