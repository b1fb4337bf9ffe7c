// Discs and streaks that visit only the rows each column can cover give the
// image and ID channels of the straightforward loop over the whole box, to
// the bit:
// random segments of every length and direction, crossing and touching the
// image edges, far-out ends, every apply method with ID stamping, and bands
// of rows as the parallel loop clips them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "canvas.h"
#include "raster/pixel_target.h"

namespace {

constexpr int kW = 97, kH = 61;

// A background whose alpha, colour and IDs vary, so masks, alpha weighting
// and ID stamping (seen by later pixels) all take part.
void Fill(Canvas& c) {
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      c.Set(x, y, {static_cast<WORD>(x * 613 % 60000), static_cast<WORD>(y * 997 % 60000), 1234,
                   static_cast<WORD>((x + 3 * y) % 5 * 16320)});
      c.MaterialIds()[y * kW + x] = static_cast<UBYTE>(x / 9 % 2);
      c.ObjectIds()[y * kW + x] = static_cast<WORD>(y / 7 % 3);
    }
}

struct Frame {
  std::vector<BMM_Color_64> pixels;
  std::vector<UBYTE> materialIds;
  std::vector<WORD> objectIds;
  bool operator==(const Frame& o) const {
    return std::memcmp(pixels.data(), o.pixels.data(), pixels.size() * sizeof(BMM_Color_64)) == 0 &&
           materialIds == o.materialIds && objectIds == o.objectIds;
  }
};

Frame Snapshot(Canvas& c) {
  Frame f;
  const BMM_Color_64* px = c.bitmap.Storage()->Pixels();
  f.pixels.assign(px, px + kW * kH);
  f.materialIds.assign(c.MaterialIds(), c.MaterialIds() + kW * kH);
  f.objectIds.assign(c.ObjectIds(), c.ObjectIds() + kW * kH);
  return f;
}

struct Segment {
  Point2 a, b;
  float r;
};

// Seeded segments: short and long, every direction, ends inside, on and
// beyond the edges (and on whole and half pixels), some far out.
std::vector<Segment> Segments(unsigned seed, int count) {
  Random rng;
  rng.srand(seed);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  const auto coordinate = [&](float size) {
    const float u = unit();
    if (u < 0.15f) return std::round(unit() * size);          // a whole pixel
    if (u < 0.25f) return std::round(unit() * size) + 0.5f;  // between pixels
    if (u < 0.30f) return unit() < 0.5f ? -0.5f : size - 0.5f;  // on the frame's edge
    if (u < 0.35f) return (unit() - 0.5f) * 2e5f;             // far out
    return unit() * (size + 40.0f) - 20.0f;
  };
  std::vector<Segment> out;
  for (int i = 0; i < count; ++i) {
    Segment s;
    s.a = Point2(coordinate(kW), coordinate(kH));
    const float kind = unit();
    if (kind < 0.2f) {
      s.b = Point2(s.a.x + (unit() - 0.5f) * 4.0f, s.a.y + (unit() - 0.5f) * 4.0f);  // short
    } else if (kind < 0.3f) {
      s.b = Point2(s.a.x, coordinate(kH));  // vertical
    } else if (kind < 0.4f) {
      s.b = Point2(coordinate(kW), s.a.y);  // horizontal
    } else {
      s.b = Point2(coordinate(kW), coordinate(kH));
    }
    const float rk = unit();
    s.r = rk < 0.1f ? 0.3f : rk < 0.8f ? 0.5f + unit() * 3.0f : 4.0f + unit() * 12.0f;
    out.push_back(s);
  }
  return out;
}

// Draws the segments with one PixelTarget set-up, with and without row
// spans, and expects the same frames.
void ExpectSameAsBoxLoop(int method, bool writeAlpha, int clipY0, int clipY1, unsigned seed) {
  const std::vector<Segment> segments = Segments(seed, 400);
  for (int shape : {0, 1, 2}) {  // capsule, trail, disc at a
    Canvas spans(kW, kH), boxes(kW, kH);
    Fill(spans);
    Fill(boxes);
    int changed = 0;
    for (Canvas* c : {&spans, &boxes}) {
      PixelTarget t(&c->bitmap, static_cast<UBYTE>(method));
      t.writeAlpha = writeAlpha;
      t.writeMaterialId = 1;
      t.materialIdToWrite = 7;
      t.writeObjectId = 1;
      t.objectIdToWrite = 300;
      t.matchObjectId = method == 2;
      t.objectIdToMatch = 1;
      t.streakDimming[0] = 0.02f;
      t.streakDimming[3] = 0.01f;
      t.clipY0 = clipY0;
      t.clipY1 = clipY1;
      t.boxLoops = c == &boxes;
      for (const Segment& s : segments) {
        const Frame before = c == &spans ? Snapshot(*c) : Frame{};
        if (shape == 1)
          t.DrawTrail(s.a, s.b, {50000, 40000, 30000, 60000}, s.r);
        else if (shape == 0)
          t.DrawCapsule(s.a, s.b, {50000, 40000, 30000, 60000}, s.r);
        else
          t.DrawSplat(s.a, {50000, 40000, 30000, 60000}, s.r);
        if (c == &spans) changed += !(Snapshot(*c) == before);
      }
    }
    EXPECT_TRUE(Snapshot(spans) == Snapshot(boxes)) << (shape == 0 ? "capsules" : shape == 1 ? "trails" : "discs");
    EXPECT_GT(changed, shape == 2 ? 20 : 40) << "many calls reach the image";
  }
}

TEST(StreakRows, EveryApplyMethodGivesTheBoxLoopsFrame) {
  for (int method = 0; method <= 4; ++method) {
    for (bool writeAlpha : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "method " << method << ", alpha " << writeAlpha);
      ExpectSameAsBoxLoop(method, writeAlpha, 0, kH - 1, 100 + static_cast<unsigned>(method));
    }
  }
}

TEST(StreakRows, BandsOfRowsGiveTheBoxLoopsFrame) {
  for (const auto& [y0, y1] : std::vector<std::pair<int, int>>{{0, 31}, {32, 60}, {13, 13}, {20, 44}}) {
    SCOPED_TRACE(::testing::Message() << "rows " << y0 << ".." << y1);
    ExpectSameAsBoxLoop(0, true, y0, y1, 7);
  }
}

TEST(StreakRows, ManySeedsOfEdgesAndFarEnds) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    ExpectSameAsBoxLoop(static_cast<int>(seed % 5), seed % 2 == 0, 0, kH - 1, seed * 7919);
  }
}

}  // namespace
