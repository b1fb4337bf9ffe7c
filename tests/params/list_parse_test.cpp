// The descriptor's tagged list: malformed lists are refused with a message
// naming the block and the parameter, and the parser survives any sequence.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effect/qe_velumbra_params.h"
#include "plugin/host.h"
#include "support/stub_class_desc.h"

namespace {

StubClassDesc testDesc;

// A small, valid block: two rollouts, four parameters.
template <typename... Params>
std::vector<ParamItem> Block(const Params&... params) {
  return CaptureParamItems(7, "testblock", 0, &testDesc, P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP, 0, 2,
                           0, 101, 4, 0, 0, nullptr,  //
                           1, 102, 5, 0, APPENDROLL_CLOSED, nullptr,  //
                           params...);
}

// The parameters of the valid block, each closed by p_end, and the final
// p_end.
std::vector<ParamItem> ValidParams() {
  return CaptureParamItems(
      1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 0.5f, p_range, 0.0f, 1.0f, p_ui, 0, TYPE_SPINNER,
      EDITTYPE_FLOAT, 1001, 1002, 0.01f, p_end,  //
      2, "beta", TYPE_BOOL, P_ANIMATABLE, 11, p_default, TRUE, p_ui, 0, TYPE_SINGLECHEKBOX, 1003, p_enable_ctrls, 2,
      1, 3, p_end,  //
      3, "gamma", TYPE_RADIOBTN_INDEX, P_ANIMATABLE, 12, p_default, 1, p_range, 0, 2, p_ui, 1, TYPE_RADIO, 3, 1001,
      1002, 1003, p_end,  //
      4, "delta", TYPE_INODE, 0, 13, p_ui, 1, TYPE_PICKNODEBUTTON, 1004, p_prompt, 14, p_sclassID, CAMERA_CLASS_ID,
      p_end,  //
      p_end);
}

std::vector<ParamItem> Concat(std::vector<ParamItem> a, const std::vector<ParamItem>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ParamList, TheTestBlockIsValid) {
  const ParamBlockParse r = ParseParamBlockItems(Concat(Block(), ValidParams()));
  ASSERT_TRUE(r.valid) << r.error;
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.schema.params.size(), 4u);
  EXPECT_EQ(r.schema.params[1].enableCtrls, (std::vector<ParamID>{1, 3}));
  EXPECT_EQ(r.schema.params[2].ui.ctrlIDs, (std::vector<int>{1001, 1002, 1003}));
  EXPECT_EQ(r.schema.params[3].sclassID, CAMERA_CLASS_ID);
  EXPECT_EQ(r.schema.classDesc, &testDesc);
}

TEST(ParamList, StringParametersTakeATextDefaultAndTextControls) {
  const ParamBlockParse r = ParseParamBlockItems(Concat(
      Block(), CaptureParamItems(5, "label", TYPE_STRING, 0, 15, p_default, "north", p_ui, 0, TYPE_EDITBOX, 1001,
                                 p_end,  //
                                 6, "file", TYPE_FILENAME, 0, 16, p_ui, 1, TYPE_FILEOPENBUTTON, 1002, p_end,  //
                                 7, "path", TYPE_FILENAME, 0, 17, p_default, "", p_ui, 1, TYPE_EDITBOX, 1003, p_end,
                                 p_end)));
  ASSERT_TRUE(r.valid) << r.error;
  ASSERT_EQ(r.schema.params.size(), 3u);
  EXPECT_EQ(r.schema.params[0].type, TYPE_STRING);
  EXPECT_EQ(r.schema.params[0].def.s, "north");
  EXPECT_EQ(r.schema.params[0].ui.control, TYPE_EDITBOX);
  EXPECT_TRUE(r.schema.params[0].IsStringType());
  EXPECT_FALSE(r.schema.params[0].IsIntType());
  // Without p_default a text starts empty.
  EXPECT_EQ(r.schema.params[1].def.s, "");
  EXPECT_EQ(r.schema.params[1].ui.ctrlIDs, (std::vector<int>{1002}));
  EXPECT_EQ(r.schema.params[2].ui.control, TYPE_EDITBOX) << "a file name may also be typed";
}

