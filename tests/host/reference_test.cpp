#include <gtest/gtest.h>

#include "plugin/host.h"

namespace {

int g_targetsAlive = 0;

struct Target : ReferenceTarget {
  Target() { ++g_targetsAlive; }
  ~Target() override { --g_targetsAlive; }
  RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage) override { return REF_SUCCEED; }
  ReferenceTarget* Clone(RemapDir&) override { return new Target; }
};

struct Maker : ReferenceMaker {
  ReferenceTarget* refs[2] = {nullptr, nullptr};
  std::vector<RefMessage> messages;
  int NumRefs() override { return 2; }
  RefTargetHandle GetReference(int i) override { return refs[i]; }
  void SetReference(int i, RefTargetHandle t) override { refs[i] = t; }
  RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage m) override {
    messages.push_back(m);
    return REF_SUCCEED;
  }
};

TEST(References, ReplaceKeepsBothSidesInStep) {
  g_targetsAlive = 0;
  auto* t = new Target;
  Maker m;
  ASSERT_EQ(m.ReplaceReference(0, t), REF_SUCCEED);
  EXPECT_EQ(m.refs[0], t);
  ASSERT_EQ(t->Dependents().size(), 1u);
  EXPECT_EQ(t->Dependents()[0], &m);
  EXPECT_EQ(m.ReplaceReference(5, t), REF_FAIL) << "no such reference";
  t->NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
  EXPECT_EQ(m.messages, std::vector<RefMessage>{REFMSG_CHANGE});
  // Replacing the only reference deletes the orphaned target.
  ASSERT_EQ(m.ReplaceReference(0, nullptr), REF_SUCCEED);
  EXPECT_EQ(g_targetsAlive, 0);
}

TEST(References, SharedTargetSurvivesUntilTheLastHolderLetsGo) {
  g_targetsAlive = 0;
  auto* t = new Target;
  Maker a, b;
  a.ReplaceReference(0, t);
  a.ReplaceReference(1, t);
  b.ReplaceReference(0, t);
  a.ReplaceReference(0, nullptr);
  EXPECT_EQ(g_targetsAlive, 1) << "still held by a's other reference and by b";
  a.DeleteAllRefs();
  EXPECT_EQ(g_targetsAlive, 1) << "still held by b";
  b.DeleteAllRefs();
  EXPECT_EQ(g_targetsAlive, 0);
}

TEST(References, DeletedTargetClearsMakersReferences) {
  g_targetsAlive = 0;
  auto* t = new Target;
  Maker m;
  m.ReplaceReference(1, t);
  t->DeleteThis();
  EXPECT_EQ(m.refs[1], nullptr);
  EXPECT_EQ(m.messages, std::vector<RefMessage>{REFMSG_TARGET_DELETED});
}

TEST(References, DestroyedMakerLeavesTargetsDependents) {
  g_targetsAlive = 0;
  auto* t = new Target;
  {
    Maker m;
    m.ReplaceReference(0, t);
  }
  EXPECT_TRUE(t->Dependents().empty());
  t->NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);  // reaches no dead maker
  t->DeleteThis();
}

TEST(References, RemapClonesSharedTargetOnce) {
  g_targetsAlive = 0;
  auto* t = new Target;
  RemapDir remap;
  ReferenceTarget* c1 = remap.CloneRef(t);
  ReferenceTarget* c2 = remap.CloneRef(t);
  EXPECT_NE(c1, t);
  EXPECT_EQ(c1, c2);
  EXPECT_EQ(remap.CloneRef(nullptr), nullptr);
  c1->DeleteThis();
  t->DeleteThis();
  EXPECT_EQ(g_targetsAlive, 0);
}

}  // namespace
