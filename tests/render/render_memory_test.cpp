// The effect's memory figures (IStarField::RenderMemory) against what its
// renders allocate: the most bytes held at once while Apply runs, measured
// by the test's allocator, stay within them, for fields by index and by
// cell, on the serial loops and on workers.
#include <gtest/gtest.h>

#include "failing_allocator.h"
#include "support/render_fixture.h"
#include "support/thread_grant.h"

namespace {

TEST(RenderMemory, CoversWhatARenderHoldsAtOnce) {
  GrantScope restore;
  // 1,200,000 stars are laid out by cell.
  for (int stars : {5000, 1200000}) {
    for (int threads : {0, 2}) {
      for (int subdivisions : {1, 6}) {
        SCOPED_TRACE(::testing::Message() << stars << " stars, " << threads << " threads, " << subdivisions
                                          << " subdivisions");
        GrantRenderThreads(threads);
        RenderScene scene(320, 240);
        scene.Set(pb_starscount, stars);
        scene.Set(pb_durationsubdivisions, subdivisions);
        scene.camera->SetTransformKeys({LookKey(-GetTicksPerFrame(), {0, 0, 0}, {0.2f, 1, 0}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
        IStarField* field = GetStarFieldInterface(scene.fx);
        ASSERT_NE(field, nullptr);
        const TimeValue t = 0;
        const StarFieldMemory m = field->RenderMemory(&t, 1, threads);
        QuietAbort cb;
        for (int frame = 0; frame < 2; ++frame) {
          scene.Prepare(0);
          std::int64_t peak = 0;
          {
            FailingAllocations measured(FailingAllocations::kNever);
            scene.fx->Apply(0, scene.bitmap.get(), nullptr, &cb);
            peak = measured.peakBytes();
          }
          EXPECT_EQ(scene.fx->starField.cellOrdered(), stars >= 1000000);
          // The first frame makes the field, the second reuses it and the
          // pass's buffers.
          EXPECT_LE(peak, static_cast<std::int64_t>(frame == 0 ? m.records + m.working : m.working)) << "frame " << frame;
          if (frame == 0) {
            EXPECT_GE(peak, static_cast<std::int64_t>(m.records));
          }
        }
      }
    }
  }
}

}  // namespace
