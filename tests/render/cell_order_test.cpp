// A field laid out by cell against the same field by index: its records are
// the index's permutation of the same records, and every pass over it draws
// the bytes (image and both G-buffer channels) and makes the progress calls
// of the serial loop over the field by index, stopped or not, on the serial
// loop and on 2 and 3 threads, with and without the visibility index, for
// fields of one and of two index blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "render/cell_star_loop.h"
#include "starfield/star_field.h"
#include "support/render_fixture.h"
#include "support/thread_grant.h"

namespace {

constexpr std::uint32_t kNever = std::numeric_limits<std::uint32_t>::max();

StarFieldKey Key(std::uint32_t count, std::int32_t seed = 3) {
  StarFieldKey k;
  k.count = count;
  k.seed = seed;
  k.brightColor = {65535, 60000, 50000, 0};
  k.dimColor = {30000, 32000, 40000, 0};
  k.colorVariance = 0.4f;
  k.alpha16 = 0xFF00;
  k.brightSize = 2.5f;
  k.dimSize = 0.7f;
  k.brightDimBalance = 0.3f;
  return k;
}

bool SameRecord(const StarRecord& a, const StarRecord& b) { return std::memcmp(&a, &b, sizeof(StarRecord)) == 0; }

// Every place j of a field by cell holds the record its index's order()[j]
// names in the field by index, and both index the same groups.
void ExpectPermutationOf(const StarField& byCell, const StarField& byIndex) {
  ASSERT_EQ(byCell.count(), byIndex.count());
  const VisibilityIndex& a = byCell.index();
  const VisibilityIndex& b = byIndex.index();
  ASSERT_TRUE(a.built() && b.built());
  ASSERT_EQ(a.blocks(), b.blocks());
  EXPECT_EQ(a.maxSize(), b.maxSize());
  EXPECT_EQ(std::memcmp(a.order(), b.order(), sizeof(std::uint32_t) * byCell.count()), 0);
  for (std::uint32_t block = 0; block < a.blocks(); ++block)
    EXPECT_EQ(std::memcmp(a.starts(block), b.starts(block), sizeof(std::uint32_t) * (VisibilityIndex::kCells + 1)), 0);
  for (std::uint32_t j = 0; j < byCell.count(); ++j)
    ASSERT_TRUE(SameRecord(byCell.stars()[j], byIndex.stars()[a.order()[j]])) << "place " << j;
}

TEST(CellOrder, RecordsAreTheIndexsPermutationOfTheFieldByIndex) {
  GrantScope restore;
  for (std::uint32_t count : {0u, 1u, 257u, 20000u}) {
    for (int threads : {0, 2, 3}) {
      SCOPED_TRACE(::testing::Message() << count << " stars, " << threads << " threads");
      GrantRenderThreads(threads);
      StarField byIndex, byCell;
      byIndex.SetCellOrderFrom(kNever);
      byCell.SetCellOrderFrom(0);
      ASSERT_TRUE(byIndex.RefreshStarField(Key(count), nullptr));
      ASSERT_TRUE(byCell.RefreshStarField(Key(count), nullptr));
      EXPECT_FALSE(byIndex.cellOrdered());
      EXPECT_EQ(byCell.cellOrdered(), count > 0);
      EXPECT_EQ(byCell.rng().Tell(), byIndex.rng().Tell());
      ExpectPermutationOf(byCell, byIndex);
      // Regenerated in the same memory, by another key.
      ASSERT_TRUE(byIndex.RefreshStarField(Key(count, 4), nullptr));
      ASSERT_TRUE(byCell.RefreshStarField(Key(count, 4), nullptr));
      ExpectPermutationOf(byCell, byIndex);
    }
  }
  // Below the count it is set to, a field stays by index.
  StarField small;
  small.SetCellOrderFrom(1000);
  ASSERT_TRUE(small.RefreshStarField(Key(999), nullptr));
  EXPECT_FALSE(small.cellOrdered());
}

// A scene rendered twice: from a field by index on the serial loop (the
// reference) and from the same field by cell.
class CellOrderPass : public ::testing::Test {
 protected:
  // Both scenes get the settings of `setup` (called on each).
  void Use(std::function<void(RenderScene&)> setup) { setup_ = std::move(setup); }

  std::unique_ptr<RenderScene> Scene(std::uint32_t cellOrderFrom) {
    auto scene = std::make_unique<RenderScene>(237, 181);
    scene->prepare = StripedBackground;
    scene->Set(pb_starscount, 6000);
    scene->Set(pb_brightstarssize, 3.5f);
    scene->Set(pb_dimstarssize, 0.8f);
    scene->Set(pb_starsalphaflag, 1);
    scene->Set(pb_starsalpha, 200);
    if (setup_) setup_(*scene);
    scene->fx->starField.SetCellOrderFrom(cellOrderFrom);
    return scene;
  }

