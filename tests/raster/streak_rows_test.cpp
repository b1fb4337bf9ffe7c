// Discs and streaks that visit only the rows each column can cover (and
// shallow streaks, only the columns each row can cover) give the image and
// ID channels of the straightforward loop over the whole box, to the bit:
// random segments of every length and direction, crossing and touching the
// image edges, far-out ends, every apply method with ID stamping, and bands
// of rows as the parallel loop clips them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
      t.boxLoops = c == &boxes ? &raster::ReferenceDrawing() : nullptr;
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

// --- The specialised drawing against the reference (boxLoops): every apply
// method (and one that is none), alpha on and off, each mask, ID stamps,
// G-buffer channels present or absent, bands of rows, and calls at every
// edge: NaN and infinite points and radii, radii just above 0, below 1 and
// huge, ends far outside the image, channels above the 8.8 full scale.

namespace {

enum class Kind { kSplat, kCapsule, kTrail };

struct Call {
  Kind kind;
  Point2 a, b;
  BMM_Color_64 colour;
  float r;
};

struct Settings {
  int method;
  bool writeAlpha;
  bool materialMask, objectMask;
  bool stampIds;
  ULONG channels = BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID;
  int clipY0 = 0, clipY1 = kH - 1;
  int width = kW, height = kH;
};

// Image, alpha and both channels (empty when absent) after the calls.
struct Result {
  std::vector<BMM_Color_64> pixels;
  std::vector<UBYTE> materialIds;
  std::vector<WORD> objectIds;
};

// Alpha over the whole 16-bit range, 65280 and above included, and around
// the ID threshold; IDs in stripes, so that masks pass some pixels.
void FillEdges(Canvas& c) {
  constexpr WORD kAlphas[] = {0, 1, 16320, 32639, 32640, 32641, 65279, 65280, 65281, 65535};
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) {
      const int i = y * c.width() + x;
      c.Set(x, y, {static_cast<WORD>(i * 613 % 65536), static_cast<WORD>(i * 997 % 60000), static_cast<WORD>(x * 700),
                   kAlphas[(x + 3 * y) % 10]});
      if (c.MaterialIds()) c.MaterialIds()[i] = static_cast<UBYTE>(x / 9 % 2);
      if (c.ObjectIds()) c.ObjectIds()[i] = static_cast<WORD>(y / 7 % 3);
    }
}

Result Draw(const Settings& s, const std::vector<Call>& calls, bool reference) {
  Canvas c(s.width, s.height, {}, s.channels);
  FillEdges(c);
  PixelTarget t(&c.bitmap, static_cast<UBYTE>(s.method));
  t.writeAlpha = s.writeAlpha ? 7 : 0;  // any non-zero value is on
  t.matchMaterialId = s.materialMask;
  t.materialIdToMatch = 1;
  t.matchObjectId = s.objectMask;
  t.objectIdToMatch = 1;
  t.writeMaterialId = s.stampIds;
  t.materialIdToWrite = 0x101;  // low 8 bits: 1, which the material mask lets through later
  t.writeObjectId = s.stampIds;
  t.objectIdToWrite = 0x10002;
  t.streakDimming[0] = 0.02f;
  t.streakDimming[2] = -1.0f;  // none
  t.streakDimming[3] = 0.01f;
  t.clipY0 = s.clipY0;
  t.clipY1 = s.clipY1;
  t.boxLoops = reference ? &raster::ReferenceDrawing() : nullptr;
  for (const Call& call : calls) {
    switch (call.kind) {
      case Kind::kSplat:
        t.DrawSplat(call.a, call.colour, call.r);
        break;
      case Kind::kCapsule:
        t.DrawCapsule(call.a, call.b, call.colour, call.r);
        break;
      case Kind::kTrail:
        t.DrawTrail(call.a, call.b, call.colour, call.r);
        break;
    }
  }
  Result out;
  const int n = s.width * s.height;
  const BMM_Color_64* px = c.bitmap.Storage()->Pixels();
  out.pixels.assign(px, px + n);
  if (c.MaterialIds()) out.materialIds.assign(c.MaterialIds(), c.MaterialIds() + n);
  if (c.ObjectIds()) out.objectIds.assign(c.ObjectIds(), c.ObjectIds() + n);
  return out;
}