TEST(ParamList, TagsMayBeWrittenAsSignedIntegers) {
  // The same bits through a signed int (as a host passing int varargs does).
  const auto signedEnd = static_cast<std::int32_t>(static_cast<std::uint32_t>(p_end));
  const ParamBlockParse r = ParseParamBlockItems(
      Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, static_cast<std::int32_t>(0xC0000000u), 3, signedEnd, signedEnd));
  ASSERT_TRUE(r.valid) << r.error;
  EXPECT_EQ(r.schema.params[0].def.i, 3);
}

struct BadList {
  const char* name;
  std::vector<ParamItem> items;
  const char* names;    // the parameter (or the block) the message names
  const char* message;  // a part of what is wrong
};

const char* kBlock = "parameter block 7 \"testblock\"";

std::vector<BadList> BadLists() {
  const std::vector<ParamItem> end = CaptureParamItems(p_end);
  return {
      {"UnknownTag", Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, 0xC0000099u, 1.0f, p_end, p_end),
       "parameter 1 \"alpha\"", "unknown tag 0xC0000099"},
      {"IntegerDefaultOfAFloat", Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 1, p_end, p_end),
       "parameter 1 \"alpha\"", "p_default of a TYPE_FLOAT parameter must be a float, found the integer 1"},
      {"FloatDefaultOfAnInt", Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, p_default, 1.5, p_end, p_end),
       "parameter 1 \"alpha\"", "must be an integer, found the float 1.5"},
      {"ShortColourDefault",
       Block(5, "tint", TYPE_RGBA, P_ANIMATABLE, 10, p_default, 1.0f, 1.0f, p_ui, 0, TYPE_COLORSWATCH, 1001, p_end,
             p_end),
       "parameter 5 \"tint\"", "the blue of p_default must be a float"},
      {"MissingParameterEnd",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 0.5f, 2, "beta", TYPE_INT, 0, 11, p_end, p_end),
       "parameter 1 \"alpha\"", "missing p_end before the next parameter"},
      {"ListNotClosed", Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_end), kBlock,
       "the list is not closed by p_end"},
      {"ListEndsInsideAParameter", Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 0.5f),
       "parameter 1 \"alpha\"", "missing p_end"},
      {"DuplicateId",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_end, 1, "beta", TYPE_INT, P_ANIMATABLE, 11, p_end, p_end),
       "parameter 1 \"beta\"", "duplicate parameter ID (also used by \"alpha\")"},
      {"DuplicateName",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_end, 2, "alpha", TYPE_INT, P_ANIMATABLE, 11, p_end, p_end),
       "parameter 2 \"alpha\"", "duplicate internal name"},
      {"DefaultAboveRange",
       Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, p_default, 300, p_range, 0, 255, p_end, p_end),
       "parameter 1 \"alpha\"", "p_default 300 is outside p_range 0..255"},
      {"ImplicitDefaultBelowRange",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_range, 0.001f, 10.0f, p_end, p_end),
       "parameter 1 \"alpha\"", "(implicit) is outside p_range"},
      {"RangeUpsideDown", Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_range, 1.0f, 0.0f, p_end, p_end),
       "parameter 1 \"alpha\"", "low end is above its high end"},
      {"BoolDefaultTwo", Block(2, "beta", TYPE_BOOL, P_ANIMATABLE, 11, p_default, 2, p_end, p_end),
       "parameter 2 \"beta\"", "neither 0 nor 1"},
      {"CheckBoxOnAFloat",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_ui, 0, TYPE_SINGLECHEKBOX, 1001, p_end, p_end),
       "parameter 1 \"alpha\"", "a TYPE_SINGLECHEKBOX cannot edit a TYPE_FLOAT parameter"},
      {"SpinnerOnAColour",
       Block(5, "tint", TYPE_RGBA, P_ANIMATABLE, 10, p_ui, 0, TYPE_SPINNER, EDITTYPE_FLOAT, 1, 2, 1.0f, p_end, p_end),
       "parameter 5 \"tint\"", "a TYPE_SPINNER cannot edit a TYPE_RGBA parameter"},
      {"FloatEditOnAnInt",
       Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, p_ui, 0, TYPE_SPINNER, EDITTYPE_FLOAT, 1, 2, 1.0f, p_end, p_end),
       "parameter 1 \"alpha\"", "needs EDITTYPE_INT"},
      {"IntegerSpinnerScale",
       Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, p_ui, 0, TYPE_SPINNER, EDITTYPE_INT, 1, 2, 1, p_end, p_end),
       "parameter 1 \"alpha\"", "the spinner scale must be a float"},
      {"UnknownControlKind", Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, p_ui, 0, 99, 1, p_end, p_end),
       "parameter 1 \"alpha\"", "unknown control kind 99"},
      {"UndeclaredMap", Block(1, "alpha", TYPE_BOOL, P_ANIMATABLE, 10, p_ui, 4, TYPE_SINGLECHEKBOX, 1, p_end, p_end),
       "parameter 1 \"alpha\"", "p_ui names map 4, which the block does not declare"},
      {"RadioCountBeyondTheList", Block(3, "gamma", TYPE_RADIOBTN_INDEX, P_ANIMATABLE, 12, p_ui, 1, TYPE_RADIO, 1000,
                                        1001, 1002, p_end, p_end),
       "parameter 3 \"gamma\"", "the radio-button count 1000 is outside"},
      {"RadioDefaultSelectsNoButton", Block(3, "gamma", TYPE_RADIOBTN_INDEX, P_ANIMATABLE, 12, p_default, 2, p_ui, 1,
                                            TYPE_RADIO, 2, 1001, 1002, p_end, p_end),
       "parameter 3 \"gamma\"", "selects no button of the 2 radio buttons"},
      {"EnableListNamesAMissingParameter",
       Block(2, "beta", TYPE_BOOL, P_ANIMATABLE, 11, p_enable_ctrls, 1, 9, p_end, p_end), "parameter 2 \"beta\"",
       "names parameter 9, which does not exist"},
      {"EnableListOnAFloat",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_enable_ctrls, 0, p_end, p_end), "parameter 1 \"alpha\"",
       "p_enable_ctrls needs a TYPE_BOOL or TYPE_RADIOBTN_INDEX parameter"},
      {"NegativeEnableCount",
       Block(2, "beta", TYPE_BOOL, P_ANIMATABLE, 11, p_enable_ctrls, -1, p_end, p_end), "parameter 2 \"beta\"",
       "the p_enable_ctrls count -1 is outside"},
      {"AnimatableNode", Block(4, "delta", TYPE_INODE, P_ANIMATABLE, 13, p_end, p_end), "parameter 4 \"delta\"",
       "cannot be P_ANIMATABLE"},
      {"NodeDefault", Block(4, "delta", TYPE_INODE, 0, 13, p_default, 0, p_end, p_end), "parameter 4 \"delta\"",
       "takes no p_default"},
      {"PromptOnAnInt", Block(1, "alpha", TYPE_INT, 0, 10, p_prompt, 21, p_end, p_end), "parameter 1 \"alpha\"",
       "p_prompt applies to TYPE_INODE parameters only"},
      {"UnknownType", Block(1, "alpha", 99, P_ANIMATABLE, 10, p_end, p_end), "parameter 1 \"alpha\"",
       "unknown parameter type 99"},
      {"TypeAsString", Block(1, "alpha", "float", P_ANIMATABLE, 10, p_end, p_end), "parameter 1 \"alpha\"",
       "the parameter type must be an integer, found the string \"float\""},
      {"UnknownParameterFlags", Block(1, "alpha", TYPE_INT, 0x100, 10, p_end, p_end), "parameter 1 \"alpha\"",
       "unknown parameter flags 0x100"},
      {"NameNotAnIdentifier", Block(1, "two words", TYPE_INT, 0, 10, p_end, p_end), "parameter 1 \"two words\"",
       "must be an identifier"},
      {"TagGivenTwice",
       Block(1, "alpha", TYPE_INT, P_ANIMATABLE, 10, p_default, 1, p_default, 2, p_end, p_end),
       "parameter 1 \"alpha\"", "p_default given twice"},
      {"ControlBoundTwiceInOneRollout",
       Block(1, "alpha", TYPE_BOOL, P_ANIMATABLE, 10, p_ui, 0, TYPE_SINGLECHEKBOX, 1001, p_end, 2, "beta", TYPE_BOOL,
             P_ANIMATABLE, 11, p_ui, 0, TYPE_SINGLECHEKBOX, 1001, p_end, p_end),
       "parameter 2 \"beta\"", "control 1001 of map 0 is already bound to parameter 1 \"alpha\""},
      {"ItemsAfterTheEnd", Concat(Concat(Block(), ValidParams()), CaptureParamItems(5)), kBlock,
       "items after the closing p_end"},
      {"RangeOnABool", Block(2, "beta", TYPE_BOOL, P_ANIMATABLE, 11, p_range, 0, 1, p_end, p_end),
       "parameter 2 \"beta\"", "p_range does not apply to a TYPE_BOOL parameter"},
      {"NonFiniteFloat",
       Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 1e300, p_end, p_end), "parameter 1 \"alpha\"",
       "not a finite single-precision value"},
      {"AnimatableString", Block(5, "label", TYPE_STRING, P_ANIMATABLE, 15, p_end, p_end), "parameter 5 \"label\"",
       "a TYPE_STRING parameter cannot be P_ANIMATABLE"},
      {"StringDefaultNotAString", Block(5, "label", TYPE_FILENAME, 0, 15, p_default, 3, p_end, p_end),
       "parameter 5 \"label\"", "p_default of a TYPE_FILENAME parameter must be a string, found the integer 3"},
      {"RangeOnAString", Block(5, "label", TYPE_STRING, 0, 15, p_range, 0, 1, p_end, p_end), "parameter 5 \"label\"",
       "p_range does not apply to a TYPE_STRING parameter"},
      {"EditBoxOnAnInt", Block(1, "alpha", TYPE_INT, 0, 10, p_ui, 0, TYPE_EDITBOX, 1001, p_end, p_end),
       "parameter 1 \"alpha\"", "a TYPE_EDITBOX cannot edit a TYPE_INT parameter"},
      {"FileButtonOnAString", Block(5, "label", TYPE_STRING, 0, 15, p_ui, 0, TYPE_FILEOPENBUTTON, 1001, p_end, p_end),
       "parameter 5 \"label\"", "a TYPE_FILEOPENBUTTON cannot edit a TYPE_STRING parameter"},
      // Header faults name the block as far as it is known.
      {"NotAClassDescriptor",
       CaptureParamItems(7, "testblock", 0, "owner", P_AUTO_CONSTRUCT, 0, p_end), kBlock,
       "the class descriptor must be a pointer to a ClassDesc2, found the string \"owner\""},
      {"UnknownBlockFlags", CaptureParamItems(7, "testblock", 0, &testDesc, 0x1000, p_end), kBlock,
       "unknown block flags 0x1000"},
      {"MultimapWithoutAutoUi", CaptureParamItems(7, "testblock", 0, &testDesc, P_MULTIMAP, p_end), kBlock,
       "P_MULTIMAP needs P_AUTO_UI"},
      {"DuplicateMap",
       CaptureParamItems(7, "testblock", 0, &testDesc, P_AUTO_UI | P_MULTIMAP, 2, 0, 101, 4, 0, 0, nullptr, 0, 102, 5,
                         0, 0, nullptr, p_end),
       kBlock, "map ID 0 declared twice"},
      {"RolloutCountBeyondTheList",
       CaptureParamItems(7, "testblock", 0, &testDesc, P_AUTO_UI | P_MULTIMAP, 6, 0, 101, 4, 0, 0, nullptr, p_end),
       kBlock, "the rollout count (P_MULTIMAP) 6 is outside"},
      {"DialogProcedureNotAPointer",
       CaptureParamItems(7, "testblock", 0, &testDesc, P_AUTO_UI, 101, 4, 0, 0, "proc", p_end), kBlock,
       "the dialog procedure of rollout 0 must be a pointer or null"},
      {"UnknownRollupFlags",
       CaptureParamItems(7, "testblock", 0, &testDesc, P_AUTO_UI, 101, 4, 0, 8, nullptr, p_end), kBlock,
       "unknown rollup flags 0x8"},
      {"BlockNameMissing", CaptureParamItems(7), "parameter block 7", "the list ends where the block's internal name"},
      {"EmptyList", {}, "parameter block", "the list ends where the block ID was expected"},
  };
}

