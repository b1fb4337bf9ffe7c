// The parallel star loop against the serial reference loop: identical bytes
// in the image and in both G-buffer channels, for every way of drawing, and
// the same progress calls and abort points.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "render/star_loop.h"
#include "support/render_fixture.h"
#include "support/thread_grant.h"

namespace {

using Result = PassResult;

Result RenderWith(RenderScene& scene, int threads, TimeValue t, int stopAtCall) {
  GrantRenderThreads(threads);
  return RenderPassResult(scene, t, stopAtCall);
}

class ParallelTest : public ::testing::Test {
 protected:
  ParallelTest() : scene(237, 181) {
    scene.prepare = StripedBackground;
    scene.Set(pb_starscount, 6000);
    scene.Set(pb_brightstarssize, 3.5f);
    scene.Set(pb_dimstarssize, 0.8f);
    scene.Set(pb_starsalphaflag, 1);
    scene.Set(pb_starsalpha, 200);
  }

  // Nothing granted (the serial loop), then two and three threads:
  // everything identical.
  void ExpectSameAsSerial(TimeValue t = 0, int stopAtCall = -1) {
    scene.Render(t);  // the field is made once, so every progress call below is the pass's
    const Result serial = RenderWith(scene, 0, t, stopAtCall);
    EXPECT_GT(LitPixels(serial.pixels), 100);
    for (int threads : {2, 3}) {
      const Result parallel = RenderWith(scene, threads, t, stopAtCall);
      EXPECT_TRUE(parallel.pixels == serial.pixels) << threads << " threads: image differs";
      EXPECT_TRUE(parallel.materialIds == serial.materialIds) << threads << " threads: material IDs differ";
      EXPECT_TRUE(parallel.objectIds == serial.objectIds) << threads << " threads: object IDs differ";
      EXPECT_EQ(parallel.progress, serial.progress) << threads << " threads";
    }
  }