// The first differing pixel, or -1.
int FirstDifference(const Result& a, const Result& b) {
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const bool same = a.pixels[i] == b.pixels[i] &&
                      (a.materialIds.empty() || a.materialIds[i] == b.materialIds[i]) &&
                      (a.objectIds.empty() || a.objectIds[i] == b.objectIds[i]);
    if (!same) return static_cast<int>(i);
  }
  return -1;
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Radii at every edge the drawing has, and ordinary ones most of the time.
float EdgeRadius(Random& rng, float unit) {
  static const float kEdges[] = {kNaN,   -1.0f, 0.0f,  std::numeric_limits<float>::denorm_min(), 1e-30f, 1e-7f,
                                 0.3f,   0.5f,  0.999f, 1.0f,  1.0000001f, 2.0f,  12.5f,  1e6f,  1e30f,
                                 std::numeric_limits<float>::max(), kInf};
  if (unit < 0.2f) return kEdges[rng.rand() % (sizeof kEdges / sizeof kEdges[0])];
  return unit < 0.9f ? 0.8f + static_cast<float>(rng.rand() % 1000) / 1000.0f : 2.0f + static_cast<float>(rng.rand() % 600) / 100.0f;
}

// Colours with channels up to 65535 and alphas around the ID threshold and
// full scale.
BMM_Color_64 EdgeColour(Random& rng) {
  constexpr WORD kAlphas[] = {0, 32639, 32640, 40000, 65279, 65280, 65535};
  const auto channel = [&] { return rng.rand() % 8 == 0 ? WORD{65535} : static_cast<WORD>(rng.rand() % 65281); };
  return {channel(), channel(), channel(), kAlphas[rng.rand() % 7]};
}

// Single calls of every kind at random, with NaN, infinite and far-out
// points among them.
std::vector<Call> EdgeCalls(unsigned seed, int count) {
  Random rng;
  rng.srand(seed);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  const auto coordinate = [&](float size) -> float {
    const float u = unit();
    if (u < 0.02f) return kNaN;
    if (u < 0.04f) return unit() < 0.5f ? kInf : -kInf;
    if (u < 0.08f) return (unit() < 0.5f ? -1.0f : 1.0f) * std::pow(10.0f, 3.0f + unit() * 30.0f);  // far out
    if (u < 0.20f) return std::round(unit() * size);
    if (u < 0.28f) return std::round(unit() * size) + 0.5f;
    return unit() * (size + 30.0f) - 15.0f;
  };
  std::vector<Call> calls;
  for (int i = 0; i < count; ++i) {
    Call c;
    const float k = unit();
    c.kind = k < 0.3f ? Kind::kSplat : k < 0.6f ? Kind::kCapsule : Kind::kTrail;
    c.a = Point2(coordinate(kW), coordinate(kH));
    const float shape = unit();
    if (shape < 0.1f)
      c.b = c.a;  // length 0
    else if (shape < 0.3f)
      c.b = Point2(c.a.x + (unit() - 0.5f) * 3.0f, c.a.y + (unit() - 0.5f) * 3.0f);
    else
      c.b = Point2(coordinate(kW), coordinate(kH));
    c.colour = EdgeColour(rng);
    c.r = EdgeRadius(rng, unit());
    calls.push_back(c);
  }
  return calls;
}

// Star paths as the motion blur draws them: a capsule for the oldest
// segment, then trails from each newer point back to the point before,
// one colour and radius per star; straight pans, curves, stops (repeated
// points) and paths leaving the image.
std::vector<Call> MotionBlurPaths(unsigned seed, int stars) {
  Random rng;
  rng.srand(seed);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  std::vector<Call> calls;
  for (int star = 0; star < stars; ++star) {
    const BMM_Color_64 colour = EdgeColour(rng);
    const float r = unit() < 0.9f ? 0.6f + unit() * 2.5f : EdgeRadius(rng, unit());
    Point2 p(unit() * (kW + 20) - 10, unit() * (kH + 20) - 10);
    Point2 step((unit() - 0.5f) * 12.0f, (unit() - 0.5f) * (unit() < 0.5f ? 0.5f : 8.0f));
    const int subdivisions = 1 + static_cast<int>(rng.rand() % 9);
    std::vector<Point2> path{p};
    for (int k = 0; k < subdivisions; ++k) {
      if (unit() < 0.1f) {
        path.push_back(p);  // a stop: a trail of length 0
        continue;
      }
      step = Point2(step.x + (unit() - 0.5f) * 2.0f, step.y + (unit() - 0.5f) * 2.0f);
      p = p + step;
      path.push_back(p);
    }
    calls.push_back({Kind::kCapsule, path[0], path[1], colour, r});
    for (std::size_t k = 2; k < path.size(); ++k) calls.push_back({Kind::kTrail, path[k], path[k - 1], colour, r});
  }
  return calls;
}