class ParamListBad : public ::testing::TestWithParam<BadList> {};

TEST_P(ParamListBad, IsRefusedWithAMessageNamingTheParameter) {
  const BadList& c = GetParam();
  const ParamBlockParse r = ParseParamBlockItems(c.items);
  EXPECT_FALSE(r.valid);
  // "parameter block 7 "testblock", parameter 1 "alpha": ..." for faults of a
  // parameter, the block alone for faults of the header or the list.
  const std::string names = c.names;
  const std::string prefix = (names.rfind("parameter block", 0) == 0 ? names : kBlock + (", " + names)) + ": ";
  EXPECT_EQ(r.error.rfind(prefix, 0), 0u) << "expected '" << prefix << "...', got: " << r.error;
  EXPECT_NE(r.error.find(c.message), std::string::npos) << "message: " << r.error;
}

INSTANTIATE_TEST_SUITE_P(Lists, ParamListBad, ::testing::ValuesIn(BadLists()),
                         [](const ::testing::TestParamInfo<BadList>& info) { return info.param.name; });

TEST(ParamList, ArgumentNumbersPointAtTheFaultyItem) {
  // Header 7 items, two rollouts of 6, the parameter's 5, p_default: the
  // faulty default is argument 26 of the constructor call.
  const std::vector<ParamItem> items =
      Block(1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 1, p_end, p_end);
  ASSERT_EQ(items[25].kind, ParamItemKind::Int);
  ASSERT_EQ(items[25].i, 1);
  const ParamBlockParse r = ParseParamBlockItems(items);
  EXPECT_NE(r.error.find("(argument 26)"), std::string::npos) << r.error;
}

