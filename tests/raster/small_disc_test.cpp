// Small discs (the radii of most stars) are drawn by their own loop over the
// few pixels they can reach; its images, alpha and ID channels must be the
// straightforward per-pixel drawing's (boxLoops) to the bit: every apply
// method and one that is none, alpha on and off, each mask, ID stamps,
// bands of rows, images down to one pixel wide or high, centres on and
// beyond every edge, NaN and infinite centres and radii, radii just above
// 0, below 1, around the limits of the 4x4 and 8x8 windows (1.98 and 3.96)
// and huge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "canvas.h"
#include "raster/pixel_target.h"
#include "raster/reference_drawing.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Disc {
  Point2 c;
  BMM_Color_64 colour;
  float r;
};

struct Settings {
  int width, height;
  int method;
  bool writeAlpha, materialMask, objectMask, stampIds;
  int clipY0, clipY1;
};

std::string Describe(const Settings& s) {
  std::ostringstream os;
  os << s.width << "x" << s.height << ", method " << s.method << ", alpha " << s.writeAlpha << ", masks "
     << s.materialMask << s.objectMask << ", IDs " << s.stampIds << ", rows " << s.clipY0 << ".." << s.clipY1;
  return os.str();
}

// Pixels, material IDs and object IDs, one after the other, as bytes.
std::vector<std::uint8_t> Draw(const Settings& s, const std::vector<Disc>& discs, bool reference) {
  Canvas c(s.width, s.height);
  constexpr WORD kAlphas[] = {0, 1, 16320, 32639, 32640, 32641, 65279, 65280, 65281, 65535};
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x) {
      const int i = y * s.width + x;
      c.Set(x, y, {static_cast<WORD>((5000 + i * 613) % 65536), static_cast<WORD>(i * 997 % 60000),
                   static_cast<WORD>(x * 700), kAlphas[(x + 3 * y + 2) % 10]});
      c.MaterialIds()[i] = static_cast<UBYTE>((x + y) % 3 == 0);
      c.ObjectIds()[i] = static_cast<WORD>((x * 7 + y) % 4 == 0);
    }
  PixelTarget t(&c.bitmap, static_cast<UBYTE>(s.method));
  t.writeAlpha = s.writeAlpha;
  t.matchMaterialId = s.materialMask;
  t.materialIdToMatch = 1;
  t.matchObjectId = s.objectMask;
  t.objectIdToMatch = 1;
  t.writeMaterialId = s.stampIds;
  t.materialIdToWrite = 1;  // which the material mask lets through later
  t.writeObjectId = s.stampIds;
  t.objectIdToWrite = 0x10001;
  t.clipY0 = s.clipY0;
  t.clipY1 = s.clipY1;
  t.boxLoops = reference ? &raster::ReferenceDrawing() : nullptr;
  for (const Disc& d : discs) t.DrawSplat(d.c, d.colour, d.r);
  const std::size_t n = static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
  std::vector<std::uint8_t> out(n * (sizeof(BMM_Color_64) + 1 + sizeof(WORD)));
  std::memcpy(out.data(), c.bitmap.Storage()->Pixels(), n * sizeof(BMM_Color_64));
  std::memcpy(out.data() + n * sizeof(BMM_Color_64), c.MaterialIds(), n);
  std::memcpy(out.data() + n * (sizeof(BMM_Color_64) + 1), c.ObjectIds(), n * sizeof(WORD));
  return out;
}

std::ostream& operator<<(std::ostream& os, const Disc& d) {
  return os << std::setprecision(9) << "(" << d.c.x << ", " << d.c.y << ") r " << d.r << " colour " << d.colour;
}

