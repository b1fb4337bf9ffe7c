#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/module_handle.h"

namespace {

// The string table, typed in from the product's text list (not read from the
// .rc file), so that a slip in either shows.
struct ExpectedString {
  int id;
  const char* text;
};

const ExpectedString kTable[] = {
    {1, "Advanced Star Field Generator (https://velumbra.example.org)"},
    {2, "Render Effect"},
    {3, "Qe_Velumbra"},
    {4, "Stars Creation"},
    {5, "Create 3D Stars Domain"},
    {6, "Stars Count"},
    {7, "Bright Stars Color"},
    {8, "Seed"},
    {9, "Color Variance"},
    {10, "Dim Stars Color"},
    {11, "Hyperspace Direction"},
    {12, "Stars Alpha Flag"},
    {13, "Stars Alpha"},
    {14, "Stars Material ID Flag"},
    {15, "Stars Material ID"},
    {16, "Stars Object ID Flag"},
    {17, "Stars Object ID"},
    {18, "Bright Stars Size"},
    {19, "Dim Stars Size"},
    {20, "Object Origin"},
    {21, "Pick Object"},
    {22, "Use Object Origin Flag"},
    {23, "Velumbra Limits"},
    {24, "3D Stars Domain Radius"},
    {25, "Use Camera Flag"},
    {26, "Camera"},
    {27, "Pick Camera"},
    {28, "Duration"},
    {29, "Stars Dimming R"},
    {30, "Bak Material ID Flag"},
    {31, "Bak Material ID"},
    {32, "Bak Object ID Flag"},
    {33, "Bak Object ID"},
    {34, "Apply Method"},
    {35, "Scintillation Effect"},
    {36, "Motion Blur"},
    {37, "About"},
    {38, "Apply"},
    {39, "Hyperspace Effect"},
    {40, "Hyperspace Depth"},
    {41, "Hyperspace Effect Flag"},
    {42, "Scintillation Effect Flag"},
    {43, "Scintillation Seed"},
    {44, "Scintillation Frequency"},
    {45, "Scintillation Delta X"},
    {46, "Scintillation Delta "},
    {47, "Scintillation Lock Delta X-Y"},
    {48, "Scintillation Multiplier"},
    {49, "Scintillation Dimmer"},
    {50, "Duration Subdivisions"},
    {51, "Stars Dimming Filter"},
    {52, "Radial Density Balance"},
    {53, "Bright Dim Balance"},
    {54, "Hyperspace Direction Object"},
    {55, "Sky"},
    {56, "Star Source"},
    {57, "Catalog File"},
    {58, "Sky Frame"},
    {59, "Observer Latitude"},
    {60, "Observer Longitude"},
    {61, "Observer Height"},
    {62, "Observer Time"},
    {63, "UT1 Minus UTC"},
    {64, "Magnitude Limit"},
    {65, "Magnitude Zero"},
    {66, "Refraction Flag"},
    {67, "Refraction Pressure"},
    {68, "Refraction Temperature"},
    {69, "Below Horizon Flag"},
    {70, "Star Minimum Size"},
    {71, "Star Growth"},
    {72, "Fill-in Flag"},
};

TEST(StringTable, HoldsExactlyTheSeventyTwoTexts) {
  ScopedInstance module;
  for (const ExpectedString& e : kTable) {
    const MCHAR* s = GetString(e.id);
    ASSERT_NE(s, nullptr) << "string " << e.id;
    EXPECT_STREQ(s, e.text) << "string " << e.id;
  }
  // Nothing else: the compiled table has 72 entries, IDs 1..72.
  ASSERT_NE(Module(), nullptr);
  EXPECT_EQ(Module()->stringCount, 72u);
  for (std::size_t k = 0; k < Module()->stringCount; ++k) EXPECT_EQ(Module()->strings[k].id, k + 1);
}

TEST(StringTable, TrailingBlankAndOddNamesAreKept) {
  ScopedInstance module;
  EXPECT_EQ(std::string(GetString(46)), "Scintillation Delta ");
  EXPECT_EQ(std::string(GetString(29)), "Stars Dimming R");
  EXPECT_EQ(std::string(GetString(54)), "Hyperspace Direction Object");
}

TEST(GetString, IdsOutsideTheTableGiveNull) {
  ScopedInstance module;
  for (int id : {0, 73, 101, -1, 65535, 1 << 20}) EXPECT_EQ(GetString(id), nullptr) << id;
}

TEST(GetString, OneSharedBufferHoldsOnlyTheLatestText) {
  ScopedInstance module;
  const MCHAR* first = GetString(6);
  ASSERT_NE(first, nullptr);
  const std::string firstText = first;
  const MCHAR* second = GetString(7);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first, second);  // the same buffer
  EXPECT_EQ(firstText, "Stars Count");
  EXPECT_STREQ(first, "Bright Stars Color");  // a kept pointer shows the second text
}

