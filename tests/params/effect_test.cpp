// The effect object and its class descriptor, as the host sees them.
#include <gtest/gtest.h>

#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"

namespace {

// An effect made the way the host makes one, deleted the way the host
// deletes one (dropping its references first, which deletes its block).
struct HostEffect {
  HostEffect() : effect(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE))) {}
  ~HostEffect() {
    if (effect) effect->DeleteMe();
  }
  Qe_Velumbra* operator->() const { return static_cast<Qe_Velumbra*>(effect); }
  Effect* effect;
};

TEST(ClassDescriptor, AnswersTheClassIdentity) {
  ScopedInstance module;
  ClassDesc2* cd = GetQe_VelumbraDesc();
  EXPECT_EQ(cd, GetQe_VelumbraDesc());  // one descriptor
  EXPECT_EQ(cd->IsPublic(), 1);
  EXPECT_STREQ(cd->ClassName(), "Qe_Velumbra");
  EXPECT_STREQ(cd->Category(), "Render Effect");
  EXPECT_STREQ(cd->InternalName(), "Qe_Velumbra");
  EXPECT_EQ(cd->SuperClassID(), 0x1090u);
  EXPECT_EQ(cd->ClassID(), Class_ID(0x06C94719, 0x211345D7));
  EXPECT_EQ(cd->HInstance(), hInstance);
  EXPECT_TRUE(cd->IsValid()) << cd->ErrorMessage();
  ASSERT_EQ(cd->NumParamBlockDescs(), 1);
  EXPECT_EQ(cd->GetParamBlockDesc(0), &qe_velumbra_param_blk);
  EXPECT_EQ(cd->GetParamBlockDescByID(0), &qe_velumbra_param_blk);
  EXPECT_EQ(cd->GetParamBlockDescByID(1), nullptr);
  EXPECT_EQ(cd->GetParamBlockDesc(1), nullptr);
  EXPECT_EQ(qe_velumbra_param_blk.ClassDescriptor(), cd);
}

TEST(ClassDescriptor, TextsAreNullBeforeTheModuleHandleIsKnown) {
  ScopedInstance none(nullptr);
  ClassDesc2* cd = GetQe_VelumbraDesc();
  EXPECT_EQ(cd->ClassName(), nullptr);
  EXPECT_EQ(cd->Category(), nullptr);
  EXPECT_STREQ(cd->InternalName(), "Qe_Velumbra");  // fixed, not from the table
  EXPECT_EQ(cd->HInstance(), nullptr);
}

TEST(ClassDescriptor, CreateMakesAnEffectWhateverTheLoadingFlag) {
  for (BOOL loading : {FALSE, TRUE}) {
    auto* e = static_cast<Effect*>(GetQe_VelumbraDesc()->Create(loading));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ClassID(), Class_ID(0x06C94719, 0x211345D7));
    EXPECT_EQ(e->SuperClassID(), RENDER_EFFECT_CLASS_ID);
    EXPECT_NE(e->GetReference(0), nullptr);
    e->DeleteMe();
  }
}

TEST(EffectObject, HoldsItsBlockAsEveryReferenceAndSubAnim) {
  HostEffect e;
  IParamBlock2* block = e->pblock;
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->GetDesc(), &qe_velumbra_param_blk);
  EXPECT_EQ(e->NumRefs(), 1);
  EXPECT_EQ(e->GetReference(0), block);
  EXPECT_EQ(e->GetReference(3), block);
  EXPECT_EQ(e->NumSubs(), 1);
  EXPECT_EQ(e->SubAnim(0), block);
  EXPECT_EQ(e->SubAnim(7), block);
  EXPECT_EQ(e->NumParamBlocks(), 1);
  EXPECT_EQ(e->GetParamBlock(0), block);
  EXPECT_EQ(e->GetParamBlock(5), block);
  EXPECT_EQ(e->GetParamBlockByID(0), block);
  EXPECT_EQ(e->GetParamBlockByID(1), nullptr);
  EXPECT_EQ(e->GetParamBlockByID(-1), nullptr);
  // The effect is the block's dependent: the block is owned through it.
  ASSERT_EQ(block->Dependents().size(), 1u);
  EXPECT_EQ(block->Dependents()[0], e.effect);
}