TEST(ParamList, InvalidDescriptorStillRegistersAndReportsThroughItsClass) {
  StubClassDesc owner;
  {
    ParamBlockDesc2 bad(9, "broken", 0, &owner, P_AUTO_CONSTRUCT, 0,  //
                        1, "alpha", TYPE_FLOAT, P_ANIMATABLE, 10, p_default, 1, p_end, p_end);
    EXPECT_FALSE(bad.IsValid());
    ASSERT_EQ(owner.NumParamBlockDescs(), 1);
    EXPECT_EQ(owner.GetParamBlockDesc(0), &bad);
    EXPECT_EQ(owner.GetParamBlockDescByID(9), &bad);
    EXPECT_FALSE(owner.IsValid());
    EXPECT_EQ(owner.ErrorMessage(), bad.ErrorMessage());
    EXPECT_EQ(bad.ErrorMessage().rfind("parameter block 9 \"broken\", parameter 1 \"alpha\": ", 0), 0u)
        << bad.ErrorMessage();
    // No block is made from an invalid descriptor.
    struct Owner : ReferenceMaker {
      int NumRefs() override { return 1; }
      RefTargetHandle GetReference(int) override { return ref; }
      void SetReference(int, RefTargetHandle t) override { ref = t; }
      RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage) override { return REF_SUCCEED; }
      RefTargetHandle ref = nullptr;
    } maker;
    owner.MakeAutoParamBlocks(&maker);
    EXPECT_EQ(maker.ref, nullptr);
  }
  // Destroyed descriptors leave the registry.
  EXPECT_EQ(owner.NumParamBlockDescs(), 0);
  EXPECT_TRUE(owner.IsValid());
  EXPECT_EQ(owner.ErrorMessage(), "");
}