// Draws the discs both ways and names the first disc whose drawing differs;
// returns the number of bytes the discs changed.
int ExpectReferenceBytes(const Settings& s, const std::vector<Disc>& discs) {
  const std::vector<std::uint8_t> before = Draw(s, {}, true);
  const std::vector<std::uint8_t> reference = Draw(s, discs, true);
  if (Draw(s, discs, false) != reference) {
    std::size_t lo = 0, hi = discs.size();  // the first lo discs agree, the first hi do not
    while (hi - lo > 1) {
      const std::size_t mid = (lo + hi) / 2;
      const std::vector<Disc> prefix(discs.begin(), discs.begin() + static_cast<std::ptrdiff_t>(mid));
      (Draw(s, prefix, false) == Draw(s, prefix, true) ? lo : hi) = mid;
    }
    ADD_FAILURE() << "differs from disc " << hi - 1 << ": " << discs[hi - 1];
  }
  int changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != reference[i];
  return changed;
}

// Radii around every limit of the drawing, including both sides of the
// small-disc limits, and ordinary ones over all three loops otherwise.
float EdgeRadius(Random& rng, float unit) {
  static const float kEdges[] = {std::numeric_limits<float>::denorm_min(),
                                 1e-30f,
                                 1e-7f,
                                 0.01f,
                                 0.5f,
                                 0.999f,
                                 1.0f,
                                 1.0000001f,
                                 1.4142135f,
                                 1.5f,
                                 1.97f,
                                 std::nextafter(1.98f, 0.0f),
                                 1.98f,
                                 std::nextafter(1.98f, 2.0f),
                                 1.985f,
                                 1.99f,
                                 2.0f,
                                 2.5f,
                                 3.0f,
                                 std::nextafter(3.96f, 0.0f),
                                 3.96f,
                                 std::nextafter(3.96f, 4.0f),
                                 3.97f,
                                 4.0f,
                                 1e6f,
                                 kInf,
                                 kNaN,
                                 0.0f,
                                 -1.0f};
  if (unit < 0.3f) return kEdges[rng.rand() % (sizeof kEdges / sizeof kEdges[0])];
  return static_cast<float>(rng.rand() % 4300) / 1000.0f;  // 0 .. 4.3
}

// Discs at random over and around an image of the given size: centres up to
// 4 pixels beyond every edge, on whole and half pixels, NaN and infinite.
std::vector<Disc> RandomDiscs(unsigned seed, int count, int width, int height) {
  Random rng;
  rng.srand(seed);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  const auto coordinate = [&](int size) -> float {
    const float u = unit();
    if (u < 0.02f) return kNaN;
    if (u < 0.04f) return unit() < 0.5f ? kInf : -kInf;
    const float at = unit() * static_cast<float>(size + 8) - 4.0f;
    if (u < 0.15f) return std::round(at);
    if (u < 0.25f) return std::round(at) + 0.5f;
    return at;
  };
  constexpr WORD kAlphas[] = {0, 32639, 32640, 40000, 65279, 65280, 65535};
  std::vector<Disc> discs;
  for (int i = 0; i < count; ++i) {
    Disc d;
    d.c = Point2(coordinate(width), coordinate(height));
    const auto channel = [&] { return rng.rand() % 8 == 0 ? WORD{65535} : static_cast<WORD>(rng.rand() % 65281); };
    d.colour = {channel(), channel(), channel(), kAlphas[rng.rand() % 7]};
    d.r = EdgeRadius(rng, unit());
    discs.push_back(d);
  }
  return discs;
}

}  // namespace

TEST(SmallDisc, EveryMethodFlagAndMaskGivesTheReferenceBytes) {
  for (int method : {0, 1, 2, 3, 4, 9})
    for (bool writeAlpha : {false, true})
      for (int masks = 0; masks < 4; ++masks)
        for (bool ids : {false, true}) {
          const Settings s{23, 17, method, writeAlpha, (masks & 1) != 0, (masks & 2) != 0, ids, 0, 16};
          SCOPED_TRACE(Describe(s));
          const unsigned seed = static_cast<unsigned>(method * 16 + masks * 4 + writeAlpha * 2 + ids);
          EXPECT_GT(ExpectReferenceBytes(s, RandomDiscs(seed, 300, s.width, s.height)), 0);
        }
}

