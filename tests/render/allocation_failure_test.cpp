// Allocation failures at each allocation of a render pass: Apply returns,
// and the image is the serial loop's or, where even that cannot run, the
// image as it came; what failed is in the host's log.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "failing_allocator.h"
#include "support/render_fixture.h"
#include "support/thread_grant.h"

namespace {

enum class Setting { kStill, kPan, kScintillation };

void Use(RenderScene& scene, Setting setting) {
  scene.prepare = [](Bitmap& bm) {
    BMM_Color_64* px = bm.Storage()->Pixels();
    for (int i = 0; i < bm.Width() * bm.Height(); ++i) px[i] = {static_cast<WORD>(i * 37 % 9000), 3000, 0, 20000};
  };
  scene.Set(pb_starscount, 4000);
  scene.Set(pb_brightstarssize, 3.0f);
  if (setting == Setting::kPan) {
    const TimeValue tpf = GetTicksPerFrame();
    scene.camera->SetTransformKeys({LookKey(-tpf, {0, 0, 0}, {-0.3f, 1, 0.1f}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
    scene.Set(pb_duration, 1.0f);
    scene.Set(pb_durationsubdivisions, 6);
  }
  if (setting == Setting::kScintillation) {
    scene.Set(pb_scintillationflag, 1);
    scene.Set(pb_scintillationdx, 2.0f);
  }
}

struct Outcome {
  std::vector<BMM_Color_64> pixels;
  std::vector<LogRecord> log;
  std::int64_t asked = 0, failed = 0;
};

// Renders the prepared frame with allocation `failAt` failing (and every
// later one with `failRest`).
Outcome RenderFailing(RenderScene& scene, std::int64_t failAt, bool failRest) {
  scene.Prepare(0);
  QuietAbort cb;
  GetHostLog()->Take();
  Outcome out;
  {
    FailingAllocations faults(failAt, failRest);
    scene.fx->Apply(0, scene.bitmap.get(), nullptr, &cb);
    out.asked = faults.asked();
    out.failed = faults.failed();
  }
  out.pixels = scene.Pixels();
  out.log = GetHostLog()->Take();
  return out;
}

bool HasError(const std::vector<LogRecord>& log) {
  for (const LogRecord& r : log)
    if (r.type == SYSLOG_ERROR) return true;
  return false;
}

// For every allocation k of the pass (the field's generation included when
// `fresh`): the k-th failing alone, and the k-th with every later one. With
// `byCell` the field is laid out by cell (when its arrangement gets its
// memory).
void ExpectEveryFailureSurvived(Setting setting, int granted, bool fresh, bool byCell = false) {
  GrantScope restore;
  RenderScene reference;
  Use(reference, setting);
  const std::vector<BMM_Color_64> serial = reference.Render(0);
  reference.Prepare(0);
  const std::vector<BMM_Color_64> input = reference.Pixels();
  ASSERT_GT(LitPixels(serial), 50);

  GrantRenderThreads(granted);
  std::int64_t allocations = 0;
  {
    RenderScene scene;
    Use(scene, setting);
    if (byCell) scene.fx->starField.SetCellOrderFrom(0);
    if (!fresh) scene.Render(0);
    const Outcome clean = RenderFailing(scene, FailingAllocations::kNever, false);
    EXPECT_EQ(scene.fx->starField.cellOrdered(), byCell);
    ASSERT_TRUE(SamePixels(clean.pixels, serial));
    EXPECT_TRUE(clean.log.empty());
    allocations = clean.asked;
  }
  ASSERT_GT(allocations, fresh ? 3 : 1) << "the pass allocates";

  int untouched = 0, drawn = 0;
  for (bool failRest : {false, true}) {
    for (std::int64_t k = 0; k < allocations; ++k) {
      SCOPED_TRACE(::testing::Message() << "allocation " << k << (failRest ? " and later" : " alone"));
      RenderScene scene;
      Use(scene, setting);
      if (byCell) scene.fx->starField.SetCellOrderFrom(0);
      if (!fresh) scene.Render(0);
      const Outcome o = RenderFailing(scene, k, failRest);
      ASSERT_GE(o.failed, 1);
      if (SamePixels(o.pixels, serial)) {
        ++drawn;
        EXPECT_FALSE(HasError(o.log)) << "the stars were all drawn";
      } else {
        ++untouched;
        EXPECT_TRUE(SamePixels(o.pixels, input)) << "neither the serial loop's image nor the input";
        // With every later allocation failing, the log cannot keep the entry.
        if (!failRest) {
          EXPECT_TRUE(HasError(o.log)) << "a failure that lost the stars is logged";
        }
      }
      for (const LogRecord& r : o.log) EXPECT_EQ(r.title, "Qe_Velumbra");
    }
  }
  // Both outcomes occur: some failures are survived by the serial loop.
  if (granted >= 2) {
    EXPECT_GT(drawn, 0);
  }
  if (fresh) {
    EXPECT_GT(untouched, 0);
  }
}

TEST(AllocationFailure, EveryAllocationOfAFreshPassSerial) { ExpectEveryFailureSurvived(Setting::kStill, 0, true); }
TEST(AllocationFailure, EveryAllocationOfAFreshPassOnTwoThreads) {
  ExpectEveryFailureSurvived(Setting::kStill, 2, true);
}
TEST(AllocationFailure, EveryAllocationAfterTheFirstRenderOnTwoThreads) {
  for (Setting s : {Setting::kStill, Setting::kPan, Setting::kScintillation}) {
    SCOPED_TRACE(static_cast<int>(s));
    ExpectEveryFailureSurvived(s, 2, false);
  }
}
TEST(AllocationFailure, MotionBlurOnThreeThreadsFresh) { ExpectEveryFailureSurvived(Setting::kPan, 3, true); }
// A field laid out by cell: a failure of its arrangement leaves it by index
// (drawn all the same), one of the batches' memory draws nothing and says
// so, one of the recordings' the serial loop survives.
TEST(AllocationFailure, EveryAllocationOfAFieldByCell) {
  ExpectEveryFailureSurvived(Setting::kStill, 2, true, true);
  ExpectEveryFailureSurvived(Setting::kPan, 2, false, true);
  ExpectEveryFailureSurvived(Setting::kScintillation, 0, false, true);
}

TEST(AllocationFailure, AStarArrayThatCannotBeMadeIsLoggedByCount) {
  RenderScene scene;
  Use(scene, Setting::kStill);
  scene.Prepare(0);
  const std::vector<BMM_Color_64> input = scene.Pixels();
  // Every allocation fails, the log's own included: the image is left as
  // it came.
  EXPECT_TRUE(SamePixels(RenderFailing(scene, 0, true).pixels, input));
  scene.Prepare(0);
  GetHostLog()->Take();
  {
    // Only the record array (allocation 0) fails.
    FailingAllocations faults(0);
    QuietAbort cb;
    scene.fx->Apply(0, scene.bitmap.get(), nullptr, &cb);
  }
  const std::vector<LogRecord> log = GetHostLog()->Take();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].type, SYSLOG_ERROR);
  EXPECT_EQ(log[0].title, "Qe_Velumbra");
  EXPECT_EQ(log[0].message, "not enough memory for 4000 stars");
  EXPECT_TRUE(SamePixels(scene.Pixels(), input));
  // Memory back: the field is made and drawn, and nothing is logged.
  scene.Render(0);
  EXPECT_GT(LitPixels(scene.Pixels()), 50);
  EXPECT_TRUE(GetHostLog()->Take().empty());
}

}  // namespace

namespace {

TEST(AllocationFailure, ParallelGenerationFallsBackToTheSerialField) {
  GrantScope restore;
  StarFieldKey key;
  key.count = 20000;
  key.seed = 7;
  key.brightColor = {65535, 60000, 50000, 0};
  key.dimColor = {30000, 30000, 40000, 0};
  key.alpha16 = 0xFF00;
  key.brightSize = 2.0f;
  key.dimSize = 1.0f;
  key.brightDimBalance = 0.3f;
  StarField serial;
  ASSERT_TRUE(serial.RefreshStarField(key, nullptr));

  GrantRenderThreads(2);
  std::int64_t allocations = 0;
  {
    StarField field;
    FailingAllocations count(FailingAllocations::kNever);
    ASSERT_TRUE(field.RefreshStarField(key, nullptr));
    allocations = count.asked();
  }
  ASSERT_GT(allocations, 3);
  int fellBack = 0;
  for (std::int64_t k = 0; k < allocations; ++k) {
    SCOPED_TRACE(k);
    StarField field;
    bool made = false;
    {
      FailingAllocations faults(k);
      made = field.RefreshStarField(key, nullptr);
    }
    if (!made) {
      EXPECT_TRUE(field.outOfMemory());
      EXPECT_EQ(field.stars(), nullptr);
      EXPECT_EQ(field.count(), key.count) << "the count asked for, for the message";
      continue;
    }
    fellBack += field.fellBackToSerial();
    EXPECT_EQ(std::memcmp(field.stars(), serial.stars(), sizeof(StarRecord) * key.count), 0);
    EXPECT_EQ(field.rng().Tell(), serial.rng().Tell());
  }
  EXPECT_GT(fellBack, 0);
}

}  // namespace
