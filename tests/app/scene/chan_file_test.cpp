#include "host/app/scene/chan_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "host/app/base/app_error.h"
#include "support/temp_dir.h"

namespace {

using velumbra::ChanDesc;
using velumbra::InputError;
using velumbra::MatrixRows;

constexpr double kPi = 3.14159265358979323846;

void ExpectRows(const MatrixRows& got, const MatrixRows& want, double eps, const std::string& what) {
  for (size_t r = 0; r < 4; ++r)
    for (size_t c = 0; c < 3; ++c) EXPECT_NEAR(got[r][c], want[r][c], eps) << what << " row " << r << " col " << c;
}

class ChanFile : public ::testing::Test {
 protected:
  ChanDesc Write(const std::string& text, const std::string& name = "cam.chan") {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    ChanDesc c;
    c.file = dir_ / name;
    return c;
  }
  std::string ErrorOf(const std::string& text) {
    try {
      velumbra::ReadChanFile(Write(text));
    } catch (const InputError& e) {
      return e.what();
    }
    return "(accepted)";
  }
  TempDir dir_;
};

TEST_F(ChanFile, BlendersExportReadsAsBlendersOwnWorldMatrix) {
  // A line Blender 3.4's io_anim_nuke_chan wrote (Y up, ZXY) for a camera
  // whose world matrix Blender reported as below (its columns, our rows).
  ChanDesc c = Write("1\t0.000000\t0.000000\t0.000000\t-1.997260\t-4.104714\t3.001826\t35.983400\n");
  const std::vector<velumbra::ChanFrame> frames = velumbra::ReadChanFile(c);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].frame, 1);
  ASSERT_TRUE(frames[0].verticalFov);
  EXPECT_DOUBLE_EQ(*frames[0].verticalFov, 35.9834);
  const MatrixRows blender{{{0.9961969256401062, -0.06966087222099304, 0.0523359589278698},
                            {-0.0497421994805336, 0.03846303001046181, 0.9980211853981018},
                            {-0.07153602689504623, -0.9968289732933044, 0.034851666539907455},
                            {0, 0, 0}}};
  ExpectRows(frames[0].camToWorld, blender, 1e-5, "frame 1");
}

TEST_F(ChanFile, RotationOrdersApplyTheFirstLetterFirst) {
  // The camera's X axis turned 90 degrees about Z, then 90 about X, lands
  // on world +Z; in the other order, on world +Y.
  const velumbra::Vec3 origin{0, 0, 0}, turns{90, 0, 90};
  EXPECT_NEAR(velumbra::ChanCameraToWorld(origin, turns, false, "ZXY")[0][2], 1.0, 1e-12);
  EXPECT_NEAR(velumbra::ChanCameraToWorld(origin, turns, false, "XYZ")[0][1], 1.0, 1e-12);
  // With a single rotation the order does not matter: 90 degrees about Z
  // takes X to +Y and Y to -X.
  for (const char* order : {"XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX"}) {
    const MatrixRows m = velumbra::ChanCameraToWorld(origin, {0, 0, 90}, false, order);
    EXPECT_NEAR(m[0][1], 1.0, 1e-12) << order;  // X -> +Y
    EXPECT_NEAR(m[1][0], -1.0, 1e-12) << order;  // Y -> -X
  }
}

TEST_F(ChanFile, YUpFilesTurnIntoTheZUpWorld) {
  // An unrotated Y-up camera looks down the file's -Z, which is the
  // world's +Y; the file's up (+Y) is the world's +Z.
  const MatrixRows m = velumbra::ChanCameraToWorld({1, 2, 3}, {0, 0, 0}, true, "ZXY");
  const MatrixRows want{{{1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {1, -3, 2}}};
  ExpectRows(m, want, 1e-12, "y up");
  ExpectRows(velumbra::ChanCameraToWorld({1, 2, 3}, {0, 0, 0}, false, "ZXY"),
             MatrixRows{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}}}, 1e-12, "z up");
}

TEST_F(ChanFile, VerticalFovBecomesHorizontalThroughTheAspect) {
  EXPECT_NEAR(velumbra::HorizontalFov(90, 100, 100), 90, 1e-12);
  EXPECT_NEAR(velumbra::HorizontalFov(90, 160, 90), 2 * std::atan(16.0 / 9.0) * 180 / kPi, 1e-12);
  EXPECT_NEAR(velumbra::HorizontalFov(60, 90, 160), 2 * std::atan(std::tan(kPi / 6) * 9 / 16) * 180 / kPi, 1e-12);
}

TEST_F(ChanFile, LinesWithoutFovAndBlankLinesRead) {
  const auto frames = velumbra::ReadChanFile(Write("\n10 0 0 0 0 0 0\r\n\n  11 1 0 0 0 0 0  \n"));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].frame, 11);
  EXPECT_EQ(frames[1].line, 4u);
  EXPECT_FALSE(frames[1].verticalFov);
  EXPECT_DOUBLE_EQ(frames[1].camToWorld[3][0], 1.0);
}

