// Text parameters (TYPE_STRING, TYPE_FILENAME): values read and written as
// text, never keyed, saved and loaded with the block, and a block that
// gained a text parameter still loads what an earlier revision saved.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/host.h"
#include "support/stub_class_desc.h"

namespace {

enum : ParamID { kCount = 1, kLabel = 2, kFile = 3 };

StubClassDesc oldOwner("Old", Class_ID(11, 1));
StubClassDesc newOwner("New", Class_ID(11, 2));

// Revision 1 of a block: one integer. Revision 2 adds a text and a file
// name under new IDs, as the effect's block grows.
ParamBlockDesc2 revision1(5, "textblock", 0, &oldOwner, 0,  //
                          kCount, "count", TYPE_INT, P_ANIMATABLE, 0, p_default, 7, p_end,  //
                          p_end);
ParamBlockDesc2 revision2(5, "textblock", 0, &newOwner, 0,  //
                          kCount, "count", TYPE_INT, P_ANIMATABLE, 0, p_default, 7, p_end,  //
                          kLabel, "label", TYPE_STRING, 0, 0, p_default, "north", p_end,  //
                          kFile, "file", TYPE_FILENAME, 0, 0, p_end,  //
                          p_end);

// A block owned by a maker that counts the block's change messages.
class Owner : public ReferenceMaker {
 public:
  explicit Owner(ParamBlockDesc2& desc) { ReplaceReference(0, new IParamBlock2(&desc)); }
  ~Owner() override { DeleteAllRefs(); }
  int NumRefs() override { return 1; }
  RefTargetHandle GetReference(int) override { return block_; }
  RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage message) override {
    if (message == REFMSG_CHANGE) ++changes;
    return REF_SUCCEED;
  }
  IParamBlock2& b() { return *block_; }
  int changes = 0;

 protected:
  void SetReference(int, RefTargetHandle t) override { block_ = static_cast<IParamBlock2*>(t); }

 private:
  IParamBlock2* block_ = nullptr;
};

std::vector<std::uint8_t> Saved(IParamBlock2& block) {
  MemorySave save;
  EXPECT_EQ(block.Save(&save), IO_OK);
  EXPECT_EQ(save.Status(), IO_OK);
  return save.Bytes();
}

TEST(StringParam, DescriptorsOfBothRevisionsAreValid) {
  ASSERT_TRUE(revision1.IsValid()) << revision1.ErrorMessage();
  ASSERT_TRUE(revision2.IsValid()) << revision2.ErrorMessage();
}

TEST(StringParam, ReadAndWrittenAsTextAtEveryTime) {
  Owner o(revision2);
  EXPECT_STREQ(o.b().GetStr(kLabel), "north");
  EXPECT_STREQ(o.b().GetStr(kFile, 4800), "") << "no default: the empty text";
  ASSERT_TRUE(o.b().SetValue(kFile, 9600, "/usr/share/xplanet/stars/BSC"));
  EXPECT_EQ(o.changes, 1);
  // One value for all time, valid forever.
  for (TimeValue t : {TIME_NegInfinity, 0, 9600, TIME_PosInfinity}) {
    const MCHAR* v = nullptr;
    Interval valid = FOREVER;
    ASSERT_TRUE(o.b().GetValue(kFile, t, v, valid));
    EXPECT_STREQ(v, "/usr/share/xplanet/stars/BSC");
    EXPECT_EQ(valid, FOREVER);
  }
  ASSERT_TRUE(o.b().SetValue(kLabel, 0, static_cast<const MCHAR*>(nullptr)));
  EXPECT_STREQ(o.b().GetStr(kLabel), "") << "null sets the empty text";
}

TEST(StringParam, OtherTypesAndKeysAreRefused) {
  Owner o(revision2);
  Interval valid = FOREVER;
  int i = -1;
  const MCHAR* text = "unchanged";
  EXPECT_FALSE(o.b().GetValue(kLabel, 0, i, valid)) << "a text is not an integer";
  EXPECT_EQ(i, -1);
  EXPECT_FALSE(o.b().GetValue(kCount, 0, text, valid)) << "an integer is not a text";
  EXPECT_STREQ(text, "unchanged");
  EXPECT_FALSE(o.b().SetValue(kCount, 0, "12"));
  EXPECT_EQ(o.b().GetStr(kCount), nullptr);
  EXPECT_EQ(o.b().GetStr(99), nullptr);
  EXPECT_FALSE(o.b().GetValue(kLabel, 0, text, valid, 1)) << "no parameter is a table";
  const std::array<ParamKey<int>, 1> keys{{{0, 1}}};
  EXPECT_FALSE(o.b().SetKeys(kLabel, std::span<const ParamKey<int>>(keys)));
  EXPECT_EQ(o.b().NumKeys(kLabel), 0);
  EXPECT_EQ(o.changes, 0) << "refusals send no message";
}