std::ostream& operator<<(std::ostream& os, const Call& c) {
  const char* kinds[] = {"splat", "capsule", "trail"};
  return os << std::setprecision(9) << kinds[static_cast<int>(c.kind)] << " (" << c.a.x << ", " << c.a.y << ") -> ("
            << c.b.x << ", " << c.b.y << ") colour " << c.colour << " r " << c.r;
}

void ExpectSameAsReference(const Settings& s, const std::vector<Call>& calls, int minChanged) {
  const Result fast = Draw(s, calls, false), reference = Draw(s, calls, true);
  const int i = FirstDifference(fast, reference);
  if (i >= 0) {
    // The shortest run of the calls that already differs names the call.
    std::size_t lo = 0, hi = calls.size();  // the first lo calls agree, the first hi do not
    while (hi - lo > 1) {
      const std::size_t mid = (lo + hi) / 2;
      const std::vector<Call> prefix(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(mid));
      (FirstDifference(Draw(s, prefix, false), Draw(s, prefix, true)) < 0 ? lo : hi) = mid;
    }
    ADD_FAILURE() << "first difference at pixel (" << (i % s.width) << ", " << (i / s.width) << "): " << fast.pixels[i]
                  << " against " << reference.pixels[i] << ", from call " << hi - 1 << ": " << calls[hi - 1];
  }
  // The comparison means something only if the calls changed the image or
  // its ID channels.
  Canvas untouched(s.width, s.height, {}, s.channels);
  FillEdges(untouched);
  int changed = 0;
  for (int p = 0; p < s.width * s.height; ++p)
    changed += !(reference.pixels[p] == untouched.bitmap.Storage()->Pixels()[p]) ||
               (untouched.MaterialIds() && reference.materialIds[p] != untouched.MaterialIds()[p]) ||
               (untouched.ObjectIds() && reference.objectIds[p] != untouched.ObjectIds()[p]);
  EXPECT_GE(changed, minChanged);
}

std::string Describe(const Settings& s) {
  std::ostringstream os;
  os << "method " << s.method << ", alpha " << s.writeAlpha << ", material mask " << s.materialMask
     << ", object mask " << s.objectMask << ", IDs " << s.stampIds << ", channels " << s.channels << ", rows "
     << s.clipY0 << ".." << s.clipY1 << ", image " << s.width << "x" << s.height;
  return os.str();
}

}  // namespace

namespace {
std::vector<Call> ShallowCalls(unsigned seed, int count, int width, int height);
}  // namespace

TEST(FastDrawing, EveryMethodFlagAndMaskGivesTheReferenceBytes) {
  const std::vector<Call> edges = EdgeCalls(2024, 150);
  const std::vector<Call> paths = MotionBlurPaths(77, 40);
  const std::vector<Call> shallow = ShallowCalls(2026, 160, kW, kH);
  for (int method : {0, 1, 2, 3, 4, 5, 200}) {
    for (bool writeAlpha : {false, true})
      for (int masks = 0; masks < 4; ++masks)
        for (bool ids : {false, true}) {
          const Settings s{method, writeAlpha, (masks & 1) != 0, (masks & 2) != 0, ids};
          SCOPED_TRACE(Describe(s));
          // A mask on both channels lets few pixels through.
          ExpectSameAsReference(s, edges, masks == 3 ? 20 : 200);
          ExpectSameAsReference(s, paths, masks == 3 ? 20 : 200);
          ExpectSameAsReference(s, shallow, masks == 3 ? 20 : 200);
        }
  }
}