TEST(SmallDisc, ThinImagesAndBandsOfRowsGiveTheReferenceBytes) {
  struct Shape {
    int width, height, clipY0, clipY1;
  };
  const Shape shapes[] = {{1, 1, 0, 0},  {1, 9, 0, 8},   {9, 1, 0, 0},   {2, 2, 0, 1},   {5, 3, 0, 2},
                          {40, 30, 0, 29}, {40, 30, 8, 15}, {40, 30, 13, 13}, {40, 30, 0, 0}, {40, 30, 29, 29},
                          {1, 30, 4, 6}};
  for (const Shape& shape : shapes)
    for (int method : {0, 1, 3, 4}) {
      const Settings s{shape.width, shape.height, method, true, false, method == 1, true, shape.clipY0, shape.clipY1};
      SCOPED_TRACE(Describe(s));
      const unsigned seed = static_cast<unsigned>(shape.width * 1000 + shape.height * 10 + method);
      EXPECT_GT(ExpectReferenceBytes(s, RandomDiscs(seed, 400, shape.width, shape.height)), 0);
    }
}

TEST(SmallDisc, CentresOnTheQuarterPixelGridGiveTheReferenceBytes) {
  // Whole, half and quarter pixel centres put pixels exactly at the rim
  // (coverage exactly 0, drawn by neither) and exactly at full coverage.
  std::vector<Disc> discs;
  for (float r : {0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 1.75f, 1.98f, 2.0f, 2.5f, 3.0f, 3.96f, 4.0f})
    for (int qx = 0; qx < 4; ++qx)
      for (int qy = 0; qy < 4; ++qy)
        discs.push_back({Point2(5.0f + 6.0f * static_cast<float>(qx) + 0.25f * static_cast<float>(qx),
                                5.0f + 6.0f * static_cast<float>(qy) + 0.25f * static_cast<float>(qy)),
                         {30000, 20000, 10000, 65280}, r});
  for (int method : {0, 2, 4}) {
    const Settings s{30, 30, method, true, false, false, false, 0, 29};
    SCOPED_TRACE(Describe(s));
    EXPECT_GT(ExpectReferenceBytes(s, discs), 0);
  }
}

TEST(SmallDisc, ManySeedsOfRandomDiscs) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const int width = 1 + static_cast<int>(seed * 7 % 31), height = 1 + static_cast<int>(seed * 11 % 23);
    const int clipY0 = static_cast<int>(seed % 3 == 0 ? seed % static_cast<unsigned>(height) : 0);
    const Settings s{width,         height,        static_cast<int>(seed % 6), seed % 2 == 0, seed % 7 == 0,
                     seed % 5 == 0, seed % 3 != 0, clipY0,                      height - 1};
    SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << Describe(s));
    ExpectReferenceBytes(s, RandomDiscs(seed * 7919, 200, width, height));
  }
}

TEST(SmallDisc, VisitsItsPixelsInTheReferenceOrder) {
  // Channels that share memory make the order within one disc visible
  // (SharedIdCanvas); both loops must let the same pixels through.
  constexpr int kW = 12, kH = 12;
  const auto draw = [&](bool reference) {
    SharedIdCanvas c(kW, kH, PixelTarget::kSimpleAdditive);
    c.target.boxLoops = reference ? &raster::ReferenceDrawing() : nullptr;
    Random rng;
    rng.srand(31);
    const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
    for (int i = 0; i < 40; ++i)
      c.target.DrawSplat(Point2(unit() * 14.0f - 1.0f, unit() * 14.0f - 1.0f), kWhite, 1.0f + unit() * 2.96f);
    return std::make_pair(c.Pixels(), c.shared);
  };
  const auto fast = draw(false), reference = draw(true);
  EXPECT_TRUE(fast.first == reference.first);
  EXPECT_EQ(fast.second, reference.second);
}