  // The field by cell, made with 0 or 2 threads granted, drawn with 0, 2
  // and 3, with the visibility index and (`everyStar`) without it: the
  // reference's bytes and progress calls each time.
  void ExpectSameAsByIndex(TimeValue t = 0, int stopAtCall = -1, bool everyStar = false) {
    GrantRenderThreads(0);
    const std::unique_ptr<RenderScene> byIndex = Scene(kNever);
    byIndex->Render(t);  // the field is made once, so every progress call below is the pass's
    const PassResult reference = RenderPassResult(*byIndex, t, stopAtCall);
    ASSERT_FALSE(byIndex->fx->starField.cellOrdered());
    EXPECT_GT(LitPixels(reference.pixels), 100);
    for (int made : {0, 2}) {
      GrantRenderThreads(made);
      const std::unique_ptr<RenderScene> byCell = Scene(0);
      byCell->fx->visibilityIndex = !everyStar;
      byCell->Render(t);
      ASSERT_TRUE(byCell->fx->starField.cellOrdered());
      for (int threads : {0, 2, 3}) {
        SCOPED_TRACE(::testing::Message() << "made on " << made << ", drawn on " << threads << " threads");
        GrantRenderThreads(threads);
        const PassResult r = RenderPassResult(*byCell, t, stopAtCall);
        EXPECT_TRUE(r.pixels == reference.pixels) << "image differs";
        EXPECT_TRUE(r.materialIds == reference.materialIds) << "material IDs differ";
        EXPECT_TRUE(r.objectIds == reference.objectIds) << "object IDs differ";
        EXPECT_EQ(r.progress, reference.progress);
      }
    }
  }