TEST(StringParam, SaveLoadRoundTripKeepsEveryByte) {
  Owner a(revision2), b(revision2);
  const std::string label = "Orion \xE2\x80\x94 over the plate, 3\" long";  // UTF-8, quotes, spaces
  ASSERT_TRUE(a.b().SetValue(kLabel, 0, label.c_str()));
  ASSERT_TRUE(a.b().SetValue(kFile, 0, "stars/catalogue with spaces.dat"));
  ASSERT_TRUE(a.b().SetValue(kCount, 0, 42));
  MemoryLoad load(Saved(a.b()));
  ASSERT_EQ(b.b().Load(&load), IO_OK) << load.Error();
  EXPECT_EQ(std::string(b.b().GetStr(kLabel)), label);
  EXPECT_STREQ(b.b().GetStr(kFile), "stars/catalogue with spaces.dat");
  Interval valid = FOREVER;
  int count = 0;
  b.b().GetValue(kCount, 0, count, valid);
  EXPECT_EQ(count, 42);
  // The empty text round-trips too (it is not "no value").
  ASSERT_TRUE(a.b().SetValue(kLabel, 0, ""));
  MemoryLoad again(Saved(a.b()));
  ASSERT_EQ(b.b().Load(&again), IO_OK);
  EXPECT_STREQ(b.b().GetStr(kLabel), "");
}

TEST(StringParam, AnEarlierRevisionsFileLoadsWithTheNewDefaults) {
  Owner old(revision1), now(revision2);
  ASSERT_TRUE(old.b().SetValue(kCount, 0, 3));
  ASSERT_TRUE(now.b().SetValue(kLabel, 0, "changed before the load"));
  MemoryLoad load(Saved(old.b()));
  ASSERT_EQ(now.b().Load(&load), IO_OK) << load.Error();
  Interval valid = FOREVER;
  int count = 0;
  now.b().GetValue(kCount, 0, count, valid);
  EXPECT_EQ(count, 3);
  // Parameters the stream does not mention keep what they held.
  EXPECT_STREQ(now.b().GetStr(kLabel), "changed before the load");
  EXPECT_STREQ(now.b().GetStr(kFile), "");
  // And the new revision's file loads into the old one, which skips the
  // parameters it does not know.
  MemoryLoad back(Saved(now.b()));
  ASSERT_EQ(old.b().Load(&back), IO_OK) << back.Error();
}

TEST(StringParam, ACutTextIsRefusedAndChangesNothing) {
  Owner a(revision2), b(revision2);
  ASSERT_TRUE(a.b().SetValue(kFile, 0, "abc"));
  std::vector<std::uint8_t> bytes = Saved(a.b());
  // The file name's terminator is the last byte of its chunk: without it
  // the text runs to the end of the chunk.
  const std::string needle = "abc";
  const auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
  ASSERT_NE(at, bytes.end());
  ASSERT_EQ(*(at + 3), 0);
  *(at + 3) = 'd';
  ASSERT_TRUE(b.b().SetValue(kLabel, 0, "kept"));
  MemoryLoad load(bytes);
  EXPECT_EQ(b.b().Load(&load), IO_ERROR);
  EXPECT_NE(load.Error().find("'file'"), std::string::npos) << load.Error();
  EXPECT_STREQ(b.b().GetStr(kLabel), "kept");
  EXPECT_STREQ(b.b().GetStr(kFile), "");
}

TEST(StringParam, ACloneHasItsOwnText) {
  Owner a(revision2);
  ASSERT_TRUE(a.b().SetValue(kLabel, 0, "source"));
  RemapDir remap;
  auto* copy = static_cast<IParamBlock2*>(remap.CloneRef(&a.b()));
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->GetStr(kLabel), "source");
  ASSERT_TRUE(copy->SetValue(kLabel, 0, "copy"));
  EXPECT_STREQ(a.b().GetStr(kLabel), "source");
  copy->DeleteThis();
}

}  // namespace
