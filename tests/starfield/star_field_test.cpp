#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "starfield/balance_curve.h"
#include "starfield/star_field.h"
#include "starfield/unit_ball.h"
#include "support/recording_abort.h"
#include "support/thread_grant.h"

namespace {

// The key a new effect forms from its default parameters.
StarFieldKey DefaultKey(std::uint32_t count = 1000) {
  StarFieldKey k;
  k.count = count;
  k.seed = 12345;
  k.brightColor = {65535, 65535, 65535, 0};
  k.dimColor = {static_cast<WORD>(0.8f * 65535.0f), static_cast<WORD>(0.8f * 65535.0f),
                static_cast<WORD>(0.8f * 65535.0f), 0};
  k.colorVariance = 0.0f;
  k.alpha16 = 255 << 8;
  k.brightSize = 1.5f;
  k.dimSize = 1.0f;
  k.brightDimBalance = 0.2f;
  return k;
}

bool SameRecords(const StarField& a, const StarField& b) {
  if (a.count() != b.count()) return false;
  for (std::uint32_t i = 0; i < a.count(); ++i) {
    const StarRecord &x = a.stars()[i], &y = b.stars()[i];
    if (!(x.pos == y.pos && x.color == y.color && x.size == y.size)) return false;
  }
  return true;
}

TEST(StarField, RecordInvariants) {
  StarFieldKey key = DefaultKey(5000);
  key.colorVariance = 1.0f;  // factors 0..2: the channel limit is exercised
  key.alpha16 = 0x7F00;
  StarField field;
  ASSERT_TRUE(field.RefreshStarField(key, nullptr));
  ASSERT_EQ(field.count(), 5000u);
  int limited = 0;
  for (std::uint32_t i = 0; i < field.count(); ++i) {
    const StarRecord& s = field.stars()[i];
    const float length = s.pos.Length();
    ASSERT_GT(length, 0.0f);
    ASSERT_LE(length, 1.0f);
    for (WORD c : {s.color.r, s.color.g, s.color.b}) {
      ASSERT_LE(c, kFullChannel);
      limited += c == kFullChannel;
    }
    ASSERT_EQ(s.color.a, 0x7F00);
    ASSERT_GE(s.size, 1.0f);
    ASSERT_LE(s.size, 1.5f);
  }
  EXPECT_GT(limited, 0) << "variance 100% must push some channels to the limit";
}

TEST(StarField, UniformInTheBall) {
  StarField field;
  ASSERT_TRUE(field.RefreshStarField(DefaultKey(20000), nullptr));
  // Uniform density: the fraction within radius r is r^3; the octants fill evenly.
  int inner = 0, octant[8] = {};
  for (std::uint32_t i = 0; i < field.count(); ++i) {
    const Point3& p = field.stars()[i].pos;
    inner += p.Length() <= 0.5f;
    ++octant[(p.x > 0) + 2 * (p.y > 0) + 4 * (p.z > 0)];
  }
  EXPECT_NEAR(inner / 20000.0, 0.125, 0.01);
  for (int o : octant) EXPECT_NEAR(o, 2500, 200);
}

TEST(StarField, DrawsThreePerAttemptAndThreeForColour) {
  // Replays the stream: each star consumes triples until one is inside the
  // ball (k attempts), then three colour draws: 3k + 3 in all.
  const StarFieldKey key = DefaultKey(3000);
  StarField field;
  ASSERT_TRUE(field.RefreshStarField(key, nullptr));
  Random replay;
  replay.srand(key.seed);
  std::uint64_t expected = 0;
  for (std::uint32_t j = 0; j < key.count; ++j) {
    int attempts = 0;
    for (;;) {
      ++attempts;
      float v[3];
      for (float& c : v) c = static_cast<float>(replay.rand()) / Random::s_rand_max * 2.0f - 1.0f;
      const float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (l <= 1.0f && l != 0.0f) {
        ASSERT_EQ(Point3(v[0], v[1], v[2]), field.stars()[j].pos) << "star " << j;
        break;
      }
    }
    for (int c = 0; c < 3; ++c) replay.rand();
    expected += 3 * attempts + 3;
  }
  EXPECT_EQ(field.rng().Tell(), expected);
  EXPECT_NEAR(static_cast<double>(expected) / key.count, 3 * 6 / M_PI + 3, 0.3)
      << "about 1.9 attempts per star";
}

TEST(StarField, GradedFromBrightToDim) {
  StarFieldKey key = DefaultKey(1);
  key.colorVariance = 0.0f;
  StarField one;
  ASSERT_TRUE(one.RefreshStarField(key, nullptr));
  EXPECT_FLOAT_EQ(one.stars()[0].size, 1.5f);
  // White at zero variance is the effect's full intensity, not 65535.
  EXPECT_EQ(one.stars()[0].color, (BMM_Color_64{65280, 65280, 65280, 65280}));

  key = DefaultKey(101);
  key.brightDimBalance = 0.5f;  // linear grading
  key.brightColor = {60000, 30000, 0, 0};
  key.dimColor = {0, 30000, 60000, 0};
  StarField linear;
  ASSERT_TRUE(linear.RefreshStarField(key, nullptr));
  const StarRecord& mid = linear.stars()[50];  // u = 51/101
  EXPECT_NEAR(mid.size, 1.0f + 0.5f * 51.0f / 101.0f, 1e-6);
  EXPECT_NEAR(mid.color.r, 60000.0 * 51 / 101, 1.0);
  EXPECT_EQ(mid.color.g, 30000);
  EXPECT_NEAR(mid.color.b, 60000.0 * 50 / 101, 1.0);
  EXPECT_NEAR(linear.stars()[100].size, 1.0f + 0.5f / 101.0f, 1e-6);

  key.brightDimBalance = 1.0f;  // every star as bright as the first
  StarField bright;
  ASSERT_TRUE(bright.RefreshStarField(key, nullptr));
  for (std::uint32_t i = 0; i < bright.count(); ++i) ASSERT_FLOAT_EQ(bright.stars()[i].size, 1.5f);

  key.brightDimBalance = 0.0f;  // all dim but the first, whose 0/0 is settled as bright
  StarField dim;
  ASSERT_TRUE(dim.RefreshStarField(key, nullptr));
  EXPECT_FLOAT_EQ(dim.stars()[0].size, 1.5f);
  for (std::uint32_t i = 1; i < dim.count(); ++i) ASSERT_FLOAT_EQ(dim.stars()[i].size, 1.0f);
}

TEST(StarField, ProgressEvery256AndAbort) {
  struct Case {
    std::uint32_t count;
    std::vector<std::pair<int, int>> calls;
  };
  for (const Case& c : {Case{0, {}}, Case{1, {{0, 1}}}, Case{256, {{0, 256}}},
                        Case{257, {{0, 257}, {256, 257}}}, Case{513, {{0, 513}, {256, 513}, {512, 513}}}}) {
    RecordingAbort abort;
    StarField field;
    ASSERT_TRUE(field.RefreshStarField(DefaultKey(c.count), &abort));
    EXPECT_EQ(abort.progress, c.calls) << c.count << " stars";
    EXPECT_EQ(abort.titles, std::vector<std::string>{"Qe_Velumbra: Creating Star Field"});
  }
}

TEST(StarField, AbortLeavesNoStarsAndNextRefreshRegeneratesTheSameField) {
  StarField reference;
  ASSERT_TRUE(reference.RefreshStarField(DefaultKey(600), nullptr));

  for (int stopAt : {0, 1, 2}) {
    StarField field;
    RecordingAbort abort(stopAt);
    EXPECT_FALSE(field.RefreshStarField(DefaultKey(600), &abort));
    EXPECT_EQ(field.count(), 0u);
    EXPECT_EQ(abort.progress.size(), static_cast<size_t>(stopAt + 1));
    RecordingAbort again;
    ASSERT_TRUE(field.RefreshStarField(DefaultKey(600), &again));
    EXPECT_EQ(again.titles.size(), 1u) << "regenerated";
    EXPECT_TRUE(SameRecords(field, reference));
  }
}

TEST(StarField, ReusedWhileKeyHoldsRegeneratedOnEveryMember) {
  const StarFieldKey base = DefaultKey(300);
  StarField field;
  ASSERT_TRUE(field.RefreshStarField(base, nullptr));
  {
    RecordingAbort abort;
    ASSERT_TRUE(field.RefreshStarField(base, &abort));
    EXPECT_TRUE(abort.titles.empty()) << "same key: reused without generating";
  }
  using Mutate = void (*)(StarFieldKey&);
  const Mutate changes[] = {
      [](StarFieldKey& k) { k.count += 1; },
      [](StarFieldKey& k) { k.seed += 1; },
      [](StarFieldKey& k) { k.brightColor.r -= 1; },
      [](StarFieldKey& k) { k.brightColor.g -= 1; },
      [](StarFieldKey& k) { k.brightColor.b -= 1; },
      [](StarFieldKey& k) { k.dimColor.r += 1; },
      [](StarFieldKey& k) { k.dimColor.g += 1; },
      [](StarFieldKey& k) { k.dimColor.b += 1; },
      [](StarFieldKey& k) { k.colorVariance = 0.01f; },
      [](StarFieldKey& k) { k.alpha16 = 0x1000; },
      [](StarFieldKey& k) { k.brightSize = 2.0f; },
      [](StarFieldKey& k) { k.dimSize = 0.5f; },
      [](StarFieldKey& k) { k.brightDimBalance = 0.3f; },
      [](StarFieldKey& k) { k.brightDimBalance = NAN; },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    StarFieldKey changed = base;
    changes[i](changed);
    RecordingAbort abort;
    field.RefreshStarField(changed, &abort);
    EXPECT_EQ(abort.titles.size(), 1u) << "change " << i << " must regenerate";
    RecordingAbort back;
    ASSERT_TRUE(field.RefreshStarField(base, &back));
    EXPECT_EQ(back.titles.size(), 1u) << "change " << i << " undone must regenerate";
  }
  // The alpha channels of the key colours play no part.
  StarFieldKey alphaOnly = base;
  alphaOnly.brightColor.a = 77;
  RecordingAbort abort;
  ASSERT_TRUE(field.RefreshStarField(alphaOnly, &abort));
  EXPECT_TRUE(abort.titles.empty());
}

TEST(StarField, EmptyFieldIsValidAndReused) {
  StarField field;
  RecordingAbort abort;
  ASSERT_TRUE(field.RefreshStarField(DefaultKey(0), &abort));
  EXPECT_NE(field.stars(), nullptr);
  EXPECT_EQ(field.count(), 0u);
  EXPECT_TRUE(abort.progress.empty());
  RecordingAbort again;
  ASSERT_TRUE(field.RefreshStarField(DefaultKey(0), &again));
  EXPECT_TRUE(again.titles.empty());
}

// The attempt test without a root decides as the float length does, for
// every float from 1/4 to 4 (below, both roots are under 1/2 and both tests
// say inside; above, both say outside), and for 0 and the subnormals.
TEST(UnitBall, SquaredTestDecidesAsTheFloatLength) {
  const auto byLength = [](float s) {
    const float length = std::sqrt(s);
    return !(length > 1.0f) && length != 0.0f;
  };
  std::uint64_t disagreements = 0;
  for (std::uint32_t bits = 0x3E800000; bits < 0x40800000; ++bits) {
    const float s = std::bit_cast<float>(bits);
    disagreements += InsideUnitBall(s) != byLength(s);
  }
  EXPECT_EQ(disagreements, 0u);
  for (std::uint32_t bits = 0; bits < 0x00800000; bits += 4099)
    EXPECT_EQ(InsideUnitBall(std::bit_cast<float>(bits)), byLength(std::bit_cast<float>(bits))) << bits;
  EXPECT_FALSE(InsideUnitBall(0.0f));
  EXPECT_TRUE(InsideUnitBall(1.0f));
  EXPECT_TRUE(InsideUnitBall(kLengthOneSquared)) << "its root rounds to 1";
  EXPECT_FALSE(InsideUnitBall(std::nextafter(kLengthOneSquared, 2.0f)));
}

TEST(BalanceCurve, EndpointsAndShape) {
  for (float t : {0.05f, 0.2f, 0.4f, 0.6f, 0.8f, 0.95f}) {
    EXPECT_NEAR(BalanceCurve(0.0f, t), 0.0f, 1e-4f) << t;
    EXPECT_NEAR(BalanceCurve(1.0f, t), 1.0f, 1e-4f) << t;
    float previous = -1.0f;
    for (int i = 0; i <= 1000; ++i) {
      const float x = i / 1000.0f;
      const float y = BalanceCurve(x, t);
      ASSERT_GE(y, previous) << "monotonic, t=" << t << " x=" << x;
      ASSERT_EQ(y < x + 1e-6f, t < 0.5f || y <= x + 1e-6f) << "bends the right way";
      previous = y;
    }
  }
  EXPECT_EQ(BalanceCurve(0.37f, 0.5f), 0.37f);
  EXPECT_NEAR(BalanceCurve(0.5f, 0.2f), 0.059f, 0.001f);
  EXPECT_EQ(BalanceCurve(0.3f, 1.0f), 1.0f);
  EXPECT_EQ(BalanceCurve(0.3f, 0.0f), 0.0f);
  EXPECT_EQ(BalanceCurve(1.0f, 0.0f), 1.0f) << "0/0 settled as the end point";
  EXPECT_EQ(BalanceCurve(0.0f, 1.0f), 0.0f);
}

}  // namespace

