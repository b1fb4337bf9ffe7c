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
  EXPECT_FALSE(frames[1].verticalFov);
  EXPECT_DOUBLE_EQ(frames[1].camToWorld[3][0], 1.0);
}

TEST_F(ChanFile, MalformedLinesNameTheFileAndLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"1 0 0 0 0 0\n", "cam.chan:1: expected 7 or 8 numbers"},
      {"1 0 0 0 0 0 0 40 9\n", "cam.chan:1: expected 7 or 8 numbers"},
      {"1 0 0 0 0 0 0\n2 0 0 x 0 0 0\n", "cam.chan:2: x is not a finite number"},
      {"1 0 0 0 0 0 0\n1 0 0 0 0 0 0\n", "cam.chan:2: frame 1 does not follow frame 1"},
      {"1.5 0 0 0 0 0 0\n", "cam.chan:1: the frame"},
      {"1 0 0 0 0 0 0 180\n", "cam.chan:1: the vertical fov"},
      {"1 0 0 0 0 0 0 40\n2 0 0 0 0 0 0\n", "cam.chan:2: 7 numbers, but the lines before have 8"},
      {"1 0 0 nan 0 0 0\n", "cam.chan:1: nan is not a finite number"},
      {"\n\n", "cam.chan: no frames"},
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