TEST(FastDrawing, MissingChannelsAndBandsOfRowsGiveTheReferenceBytes) {
  const std::vector<Call> edges = EdgeCalls(99, 150);
  const std::vector<Call> paths = MotionBlurPaths(5, 40);
  for (ULONG channels : {ULONG{BMM_CHAN_NONE}, ULONG{BMM_CHAN_MTL_ID}, ULONG{BMM_CHAN_NODE_ID}}) {
    for (int method : {0, 3, 4}) {
      Settings s{method, true, true, true, true};
      s.channels = channels;
      SCOPED_TRACE(Describe(s));
      ExpectSameAsReference(s, edges, 20);
      ExpectSameAsReference(s, paths, 20);
    }
  }
  for (const auto& [y0, y1] : std::vector<std::pair<int, int>>{{0, 31}, {32, 60}, {13, 13}, {0, 0}, {60, 60}}) {
    for (int method : {0, 1, 4}) {
      Settings s{method, true, false, false, true};
      s.clipY0 = y0;
      s.clipY1 = y1;
      SCOPED_TRACE(Describe(s));
      ExpectSameAsReference(s, edges, 1);
      ExpectSameAsReference(s, paths, 0);  // the paths may miss a one-row band
    }
  }
}

TEST(FastDrawing, ManySeedsOfPathsAndEdgeCalls) {
  for (unsigned seed = 1; seed <= 30; ++seed) {
    const Settings s{static_cast<int>(seed % 6), seed % 2 == 0, seed % 7 == 0, seed % 5 == 0, seed % 3 == 0};
    SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << Describe(s));
    ExpectSameAsReference(s, EdgeCalls(seed * 7919, 120), 1);
    ExpectSameAsReference(s, MotionBlurPaths(seed * 104729, 40), 1);
  }
}

// --- Shallow streaks (45 degrees and flatter), which the drawing walks row
// by row, four columns of a row at a time, against the same reference.

namespace {

// Capsules and trails mostly at 45 degrees or flatter: exactly horizontal,
// exactly 45 degrees and a float step either side of it, nearly horizontal
// pans, any shallow slope, and steep ones beside them; zero-length,
// sub-pixel, ordinary, image-long and far-out lengths; ends on every side of
// an image of width x height, on whole and half pixels, infinite or NaN.
std::vector<Call> ShallowCalls(unsigned seed, int count, int width, int height) {
  Random rng;
  rng.srand(seed);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  const auto position = [&](float size) -> float {
    const float u = unit();
    if (u < 0.01f) return kNaN;
    if (u < 0.02f) return unit() < 0.5f ? kInf : -kInf;
    if (u < 0.12f) return std::round(unit() * size);
    if (u < 0.18f) return std::round(unit() * size) + 0.5f;
    if (u < 0.26f) return unit() < 0.5f ? -unit() * 6.0f : size - 1.0f + unit() * 6.0f;  // beside an edge
    return unit() * (size + 16.0f) - 8.0f;
  };
  const auto sign = [&] { return unit() < 0.5f ? -1.0f : 1.0f; };
  std::vector<Call> calls;
  for (int i = 0; i < count; ++i) {
    Call c;
    c.kind = unit() < 0.5f ? Kind::kCapsule : Kind::kTrail;
    c.a = Point2(position(static_cast<float>(width)), position(static_cast<float>(height)));
    const float l = unit();
    float length = l < 0.08f   ? 0.0f
                   : l < 0.25f ? unit()                                                     // sub-pixel
                   : l < 0.80f ? 1.0f + unit() * 30.0f                                      // a pan's step
                   : l < 0.92f ? unit() * 3.0f * static_cast<float>(width)                 // across the image
                               : std::pow(10.0f, 3.0f + unit() * 27.0f);                    // far out
    float dx = length, dy;
    const float d = unit();
    if (d < 0.15f) {
      dy = 0.0f;  // horizontal
    } else if (d < 0.40f) {
      // 45 degrees on quarter pixels (exact differences), and a float step
      // steeper or flatter.
      length = std::round(length * 4.0f) / 4.0f;
      dx = length;
      const float w = unit();
      dy = w < 0.5f ? length : std::nextafter(length, w < 0.75f ? 0.0f : kInf);
    } else if (d < 0.75f) {
      dy = length * (2.0f * unit() - 1.0f);  // any shallow slope
    } else if (d < 0.90f) {
      dy = length * (unit() - 0.5f) * 0.1f;  // a pan: nearly horizontal
    } else {
      dx = length * (2.0f * unit() - 1.0f);  // steep
      dy = length;
    }
    c.b = Point2(c.a.x + sign() * dx, c.a.y + sign() * dy);
    c.colour = EdgeColour(rng);
    c.r = EdgeRadius(rng, unit());
    calls.push_back(c);
  }
  return calls;
}

}  // namespace