  GrantScope restore;
  std::function<void(RenderScene&)> setup_;
};

TEST_F(CellOrderPass, StillCameraEveryApplyMethodWithIdWritesAndMasks) {
  for (int method : {0, 2, 4, 5}) {
    SCOPED_TRACE(method);
    Use([&](RenderScene& s) {
      s.Set(pb_drawmode, method);
      s.Set(pb_starsobjectidflag, 1);
      s.Set(pb_starsobjectid, 77);
      s.Set(pb_bakmaterialidflag, method == 2 ? 1 : 0);
      s.Set(pb_bakmaterialid, 1);
    });
    ExpectSameAsByIndex();
  }
}

// Many subdivisions make batches of a few hundred stars: the kept stars of
// one cell run across many batches.
TEST_F(CellOrderPass, MotionBlurInManySmallBatches) {
  for (int subdivisions : {8, 700}) {
    SCOPED_TRACE(subdivisions);
    Use([&](RenderScene& s) {
      const TimeValue tpf = GetTicksPerFrame();
      s.camera->SetTransformKeys({LookKey(-tpf, {0, 0, 0}, {-0.3f, 1, 0.1f}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
      s.Set(pb_duration, 1.0f);
      s.Set(pb_durationsubdivisions, subdivisions);
      s.Set(pb_starsdimming, 0.05f);
    });
    ExpectSameAsByIndex();
  }
}

// The 3D domain with a deep shift: ends past the camera plane, and cells
// that no bound leaves out.
TEST_F(CellOrderPass, HyperspaceInTheDomain) {
  Use([](RenderScene& s) {
    s.Set(pb_hyperspaceflag, 1);
    s.Set(pb_hyperspacedepth, 0.9f);
    s.Set(pb_starsdomain3dflag, 1);
    s.Set(pb_starsdomain3dradius, 5.0f);
  });
  ExpectSameAsByIndex();
}

TEST_F(CellOrderPass, Scintillation) {
  Use([](RenderScene& s) {
    s.Set(pb_scintillationflag, 1);
    s.Set(pb_scintillationdx, 3.0f);
    s.Set(pb_scintillationdimmer, 40.0f);
  });
  ExpectSameAsByIndex(1234);
}

// Without the visibility index every cell is walked, every star ranked by
// its index alone.
TEST_F(CellOrderPass, EveryStarWithoutTheIndex) {
  Use([](RenderScene& s) { s.Set(pb_durationsubdivisions, 300); });
  ExpectSameAsByIndex(0, -1, true);
  ExpectSameAsByIndex(0, 9, true);
}

TEST_F(CellOrderPass, AbortsLeaveTheSameStars) {
  for (int call : {0, 1, 7, 23}) {
    SCOPED_TRACE(call);
    ExpectSameAsByIndex(0, call);
  }
}

// The drawing calls a pass hands to an observer, in order.
class CallList : public DrawCallObserver {
 public:
  void Call(const DrawOp& op) override { calls.push_back(op); }
  std::vector<DrawOp> calls;
};

TEST_F(CellOrderPass, ObserverGetsTheCallsInStarOrder) {
  const std::unique_ptr<RenderScene> byIndex = Scene(kNever);
  const std::unique_ptr<RenderScene> byCell = Scene(0);
  CallList a, b;
  byIndex->fx->drawCallObserver = &a;
  byCell->fx->drawCallObserver = &b;
  GrantRenderThreads(2);
  byIndex->Render(0);
  byCell->Render(0);
  ASSERT_TRUE(byCell->fx->starField.cellOrdered());
  ASSERT_GT(a.calls.size(), 100u);
  ASSERT_EQ(a.calls.size(), b.calls.size());
  for (size_t k = 0; k < a.calls.size(); ++k) {
    const DrawOp &x = a.calls[k], &y = b.calls[k];
    ASSERT_TRUE(x.star == y.star && x.kind == y.kind && x.a == y.a && x.b == y.b && x.colour == y.colour && x.r == y.r)
        << "call " << k;
  }
}

// A field of two index blocks: the kept cells' runs continue in the second
// block, within one batch and across batches.
TEST(CellOrderBlocks, TwoBlocksDrawWhatTheFieldByIndexDraws) {
  GrantScope restore;
  const int count = static_cast<int>(VisibilityIndex::kBlockStars) + 40000;
  GrantRenderThreads(2);
  std::unique_ptr<RenderScene> scenes[2];
  for (int k = 0; k < 2; ++k) {
    scenes[k] = std::make_unique<RenderScene>(80, 60);
    scenes[k]->Set(pb_starscount, count);
    // Batches of 174,592 stars: with every star visited one spans the
    // blocks' border; with the index all kept stars are one batch over both.
    scenes[k]->Set(pb_durationsubdivisions, 6);
    scenes[k]->camera->SetTransformKeys({LookKey(-GetTicksPerFrame(), {0, 0, 0}, {0.2f, 1, 0}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
    scenes[k]->fx->starField.SetCellOrderFrom(k == 0 ? kNever : 0);
    scenes[k]->Render(0);
  }
  ASSERT_EQ(scenes[1]->fx->starField.index().blocks(), 2u);
  ASSERT_TRUE(scenes[1]->fx->starField.cellOrdered());
  // With the visibility index, and without it (every cell walked, batches
  // across the blocks' border).
  for (bool index : {true, false}) {
    for (auto& scene : scenes) scene->fx->visibilityIndex = index;
    GrantRenderThreads(0);
    const PassResult reference = RenderPassResult(*scenes[0], 0, -1);
    EXPECT_GT(LitPixels(reference.pixels), 1000);
    for (int threads : {2, 0}) {
      GrantRenderThreads(threads);
      const PassResult r = RenderPassResult(*scenes[1], 0, -1);
      EXPECT_TRUE(r.pixels == reference.pixels) << threads << " threads" << (index ? "" : ", every star");
      EXPECT_EQ(r.progress, reference.progress);
    }
  }
}

// The batches by themselves: every kept star of a set once, in index
// order, batches within their size and covering every star, for sets that
// keep nothing, a few cells, most cells and every cell, in several groups.
TEST(CellBatches, HandEveryKeptStarOnceInIndexOrder) {
  GrantScope restore;
  GrantRenderThreads(2);
  StarField field, byIndex;
  field.SetCellOrderFrom(0);
  byIndex.SetCellOrderFrom(kNever);
  ASSERT_TRUE(field.RefreshStarField(Key(30000), nullptr));
  ASSERT_TRUE(byIndex.RefreshStarField(Key(30000), nullptr));
  const VisibilityIndex& index = field.index();
  for (int keep : {0, 1, 17, 100}) {  // percent of the cells
    std::vector<std::uint8_t> cells(VisibilityIndex::kCells, 0);
    for (int c = 0; c < VisibilityIndex::kCells; ++c) cells[static_cast<size_t>(c)] = (c * 7919) % 100 < keep;
    std::vector<std::uint64_t> marks((30000 + 63) / 64, 0);
    index.MarkStars(cells.data(), marks.data(), 2);
    for (bool everyStar : {false, true}) {
      if (everyStar && keep != 100) continue;
      for (int groups : {1, 2, 5}) {
        SCOPED_TRACE(::testing::Message() << keep << "% of the cells, " << groups << " groups"
                                          << (everyStar ? ", every star" : ""));
        CellBatches batches;
        const CellStarSet set{30000, field.stars(), index.order(), index.starts(0),
                              everyStar ? nullptr : cells.data(), everyStar ? nullptr : marks.data()};
        batches.Plan(set, groups, 512);
        std::vector<std::uint32_t> seen;
        CellBatches::Batch b;
        std::uint32_t covered = 0;
        while (batches.Next(b)) {
          EXPECT_EQ(b.lo, covered);
          EXPECT_LE(b.size, 512u);
          covered = b.hi;
          batches.Gather(b);
          for (std::uint32_t k = 0; k < b.size; ++k) {
            const KeptStar& s = batches.stars()[k];
            ASSERT_TRUE(s.index >= b.lo && s.index < b.hi);
            ASSERT_TRUE(SameRecord(s.record, byIndex.stars()[s.index])) << "star " << s.index;
            seen.push_back(s.index);
          }
        }
        EXPECT_EQ(covered, 30000u);
        std::vector<std::uint32_t> expected;
        for (std::uint32_t i = 0; i < 30000; ++i)
          if (everyStar || cells[VisibilityIndex::CellOf(byIndex.stars()[i].pos)]) expected.push_back(i);
        EXPECT_EQ(seen, expected);
      }
    }
  }
}

}  // namespace