namespace {

TEST(StarFieldParallel, EveryThreadCountGivesTheSerialField) {
  GrantScope restore;
  // Counts around the round and progress boundaries.
  for (std::uint32_t count : {1u, 255u, 256u, 257u, 3001u, 70000u}) {
    StarFieldKey key = DefaultKey(count);
    key.colorVariance = 0.3f;
    key.brightDimBalance = 0.3f;
    GrantRenderThreads(0);
    StarField serial;
    RecordingAbort serialCalls;
    ASSERT_TRUE(serial.RefreshStarField(key, &serialCalls));
    // 300 threads cut a round into chunks of a few dozen triples, many of
    // them empty once they begin on whole words of the taken bits.
    for (int threads : {1, 2, 3, 5, 300}) {
      if (threads == 300 && count > 3001) continue;
      GrantRenderThreads(threads);
      StarField parallel;
      RecordingAbort calls;
      ASSERT_TRUE(parallel.RefreshStarField(key, &calls));
      ASSERT_EQ(parallel.count(), count);
      EXPECT_EQ(std::memcmp(parallel.stars(), serial.stars(), sizeof(StarRecord) * count), 0)
          << count << " stars, " << threads << " threads";
      EXPECT_EQ(parallel.rng().Tell(), serial.rng().Tell());
      EXPECT_EQ(calls.progress, serialCalls.progress);
      EXPECT_EQ(calls.titles, serialCalls.titles);
      // The index the generation noted on the way is the one built from the
      // finished field.
      const VisibilityIndex& a = parallel.index();
      const VisibilityIndex& b = serial.index();
      ASSERT_TRUE(a.built() && b.built());
      EXPECT_EQ(a.maxSize(), b.maxSize());
      EXPECT_EQ(std::memcmp(a.order(), b.order(), sizeof(std::uint32_t) * count), 0);
      for (int c = 0; c <= VisibilityIndex::kCells; c += 97) ASSERT_EQ(a.begin(0, c), b.begin(0, c)) << "cell " << c;
    }
  }
}

// The parallel generation grades stars four at a time; every grading the
// key can ask for, including the ones whose arithmetic leaves the usual
// ranges (the curve's 0/0 ends, factors below 0, colours that fall from
// bright to dim upwards, sizes that are not finite), gives the serial stars.
TEST(StarFieldParallel, EveryGradingGivesTheSerialStars) {
  GrantScope restore;
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  struct Grading {
    float balance, variance, bright, dim;
    bool darkerBright;
  };
  const Grading gradings[] = {
      {0.0f, 0.0f, 1.5f, 1.0f, false},  {1.0f, 0.3f, 1.5f, 1.0f, false}, {0.5f, 0.3f, 3.0f, 0.5f, true},
      {0.05f, 1.5f, 1.0f, 2.0f, false}, {0.4999f, 2.0f, nan, 1.0f, true}, {0.95f, 0.0f, inf, 1.0f, false},
      {-1.0f, 0.5f, 1.0f, -inf, false}, {2.0f, 0.1f, -2.0f, 0.0f, true},  {nan, 0.2f, 1.5f, 1.0f, false},
  };
  // 1001 stars: whole lanes and a tail of one.
  for (const Grading& g : gradings) {
    StarFieldKey key = DefaultKey(1001);
    key.brightDimBalance = g.balance;
    key.colorVariance = g.variance;
    key.brightSize = g.bright;
    key.dimSize = g.dim;
    if (g.darkerBright) std::swap(key.brightColor, key.dimColor);
    key.dimColor.g = 7;
    GrantRenderThreads(0);
    StarField serial;
    ASSERT_TRUE(serial.RefreshStarField(key, nullptr));
    GrantRenderThreads(2);
    StarField parallel;
    ASSERT_TRUE(parallel.RefreshStarField(key, nullptr));
    ASSERT_EQ(parallel.count(), 1001u);
    EXPECT_EQ(std::memcmp(parallel.stars(), serial.stars(), sizeof(StarRecord) * 1001), 0)
        << "balance " << g.balance << ", variance " << g.variance << ", sizes " << g.bright << ".." << g.dim;
    EXPECT_EQ(parallel.rng().Tell(), serial.rng().Tell());
    EXPECT_EQ(parallel.index().maxSize(), serial.index().maxSize());
  }
}

// Every star is in the group of its own cell, once, and each group is
// ascending; marking a set of cells marks exactly their stars.
TEST(VisibilityIndexBuild, GroupsEveryStarByItsCellInOrder) {
  GrantScope restore;
  StarFieldKey key = DefaultKey(20000);
  for (int threads : {0, 2, 3}) {
    GrantRenderThreads(threads);
    StarField field;
    ASSERT_TRUE(field.RefreshStarField(key, nullptr));
    const VisibilityIndex& index = field.index();
    ASSERT_TRUE(index.built());
    ASSERT_EQ(index.begin(0, VisibilityIndex::kCells), 20000u);
    std::vector<int> seen(20000, 0);
    for (int c = 0; c < VisibilityIndex::kCells; ++c)
      for (std::uint32_t j = index.begin(0, c); j < index.begin(0, c + 1); ++j) {
        const std::uint32_t i = index.order()[j];
        ASSERT_LT(i, 20000u);
        ++seen[i];
        EXPECT_EQ(VisibilityIndex::CellOf(field.stars()[i].pos), static_cast<std::uint32_t>(c));
        if (j > index.begin(0, c)) {
          EXPECT_LT(index.order()[j - 1], i);
        }
      }
    for (int n : seen) ASSERT_EQ(n, 1);
    std::vector<std::uint8_t> cells(VisibilityIndex::kCells, 0);
    for (int c = 5; c < VisibilityIndex::kCells; c += 11) cells[static_cast<size_t>(c)] = 1;
    for (int parts : {0, 2, 3, 7}) {
      std::vector<std::uint64_t> bits((20000 + 63) / 64, 0);
      index.MarkStars(cells.data(), bits.data(), parts);
      for (std::uint32_t i = 0; i < 20000; ++i)
        ASSERT_EQ((bits[i >> 6] >> (i & 63)) & 1, cells[VisibilityIndex::CellOf(field.stars()[i].pos)])
            << "star " << i << ", " << parts << " parts";
    }
  }
}

// A field regenerated at the same size builds its index in the memory of
// the last one; what it holds must be the new field's alone, also after an
// aborted generation and after sizes change back and forth.
TEST(VisibilityIndexBuild, RegeneratedFieldsGetTheirOwnIndex) {
  GrantScope restore;
  const auto sameIndex = [](const StarField& a, const StarField& b) {
    const VisibilityIndex &x = a.index(), &y = b.index();
    if (!x.built() || !y.built() || x.count() != y.count() || x.maxSize() != y.maxSize()) return false;
    for (int c = 0; c <= VisibilityIndex::kCells; ++c)
      if (x.begin(0, c) != y.begin(0, c)) return false;
    return std::memcmp(x.order(), y.order(), sizeof(std::uint32_t) * x.count()) == 0;
  };
  for (int threads : {0, 2}) {
    GrantRenderThreads(threads);
    StarField kept;
    StarFieldKey key = DefaultKey(4000);
    for (int seed : {1, 2, 3}) {
      key.seed = seed;
      key.count = seed == 2 ? 3000 : 4000;
      if (seed == 3) {
        RecordingAbort stop(2);
        EXPECT_FALSE(kept.RefreshStarField(key, &stop));
        EXPECT_FALSE(kept.index().built()) << "an aborted generation leaves no index";
        key.brightSize = 2.5f;
      }
      ASSERT_TRUE(kept.RefreshStarField(key, nullptr));
      StarField fresh;
      ASSERT_TRUE(fresh.RefreshStarField(key, nullptr));
      EXPECT_TRUE(sameIndex(kept, fresh)) << "seed " << seed << ", " << threads << " threads";
    }
  }
}

TEST(StarFieldParallel, AbortStopsAtTheSameReport) {
  GrantScope restore;
  const StarFieldKey key = DefaultKey(5000);
  for (int stopAt : {0, 3, 19}) {
    GrantRenderThreads(0);
    StarField serial;
    RecordingAbort serialCalls(stopAt);
    EXPECT_FALSE(serial.RefreshStarField(key, &serialCalls));
    GrantRenderThreads(2);
    StarField parallel;
    RecordingAbort calls(stopAt);
    EXPECT_FALSE(parallel.RefreshStarField(key, &calls));
    EXPECT_EQ(calls.progress, serialCalls.progress);
    EXPECT_EQ(parallel.count(), 0u);
    // The stars reported before the stop are the serial ones.
    const std::uint32_t reported = static_cast<std::uint32_t>(calls.progress.back().first) + 1;
    EXPECT_EQ(std::memcmp(parallel.stars(), serial.stars(), sizeof(StarRecord) * reported), 0);
  }
}

}  // namespace