TEST(ShallowStreaks, BandsOfRowsAndMissingChannelsGiveTheReferenceBytes) {
  const std::vector<Call> calls = ShallowCalls(404, 200, kW, kH);
  for (const auto& [y0, y1] : std::vector<std::pair<int, int>>{{0, 31}, {32, 60}, {13, 13}, {0, 0}, {60, 60}, {5, 8}}) {
    for (int method : {0, 1, 3, 4}) {
      Settings s{method, method != 1, false, false, true};
      s.clipY0 = y0;
      s.clipY1 = y1;
      SCOPED_TRACE(Describe(s));
      ExpectSameAsReference(s, calls, 1);
    }
  }
  for (ULONG channels : {ULONG{BMM_CHAN_NONE}, ULONG{BMM_CHAN_MTL_ID}, ULONG{BMM_CHAN_NODE_ID}}) {
    Settings s{0, true, true, true, true};
    s.channels = channels;
    SCOPED_TRACE(Describe(s));
    ExpectSameAsReference(s, calls, 20);
  }
}

TEST(ShallowStreaks, ImagesDownToOnePixelGiveTheReferenceBytes) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 17}, {17, 3}, {5, 40}, {40, 5}};
  unsigned seed = 1;
  for (const auto& [width, height] : sizes) {
    for (int method : {0, 2, 3, 4}) {
      Settings s{method, (seed & 1) != 0, false, false, true};
      s.width = width;
      s.height = height;
      s.clipY1 = height - 1;
      SCOPED_TRACE(Describe(s));
      ExpectSameAsReference(s, ShallowCalls(seed++ * 613, 200, width, height), 1);
    }
  }
}

TEST(ShallowStreaks, ManySeedsOfSettingsAndCalls) {
  for (unsigned seed = 1; seed <= 30; ++seed) {
    Settings s{static_cast<int>(seed % 6), seed % 2 == 0, seed % 7 == 0, seed % 5 == 0, seed % 3 == 0};
    if (seed % 4 == 0) {
      s.clipY0 = static_cast<int>(seed % 23);
      s.clipY1 = s.clipY0 + static_cast<int>(seed % 29);
    }
    SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << Describe(s));
    ExpectSameAsReference(s, ShallowCalls(seed * 104729, 150, kW, kH), 1);
  }
}

TEST(ShallowStreaks, OverlappingIdChannelsKeepTheReferenceOrder) {
  // The material channel laid over the object channel's bytes: stamping
  // material ID 1 at pixel i sets a byte of object element i / 2, which the
  // object mask (ID 0) then refuses if that pixel comes later. Which pixels
  // a streak draws then depends on the order it visits them in, and the
  // drawing must keep the reference's.
  constexpr int kSide = 24;
  const std::vector<Call> calls = ShallowCalls(8, 60, kSide, kSide);
  for (int method : {0, 2, 4}) {
    SCOPED_TRACE(::testing::Message() << "method " << method);
    // Each call on a fresh image and channels, so that no call's result is
    // hidden under a later one's.
    const auto draw = [&](const Call& c, bool reference) {
      SharedIdCanvas ids(kSide, kSide, static_cast<UBYTE>(method));
      ids.target.boxLoops = reference ? &raster::ReferenceDrawing() : nullptr;
      const BMM_Color_64 star{30000, 20000, 10000, 65280};
      if (c.kind == Kind::kCapsule)
        ids.target.DrawCapsule(c.a, c.b, star, c.r + 3.0f);
      else
        ids.target.DrawTrail(c.a, c.b, star, c.r + 3.0f);
      return std::make_pair(ids.Pixels(), ids.shared);
    };
    int drawn = 0;
    for (const Call& c : calls) {
      const auto fast = draw(c, false), reference = draw(c, true);
      EXPECT_TRUE(fast.first == reference.first) << c;
      EXPECT_EQ(fast.second, reference.second) << c;
      drawn += reference.second != std::vector<WORD>(kSide * kSide, 0);
    }
    EXPECT_GT(drawn, 20);
  }
}
