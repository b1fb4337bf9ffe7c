// Cloning an effect: the clone owns a copy of the block, renders the same
// stars, and a clone that cannot be allocated is none, touches no reference
// of the source and leaks nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "support/render_fixture.h"

// --- allocation that can be made to fail ------------------------------------
// Every allocation of this test program goes through these. Armed with n,
// the next n allocations succeed and the one after them fails. The live
// count (allocated, not yet freed) lets a window of code be checked for
// leaks in every build, not only under the leak checker.

namespace {

std::atomic<long> allocationsUntilFailure{-1};  // -1: never fail
std::atomic<long> liveAllocations{0};

void* Allocate(std::size_t n) {
  long left = allocationsUntilFailure.load();
  while (left >= 0) {
    if (allocationsUntilFailure.compare_exchange_weak(left, left - 1)) {
      if (left == 0) {
        allocationsUntilFailure = -1;
        throw std::bad_alloc();
      }
      break;
    }
  }
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  ++liveAllocations;
  return p;
}

void Release(void* p) noexcept {
  if (!p) return;
  --liveAllocations;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

int IntValue(IParamBlock2* pb, ParamID id) {
  int v = -1;
  Interval valid = FOREVER;
  pb->GetValue(id, 0, v, valid);
  return v;
}

TEST(EffectClone, OwnsACopyOfTheBlock) {
  RenderScene scene;
  ASSERT_TRUE(scene.fx->pblock->SetValue(pb_seed, 0, 4242));
  const ParamKey<float> keys[] = {{0, 0.5f}, {320, 1.5f}};
  ASSERT_TRUE(scene.fx->pblock->SetKeys(pb_duration, keys));
  scene.fx->name = "Source";
  RemapDir remap;
  auto* copy = static_cast<Qe_Velumbra*>(remap.CloneRef(scene.fx));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(remap.CloneRef(scene.fx), copy) << "cloned once per operation";
  ASSERT_NE(copy->pblock, nullptr);
  EXPECT_NE(copy->pblock, scene.fx->pblock);
  EXPECT_EQ(copy->GetReference(0), copy->pblock);
  ASSERT_EQ(copy->pblock->Dependents().size(), 1u);
  EXPECT_EQ(copy->pblock->Dependents()[0], copy);
  EXPECT_EQ(IntValue(copy->pblock, pb_seed), 4242);
  EXPECT_EQ(copy->pblock->NumKeys(pb_duration), 2);
  EXPECT_EQ(copy->starField.stars(), nullptr) << "stars are made at the first render";
  EXPECT_EQ(copy->starField.count(), 0u);

  // Independent both ways.
  ASSERT_TRUE(copy->pblock->SetValue(pb_seed, 0, 1));
  EXPECT_EQ(IntValue(scene.fx->pblock, pb_seed), 4242);
  ASSERT_TRUE(scene.fx->pblock->SetValue(pb_starscount, 0, 5));
  EXPECT_EQ(IntValue(copy->pblock, pb_starscount), 10000);
  copy->DeleteMe();
  EXPECT_EQ(scene.fx->pblock->Dependents().size(), 1u);
}

TEST(EffectClone, RendersTheSameStarsAsItsSource) {
  RenderScene scene;
  scene.Set(pb_starscount, 600);
  scene.Set(pb_brightstarssize, 2.5f);
  scene.Set(pb_duration, 1.0f);
  const std::vector<BMM_Color_64> source = scene.Render(80);
  ASSERT_GT(LitPixels(source), 10);
  RemapDir remap;
  auto* copy = static_cast<Qe_Velumbra*>(remap.CloneRef(scene.fx));
  ASSERT_NE(copy, nullptr);
  Qe_Velumbra* original = scene.fx;
  scene.fx = copy;  // render the clone in the same scene
  const std::vector<BMM_Color_64> cloned = scene.Render(80);
  scene.fx = original;
  copy->DeleteMe();
  EXPECT_TRUE(SamePixels(cloned, source));
}

TEST(EffectClone, AFailedAllocationAnywhereGivesNoneAndTouchesNothing) {
  RenderScene scene;
  ASSERT_TRUE(scene.fx->pblock->SetValue(pb_seed, 0, 31));
  IParamBlock2* block = scene.fx->pblock;
  bool succeeded = false;
  int failures = 0;
  for (long n = 0; n < 1000 && !succeeded; ++n) {
    const long live = liveAllocations.load();
    ReferenceTarget* copy = nullptr;
    {
      RemapDir remap;
      allocationsUntilFailure = n;
      copy = scene.fx->Clone(remap);
      allocationsUntilFailure = -1;
      if (copy) {
        succeeded = true;
        static_cast<ReferenceMaker*>(copy)->DeleteMe();
      } else {
        ++failures;
      }
    }
    ASSERT_EQ(liveAllocations.load(), live) << "leak with the allocation after " << n << " failing";
    ASSERT_EQ(scene.fx->pblock, block);
    ASSERT_EQ(block->Dependents().size(), 1u);
    ASSERT_EQ(block->Dependents()[0], scene.fx);
    ASSERT_EQ(IntValue(block, pb_seed), 31);
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GE(failures, 3) << "the object, its fresh block and the block's copy can each fail";
}

TEST(EffectObject, OnlyTheChangeMessageRefreshesTheRollouts) {
  RenderScene scene;
  const int before = qe_velumbra_param_blk.InvalidateUICount();
  PartID part = PART_ALL;
  for (RefMessage m : {REFMSG_TARGET_DELETED, RefMessage{0x10}, RefMessage{0x4F}, RefMessage{0x51},
                       RefMessage{0xFFFFFFFF}, RefMessage{0}}) {
    EXPECT_EQ(scene.fx->NotifyRefChanged(FOREVER, scene.fx->pblock, part, m), REF_SUCCEED) << m;
  }
  EXPECT_EQ(qe_velumbra_param_blk.InvalidateUICount(), before);
  EXPECT_EQ(scene.fx->NotifyRefChanged(FOREVER, scene.fx->pblock, part, REFMSG_CHANGE), REF_SUCCEED);
  EXPECT_EQ(qe_velumbra_param_blk.InvalidateUICount(), before + 1);
}

}  // namespace