// Before: "+1" was "not a finite number". Signs, exponents and a last line
// without a line break read as the applications write them.
TEST_F(ChanFile, NumbersReadWithTheirSigns) {
  ChanDesc c = Write("+1 +2.5 -0 +1e1 0 0 +90 +4E1\n2 0 0 0 0 0 0 40");
  c.yUp = false;
  const auto frames = velumbra::ReadChanFile(c);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].frame, 1);
  EXPECT_DOUBLE_EQ(frames[0].camToWorld[3][0], 2.5);
  EXPECT_DOUBLE_EQ(frames[0].camToWorld[3][2], 10.0);
  EXPECT_NEAR(frames[0].camToWorld[0][1], 1.0, 1e-12);  // +90 about Z
  EXPECT_DOUBLE_EQ(*frames[0].verticalFov, 40.0);
}

// The lines are counted, a block at a time, before any key is made: the
// bound on the keys a file can make, weighed against the memory budget.
TEST_F(ChanFile, LinesAreCountedWithoutReadingTheKeys) {
  EXPECT_EQ(velumbra::ChanLineCount(Write("")), 0u);
  EXPECT_EQ(velumbra::ChanLineCount(Write("1 0 0 0 0 0 0")), 1u);
  EXPECT_EQ(velumbra::ChanLineCount(Write("1 0 0 0 0 0 0\n\n")), 2u);
  // Lines across the reader's 64 KiB blocks.
  std::string many;
  for (int f = 1; f <= 20000; ++f) many += std::to_string(f) + " 0 0 0 0 0 0\n";
  const ChanDesc c = Write(many);
  EXPECT_EQ(velumbra::ChanLineCount(c), 20000u);
  const auto frames = velumbra::ReadChanFile(c);
  ASSERT_EQ(frames.size(), 20000u);
  EXPECT_EQ(frames.back().frame, 20000);
  EXPECT_EQ(frames.back().line, 20000u);
}

TEST_F(ChanFile, MalformedLinesNameTheFileAndLine) {
  using namespace std::string_literals;  // "..."s keeps the NUL inside
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"1 0 0 0 0 0\n", "cam.chan:1: expected 7 or 8 numbers"},
      {"1 0 0 0 0 0 0 40 9\n", "cam.chan:1: expected 7 or 8 numbers"},
      {"1 0 0 0 0 0 0\n2 0 0 x 0 0 0\n", "cam.chan:2: \"x\" is not a finite number"},
      {"1 0 0 0 0 0 0\n1 0 0 0 0 0 0\n", "cam.chan:2: frame 1 does not follow frame 1"},
      {"1.5 0 0 0 0 0 0\n", "cam.chan:1: the frame 1.5 is not a whole number"},
      {"1 0 0 0 0 0 0 180\n", "cam.chan:1: the vertical fov: expected a number in (0, 180), got 180"},
      {"1 0 0 0 0 0 0 40\n2 0 0 0 0 0 0\n", "cam.chan:2: 7 numbers, but the lines before have 8"},
      {"1 0 0 nan 0 0 0\n", "cam.chan:1: \"nan\" is not a finite number"},
      {"\n\n", "cam.chan: no frames"},
      {"1 ++1 0 0 0 0 0\n", "cam.chan:1: \"++1\" is not a finite number"},
      {"1 +-1 0 0 0 0 0\n", "cam.chan:1: \"+-1\" is not a finite number"},
      // Before: the message stopped at the NUL.
      {"1 0 0 0 0 0 0\n2 0 0 1\0x 0 0 0\n"s,
       "cam.chan:2: \"1\\u0000x\" is not a finite number"},
      // Before: accepted, a black frame. The checks of a node's matrix and fov.
      {"1 1e39 0 0 0 0 0\n", "cam.chan:1: tx: expected a number of magnitude at most"},
      {"1 0 0 0 0 0 -4e38\n", "cam.chan:1: rz: expected a number of magnitude at most"},
      {"1 0 0 0 0 0 0 1e-300\n", "cam.chan:1: the vertical fov: a field of view of 1e-300 degrees is too close"},
      {"1 0 0 0 0 0 0 1e-40\n", "cam.chan:1: the vertical fov: a field of view of 1e-40 degrees is too close"},
      {"1 0 0 0 0 0 0 40\n" + std::string(5000, ' ') + "\n", "cam.chan:2: the line is longer than 4096"},
  };
  for (const auto& c : cases) {
    const std::string e = ErrorOf(c.text);
    EXPECT_NE(e.find(c.message), std::string::npos) << c.text << " -> " << e;
  }
  ChanDesc missing;
  missing.file = dir_ / "none.chan";
  EXPECT_THROW(velumbra::ReadChanFile(missing), InputError);
  // A device would feed a line without end: refused before reading.
  ChanDesc device;
  device.file = "/dev/zero";
  try {
    velumbra::ReadChanFile(device);
    ADD_FAILURE() << "read /dev/zero";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
  }
}

}  // namespace