TEST(ParamList, ClassDescriptorDestroyedFirstIsForgotten) {
  auto owner = std::make_unique<StubClassDesc>();
  ParamBlockDesc2 other(CaptureParamItems(8, "other", 0, owner.get(), 0, p_end));
  ASSERT_TRUE(other.IsValid()) << other.ErrorMessage();
  EXPECT_EQ(other.ClassDescriptor(), owner.get());
  owner.reset();
  EXPECT_EQ(other.ClassDescriptor(), nullptr);  // its destructor must not touch the dead registry
}

TEST(ParamList, EveryStrictPrefixOfTheRealListIsRefused) {
  const std::vector<ParamItem>& items = qe_velumbra_param_blk.Items();
  ASSERT_TRUE(ParseParamBlockItems(items).valid);
  for (std::size_t n = 0; n < items.size(); ++n) {
    const ParamBlockParse r = ParseParamBlockItems(std::span<const ParamItem>(items.data(), n));
    ASSERT_FALSE(r.valid) << "prefix of " << n << " items";
    ASSERT_EQ(r.error.rfind("parameter block", 0), 0u) << r.error;
  }
}

TEST(ParamList, SurvivesEverySingleItemReplacement) {
  // Each item of the real list replaced in turn by items of every kind: the
  // parser ends every time, with a schema or a message (run under the
  // sanitizers, this also proves it reads nothing out of bounds).
  const std::vector<ParamItem>& items = qe_velumbra_param_blk.Items();
  const ParamItem replacements[] = {
      ParamItem::Int(0),  ParamItem::Int(-1),          ParamItem::Int(p_end), ParamItem::Int(p_ui),
      ParamItem::Int(1LL << 40), ParamItem::Float(0.5), ParamItem::String("x"), ParamItem::Null(),
      ParamItem::Pointer(&items),
  };
  int refused = 0;
  for (std::size_t k = 0; k < items.size(); ++k) {
    for (const ParamItem& r : replacements) {
      std::vector<ParamItem> mutated = items;
      mutated[k] = r;
      const ParamBlockParse result = ParseParamBlockItems(mutated);
      if (!result.valid) {
        ++refused;
        EXPECT_FALSE(result.error.empty());
      }
      EXPECT_LE(result.schema.params.size(), 60u);
    }
  }
  EXPECT_GT(refused, static_cast<int>(items.size()) * 5);
}