  GrantScope restore;
  RenderScene scene;
};

TEST_F(ParallelTest, EveryApplyMethodWithIdWrites) {
  scene.Set(pb_starsobjectidflag, 1);
  scene.Set(pb_starsobjectid, 77);
  scene.Set(pb_starsmaterialidflag, 1);
  scene.Set(pb_starsmaterialid, 9);
  for (int method = 0; method <= 5; ++method) {
    SCOPED_TRACE(method);
    scene.Set(pb_drawmode, method);
    ExpectSameAsSerial();
  }
}

TEST_F(ParallelTest, MasksAndNoAlphaWrite) {
  scene.Set(pb_bakobjectidflag, 1);
  scene.Set(pb_bakobjectid, 2);
  scene.Set(pb_bakmaterialidflag, 1);
  scene.Set(pb_bakmaterialid, 1);
  scene.Set(pb_starsalphaflag, 0);
  scene.Set(pb_drawmode, 3);
  ExpectSameAsSerial();
}

TEST_F(ParallelTest, MotionBlurOfAPanningCamera) {
  const TimeValue tpf = GetTicksPerFrame();
  scene.camera->SetTransformKeys({LookKey(-tpf, {0, 0, 0}, {-0.3f, 1, 0.1f}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
  scene.Set(pb_duration, 1.0f);
  scene.Set(pb_durationsubdivisions, 8);
  scene.Set(pb_starsdimming, 0.05f);
  for (int method : {0, 4}) {
    SCOPED_TRACE(method);
    scene.Set(pb_drawmode, method);
    ExpectSameAsSerial();
  }
}

TEST_F(ParallelTest, HyperspaceAndStreaksThroughTheNearPlane) {
  scene.Set(pb_hyperspaceflag, 1);
  scene.Set(pb_hyperspacedepth, 0.6f);
  ExpectSameAsSerial();
  // In the 3D domain a deep shift carries ends past the camera plane.
  scene.Set(pb_starsdomain3dflag, 1);
  scene.Set(pb_starsdomain3dradius, 5.0f);
  scene.Set(pb_hyperspacedepth, 0.9f);
  ExpectSameAsSerial();
}

TEST_F(ParallelTest, Scintillation) {
  scene.Set(pb_scintillationflag, 1);
  scene.Set(pb_scintillationdx, 3.0f);
  scene.Set(pb_scintillationdimmer, 40.0f);
  ExpectSameAsSerial(1234);
}

TEST_F(ParallelTest, AbortsLeaveTheSameStars) {
  for (int call : {0, 1, 7, 23}) {
    SCOPED_TRACE(call);
    ExpectSameAsSerial(0, call);
  }
}

TEST(StarLoopGrant, NothingOrOneThreadGrantedRunsTheSerialLoop) {
  GrantScope restore;
  RenderScene scene;
  for (const auto& [granted, threads] : std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 2}, {5, 5}}) {
    GrantRenderThreads(granted);
    EXPECT_EQ(scene.fx->LoopOptions().threads, threads) << granted << " granted";
  }
  GrantRenderThreads(-3);
  EXPECT_EQ(RenderThreadsGranted(), 0) << "a negative grant grants nothing";
}

TEST(StarLoopGrant, SerialLoopStaysOnTheCallingThread) {
  Bitmap bm(64, 48);
  PixelTarget target(&bm, 0);
  const std::thread::id caller = std::this_thread::get_id();
  int elsewhere = 0, stars = 0;
  RecordingAbort cb;
  RunStarLoop(StarSet{3000}, target, &cb, 1, StarLoopOptions{}, [&](std::uint32_t i, auto& sink) {
    elsewhere += std::this_thread::get_id() != caller;
    ++stars;
    sink.Splat(Point2(static_cast<float>(i % 64), static_cast<float>(i % 48)), BMM_Color_64{100, 100, 100, 100}, 1.5f);
  });
  EXPECT_EQ(stars, 3000);
  EXPECT_EQ(elsewhere, 0);
  ASSERT_EQ(cb.progress.size(), 12u);  // stars 0, 256, ..., 2816
  EXPECT_EQ(cb.progress.back(), std::make_pair(2816, 3000));
}

// The observer goes with the pass: one effect hands its calls over while
// another, rendering the same scene, draws.
TEST(StarLoopObserver, IsAnOptionOfOnePass) {
  struct Counter : DrawCallObserver {
    void Call(const DrawOp&) override { ++calls; }
    int calls = 0;
  } counter;
  RenderScene observed, drawn;
  observed.Set(pb_starscount, 3000);
  drawn.Set(pb_starscount, 3000);
  observed.fx->drawCallObserver = &counter;
  const auto untouched = observed.Render(0);
  EXPECT_EQ(LitPixels(untouched), 0) << "an observed pass draws nothing";
  EXPECT_GT(counter.calls, 20);
  EXPECT_GT(LitPixels(drawn.Render(0)), 20);
  const int calls = counter.calls;
  observed.fx->drawCallObserver = nullptr;
  EXPECT_EQ(LitPixels(observed.Render(0)), LitPixels(drawn.Render(0)));
  EXPECT_EQ(counter.calls, calls);
}

TEST(StarLoopBatches, HoldWholeProgressStepsAndBoundTheirCalls) {
  Bitmap bm(100, 70);
  PixelTarget target(&bm, 0);
  for (int opsPerStar : {1, 8, 1000, 100000}) {
    ParallelStarLoop loop(target, 2, opsPerStar, 5000);
    EXPECT_EQ(loop.batchStars() % 256, 0u);
    EXPECT_GE(loop.batchStars(), 256u);
    if (opsPerStar <= 1000) {
      EXPECT_LE(static_cast<std::uint64_t>(loop.batchStars()) * opsPerStar, 1u << 20);
    }
  }
}

// A loop over a sparse set of stars against the loop over every star whose
// left-out stars draw nothing: the same pixels, the same progress calls, and
// the same place to stop, for sets that are empty, full, sparse, dense and
// clustered at the ends of words and batches, on the serial loop and on 2
// and 3 threads, with many small batches (a big opsPerStar).
TEST(StarLoopSets, SkipOnlyStarsThatDrawNothing) {
  constexpr int kW = 96, kH = 64;
  constexpr std::uint32_t kCount = 5000;
  Random rng;
  rng.srand(77);
  std::vector<std::vector<std::uint64_t>> sets;
  const size_t words = (kCount + 63) / 64;
  sets.emplace_back(words, 0);  // nothing
  for (int density : {1, 30, 95}) {  // percent
    std::vector<std::uint64_t> bits(words, 0);
    for (std::uint32_t i = 0; i < kCount; ++i)
      if (rng.rand() % 100 < density) bits[i >> 6] |= std::uint64_t{1} << (i & 63);
    sets.push_back(bits);
  }
  std::vector<std::uint64_t> edges(words, 0);  // word, progress and final stars
  for (std::uint32_t i : {0u, 63u, 64u, 255u, 256u, 257u, 4095u, 4096u, 4999u}) edges[i >> 6] |= std::uint64_t{1} << (i & 63);
  sets.push_back(edges);

  const auto run = [&](const std::uint64_t* bits, bool asSet, int threads, int stopAt, int opsPerStar) {
    Bitmap bm(kW, kH);
    PixelTarget target(&bm, 2);
    RecordingAbort cb(stopAt);
    StarLoopOptions options;
    options.threads = threads;
    const auto in = [&](std::uint32_t i) { return ((bits[i >> 6] >> (i & 63)) & 1) != 0; };
    RunStarLoop(StarSet{kCount, asSet ? bits : nullptr}, target, &cb, opsPerStar, options,
                [&](std::uint32_t i, auto& sink) {
                  if (!in(i)) return;
                  const auto x = static_cast<float>((i * 37) % kW), y = static_cast<float>((i * 11) % kH);
                  const auto c = static_cast<WORD>(200 + i % 1000);
                  for (int k = 0; k < opsPerStar && k < 3; ++k) sink.Splat(Point2(x + k, y), BMM_Color_64{c, c, c, c}, 2.0f);
                });
    const BMM_Color_64* p = bm.Storage()->Pixels();
    return std::make_pair(std::vector<BMM_Color_64>(p, p + kW * kH), cb.progress);
  };
  for (size_t s = 0; s < sets.size(); ++s)
    for (int threads : {0, 2, 3})
      for (int opsPerStar : {1, 1000})
        for (int stopAt : {-1, 0, 1, 7, 19}) {
          SCOPED_TRACE(::testing::Message() << "set " << s << ", threads " << threads << ", ops " << opsPerStar
                                            << ", stop at " << stopAt);
          const auto full = run(sets[s].data(), false, 0, stopAt, opsPerStar);
          const auto sparse = run(sets[s].data(), true, threads, stopAt, opsPerStar);
          EXPECT_EQ(sparse.second, full.second);
          EXPECT_TRUE(sparse.first == full.first);
        }
}

// The recordings' memory an effect keeps from one pass to the next serves
// passes of other sizes and motion: each draws what a fresh effect on the
// serial loop draws.
TEST(StarLoopMemory, KeptMemoryServesPassesOfOtherSizes) {
  GrantScope restore;
  RenderScene kept;
  kept.Set(pb_starscount, 4000);
  kept.Set(pb_brightstarssize, 4.0f);
  for (const auto& [w, h, subdivisions] : std::vector<std::tuple<int, int, int>>{{160, 120, 1}, {37, 300, 4}, {300, 20, 9}, {64, 48, 2}}) {
    SCOPED_TRACE(::testing::Message() << w << " x " << h << ", " << subdivisions << " subdivisions");
    RenderScene fresh(w, h);
    for (RenderScene* s : {&kept, &fresh}) {
      s->Set(pb_starscount, 4000);
      s->Set(pb_brightstarssize, 4.0f);
      s->Set(pb_durationsubdivisions, subdivisions);
      s->camera->SetTransformKeys({LookKey(-GetTicksPerFrame(), {0, 0, 0}, {0.3f, 1, 0}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
    }
    kept.Resize(w, h);
    GrantRenderThreads(2);
    const auto a = kept.Render(0);
    GrantRenderThreads(0);
    const auto b = fresh.Render(0);
    EXPECT_TRUE(a == b);
    EXPECT_GT(LitPixels(b), 10);
  }
}

}  // namespace