TEST(GetString, BeforeTheHandleIsRecordedGivesNullAndLeavesTheBuffer) {
  const MCHAR* buffer = nullptr;
  {
    ScopedInstance module;
    buffer = GetString(37);
    ASSERT_STREQ(buffer, "About");
  }
  ScopedInstance none(nullptr);
  EXPECT_EQ(GetString(6), nullptr);
  EXPECT_EQ(GetString(1), nullptr);
  EXPECT_STREQ(buffer, "About");  // untouched
}

TEST(GetString, ForeignHandleGivesNull) {
  // A handle that does not address a module's resources is refused by its
  // first word rather than read as tables.
  const std::uint32_t notResources[16] = {0xDEADBEEF};
  ScopedInstance foreign(reinterpret_cast<HINSTANCE>(const_cast<std::uint32_t*>(notResources)));
  EXPECT_EQ(GetString(3), nullptr);
}

TEST(LoadStringA, CopiesAtMostSizeMinusOneCharacters) {
  const HINSTANCE h = InstanceHandleOf(&HostModuleResources);
  struct Case {
    int size;
    int copied;
    const char* text;
  };
  // string 6 is "Stars Count" (11 characters)
  const Case cases[] = {
      {256, 11, "Stars Count"}, {12, 11, "Stars Count"}, {11, 10, "Stars Coun"},
      {5, 4, "Star"},           {2, 1, "S"},             {1, 0, ""},
  };
  for (const Case& c : cases) {
    char buf[300];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(LoadStringA(h, 6, buf, c.size), c.copied) << c.size;
    EXPECT_STREQ(buf, c.text) << c.size;
    EXPECT_EQ(buf[c.size], 'x') << "wrote past the buffer of size " << c.size;
  }
}

TEST(LoadStringA, RefusesBadArguments) {
  const HINSTANCE h = InstanceHandleOf(&HostModuleResources);
  char buf[8] = "unset";
  EXPECT_EQ(LoadStringA(nullptr, 6, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");  // an empty string when nothing is copied
  std::strcpy(buf, "unset");
  EXPECT_EQ(LoadStringA(h, 6, buf, 0), 0);
  EXPECT_STREQ(buf, "unset");  // size 0: not touched
  EXPECT_EQ(LoadStringA(h, 6, buf, -3), 0);
  EXPECT_STREQ(buf, "unset");
  EXPECT_EQ(LoadStringA(h, 6, nullptr, 8), 0);
  EXPECT_EQ(LoadStringA(h, 9999, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
}

TEST(LoadStringA, LongStringIsCutToTheSharedBuffer) {
  // String 1 is the longest; GetString's 256-character buffer holds it whole.
  ScopedInstance module;
  const std::string expected = kTable[0].text;
  ASSERT_LT(expected.size(), 256u);
  EXPECT_EQ(std::string(GetString(1)), expected);
  char small[10];
  EXPECT_EQ(LoadStringA(hInstance, 1, small, sizeof small), 9);
  EXPECT_EQ(std::string(small), expected.substr(0, 9));
}

}  // namespace
