#include "host/app/frame_range.h"

#include <gtest/gtest.h>

#include <set>

#include "host/app/base/app_error.h"
#include "host/app/output/output_name.h"

namespace {

using velumbra::InputError;
using velumbra::ParseFrameList;

struct ListCase {
  const char* text;
  std::vector<int> frames;
};

TEST(FrameList, ParsesTheCommonForms) {
  const ListCase cases[] = {
      {"12", {12}},
      {"0", {0}},
      {"1-5", {1, 2, 3, 4, 5}},
      {"1-10x3", {1, 4, 7, 10}},
      {"1-10x4", {1, 5, 9}},  // the last frame only when the step lands on it
      {"1-10x20", {1}},
      {"5-5", {5}},
      {"1-3,7,2", {1, 2, 3, 7, 2}},  // the given order, duplicates kept
      {"10-12,1-2", {10, 11, 12, 1, 2}},
      {" 1 , 3 ", {1, 3}},
      {"-5", {-5}},
      {"-3-3", {-3, -2, -1, 0, 1, 2, 3}},
      {"-10--8", {-10, -9, -8}},
      {"-10--1x4", {-10, -6, -2}},
      {"5-1x-2", {5, 3, 1}},
      {"-1--3x-1", {-1, -2, -3}},
      {"2147483646-2147483647", {2147483646, 2147483647}},
      {"-2147483648", {-2147483647 - 1}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseFrameList(c.text), c.frames);
  }
}

TEST(FrameList, RangesMatchASimpleLoop) {
  // Every range with a positive step against the plain definition.
  for (int first = -6; first <= 6; ++first)
    for (int last = first; last <= 7; ++last)
      for (int step = 1; step <= 4; ++step) {
        std::vector<int> expected;
        for (int f = first; f <= last; f += step) expected.push_back(f);
        const std::string text = std::to_string(first) + "-" + std::to_string(last) + "x" + std::to_string(step);
        ASSERT_EQ(ParseFrameList(text), expected) << text;
      }
}

struct BadCase {
  const char* text;
  const char* message;
};

TEST(FrameList, RejectsEverythingElseWithAReason) {
  const BadCase cases[] = {
      {"", "no frames given"},
      {"   ", "no frames given"},
      {"10-1", "runs backwards; for descending frames give a negative step (10-1x-1)"},
      {"1-10x0", "the step must not be 0"},
      {"1-10x-1", "the step points away from the last frame"},
      {"10-1x2", "the step points away from the last frame"},
      {"1,,2", "empty item"},
      {"1,", "empty item"},
      {",1", "empty item"},
      {"a", "expected a frame (12)"},
      {"1-", "expected a frame"},
      {"1x2", "expected a frame"},
      {"1-5x", "expected a step after 'x'"},
      {"1-5y2", "expected a frame"},
      {"1.5", "expected a frame"},
      {"+3", "expected a frame"},
      {"1 2", "expected a frame"},
      {"--1", "expected a frame"},
      {"2147483648", "frame number out of range"},
      {"1-99999999999", "frame number out of range"},
      {"1-2000000", "more than 1000000 frames"},
      {"1-600000,1-600000", "more than 1000000 frames"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseFrameList(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
      EXPECT_NE(what.find(std::string("frame list \"") + c.text + "\""), std::string::npos) << what;
    }
  }
}

struct NameCase {
  const char* pattern;
  int frame;
  const char* name;
};

TEST(OutputName, HashRunsAreMinimumWidths) {
  const NameCase cases[] = {
      {"stars.####.png", 7, "stars.0007.png"},
      {"stars.####.png", 0, "stars.0000.png"},
      {"stars.####.png", 1234, "stars.1234.png"},
      {"stars.####.png", 12345, "stars.12345.png"},  // wider: written in full
      {"stars.#.png", 42, "stars.42.png"},
      {"stars.####.png", -7, "stars.-0007.png"},     // sign before the padding
      {"stars.####.png", -12345, "stars.-12345.png"},
      {"stars.#.png", -3, "stars.-3.png"},
      {"out/##/f.###.png", 5, "out/05/f.005.png"},   // every run, each its width
      {"f.##########.png", -2147483647 - 1, "f.-2147483648.png"},
      {"f.####.png", 2147483647, "f.2147483647.png"},
      {"stars.png", 9, "stars.png"},
      {"#", 3, "3"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(velumbra::OutputNameForFrame(c.pattern, c.frame), c.name) << c.frame;
  }
}

TEST(OutputName, PrintfFieldsFollowTheHashRuleAndEscapesAreLiteral) {
  const NameCase cases[] = {
      {"shot_%04d.exr", 7, "shot_0007.exr"},            // as Blender and ffmpeg write
      {"shot_%04d.exr", 12345, "shot_12345.exr"},
      {"shot_%04d.exr", -7, "shot_-0007.exr"},          // the sign as for '#'
      {"shot_%d.exr", 7, "shot_7.exr"},
      {"shot_%010d.exr", -2147483647 - 1, "shot_-2147483648.exr"},
      {"a%02d/b.####.png", 3, "a03/b.0003.png"},        // both spellings in one name
      {"100%%_%03d.png", 4, "100%_004.png"},            // %% is one literal '%'
      {"50%.%03d.png", 4, "50%.004.png"},               // a lone '%' is itself
      {"x%4d.png", 4, "x%4d.png"},                      // space padding is no field
      {"x%04x.png", 4, "x%04x.png"},
      // The escapes hold in a name without a field too (before: "50%%.png"
      // and "run%#1/out.png" were written as they stood).
      {"50%%.png", 4, "50%.png"},
      // '%#' is one literal '#': Blender replaces only the last '#' run of
      // a file name and keeps the others (folders, earlier in the name).
      {"take%#1/v%#2_shot_###.exr", 7, "take#1/v#2_shot_007.exr"},
      {"take%#1/v%#2_shot_###.exr", -3, "take#1/v#2_shot_-003.exr"},
      {"%#%#a##b.png", 7, "##a07b.png"},
      {"%##.png", 5, "#5.png"},                         // one escaped '#', then a run of one
      {"a%%%#_%04d.png", 2, "a%#_0002.png"},
      {"run%#1/out.png", 4, "run#1/out.png"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(velumbra::OutputNameForFrame(c.pattern, c.frame), c.name) << c.frame;
  }
  EXPECT_TRUE(velumbra::HasFrameNumberField("shot_%04d.exr"));
  EXPECT_TRUE(velumbra::HasFrameNumberField("shot_%d.exr"));
  EXPECT_FALSE(velumbra::HasFrameNumberField("shot_%%04d.exr"));
  EXPECT_FALSE(velumbra::HasFrameNumberField("100%.exr"));
  EXPECT_FALSE(velumbra::HasFrameNumberField("shot_%04.exr"));
  EXPECT_NO_THROW(velumbra::CheckOutputName("shot_%04d.exr", 3));
  EXPECT_FALSE(velumbra::HasFrameNumberField("take%#1/shot.exr"));
  EXPECT_TRUE(velumbra::HasFrameNumberField("take%##/shot.exr"));
  EXPECT_THROW(velumbra::CheckOutputName("v%#%#.png", 2), InputError);
  // A folder joined escaped stays itself whatever it holds; the name the
  // user wrote after it stays a pattern.
  for (const char* folder : {"proj#1", "run%#1", "a%%b", "50%", "%04d", "x##"}) {
    SCOPED_TRACE(folder);
    const std::string name = velumbra::EscapeFrameName(folder) + "/f.##.png";
    EXPECT_EQ(velumbra::OutputNameForFrame(name, 3), std::string(folder) + "/f.03.png");
    EXPECT_EQ(velumbra::FileOfName(velumbra::EscapeFrameName(folder) + "/f.png"), std::string(folder) + "/f.png");
  }
}

TEST(OutputName, ANameWithoutHashHoldsOneFrame) {
  EXPECT_NO_THROW(velumbra::CheckOutputName("stars.png", 1));
  EXPECT_NO_THROW(velumbra::CheckOutputName("stars.#.png", 100));
  try {
    velumbra::CheckOutputName("stars.png", 3);
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("\"stars.png\" has no '#'"), std::string::npos) << what;
    EXPECT_NE(what.find("3 frames"), std::string::npos) << what;
  }
}

TEST(OutputName, DistinctFramesGiveDistinctNames) {
  // Padding and signs must never make two frames share a file.
  std::set<std::string> names;
  for (int f = -1200; f <= 1200; ++f) names.insert(velumbra::OutputNameForFrame("s.###.png", f));
  EXPECT_EQ(names.size(), 2401u);
}

}  // namespace