TEST(EffectObject, EachEffectHasItsOwnBlockOfDefaults) {
  HostEffect a;
  HostEffect b;
  ASSERT_NE(a->pblock, b->pblock);
  ASSERT_TRUE(a->pblock->SetValue(pb_starscount, 0, 5));
  Interval valid = FOREVER;
  int count = 0;
  ASSERT_TRUE(b->pblock->GetValue(pb_starscount, 0, count, valid));
  EXPECT_EQ(count, 10000);
}

TEST(EffectObject, ChangeMessagesRefreshTheRollouts) {
  HostEffect e;
  const int before = qe_velumbra_param_blk.InvalidateUICount();
  ASSERT_TRUE(e->pblock->SetValue(pb_scintillationdy, 0, 3.0f));
  EXPECT_EQ(qe_velumbra_param_blk.InvalidateUICount(), before + 1);
  // Any other message is answered but refreshes nothing.
  PartID part = PART_ALL;
  EXPECT_EQ(e->NotifyRefChanged(FOREVER, e->pblock, part, REFMSG_TARGET_DELETED), REF_SUCCEED);
  EXPECT_EQ(qe_velumbra_param_blk.InvalidateUICount(), before + 1);
  EXPECT_EQ(e->NotifyRefChanged(FOREVER, e->pblock, part, REFMSG_CHANGE), REF_SUCCEED);
  EXPECT_EQ(qe_velumbra_param_blk.InvalidateUICount(), before + 2);
  // A refused SetValue sends nothing.
  EXPECT_FALSE(e->pblock->SetValue(pb_scintillationdy, 0, 3));
  EXPECT_EQ(qe_velumbra_param_blk.InvalidateUICount(), before + 2);
}

TEST(EffectObject, NamesAndChannels) {
  HostEffect e;
  {
    ScopedInstance module;
    std::string name = "unset";
    e->GetClassName(name);
    EXPECT_EQ(name, "Qe_Velumbra");
    EXPECT_EQ(e->GetName(), "Qe_Velumbra");
  }
  {
    ScopedInstance none(nullptr);
    std::string name = "unset";
    e->GetClassName(name);
    EXPECT_EQ(name, "");
    EXPECT_EQ(e->GetName(), "");
  }
  EXPECT_EQ(e->name, "");  // the user's name starts empty
  // Both G-buffer channels, whatever the masks and write flags say.
  EXPECT_EQ(e->GBufferChannelsRequired(0), 6u);
  ASSERT_TRUE(e->pblock->SetValue(pb_starsobjectidflag, 0, 1));
  ASSERT_TRUE(e->pblock->SetValue(pb_bakmaterialidflag, 0, 1));
  EXPECT_EQ(e->GBufferChannelsRequired(4800), 6u);
}

TEST(EffectObject, ReplacingTheBlockDeletesTheOldOne) {
  // Reference 0 follows ReplaceReference, and the block the effect alone
  // held is released with it (as a clone's fresh block is).
  static int destroyed = 0;
  struct CountedBlock : IParamBlock2 {
    CountedBlock() : IParamBlock2(&qe_velumbra_param_blk) {}
    ~CountedBlock() override { ++destroyed; }
  };
  destroyed = 0;
  HostEffect e;
  auto* first = new CountedBlock;
  ASSERT_EQ(e->ReplaceReference(0, first), REF_SUCCEED);
  EXPECT_EQ(e->pblock, first);
  EXPECT_EQ(destroyed, 0);
  auto* second = new CountedBlock;
  ASSERT_EQ(e->ReplaceReference(0, second), REF_SUCCEED);
  EXPECT_EQ(e->GetReference(0), second);
  EXPECT_EQ(destroyed, 1);  // the first block went with its last dependent
  e.effect->DeleteMe();
  e.effect = nullptr;
  EXPECT_EQ(destroyed, 2);  // and the second with the effect
}

}  // namespace