TEST(ParamList, SurvivesRandomItemSequences) {
  // Sequences drawn from items that tempt the parser: tags, counts, IDs.
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  const ParamItem pool[] = {
      ParamItem::Int(p_default), ParamItem::Int(p_range), ParamItem::Int(p_ui), ParamItem::Int(p_enable_ctrls),
      ParamItem::Int(p_prompt),  ParamItem::Int(p_sclassID), ParamItem::Int(p_end), ParamItem::Int(0),
      ParamItem::Int(1),         ParamItem::Int(2),          ParamItem::Int(4),     ParamItem::Int(13),
      ParamItem::Int(17),        ParamItem::Int(0x26),       ParamItem::Int(1000000), ParamItem::Float(0.5),
      ParamItem::Float(-1.0),    ParamItem::String("p"),     ParamItem::Null(),
      ParamItem::Pointer(&testDesc, &testDesc),
  };
  const std::size_t poolSize = sizeof pool / sizeof pool[0];
  for (int round = 0; round < 3000; ++round) {
    std::vector<ParamItem> items = CaptureParamItems(3, "fuzz", 0, &testDesc, P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP,
                                                     0, 1, 0, 101, 4, 0, 0, nullptr);
    const std::size_t length = next() % 40;
    for (std::size_t k = 0; k < length; ++k) items.push_back(pool[next() % poolSize]);
    const ParamBlockParse a = ParseParamBlockItems(items);
    const ParamBlockParse b = ParseParamBlockItems(items);
    EXPECT_EQ(a.valid, b.valid);
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.valid, a.error.empty());
  }
}

}  // namespace
