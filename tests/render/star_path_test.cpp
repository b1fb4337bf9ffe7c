// One star's motion-blur path: sample order, near-plane clipping and the
// drawing operation each segment takes.
#include <gtest/gtest.h>

#include "render/motion_blur.h"

namespace {

constexpr int kW = 64, kH = 48;

struct PathImage {
  PathImage() : bm(kW, kH) {
    bm.CreateChannels(6);
    ri.SetPerspective(kW, kH, 0.785398163f);
  }
  std::vector<BMM_Color_64> Pixels() {
    std::vector<BMM_Color_64> px(kW * kH);
    for (int y = 0; y < kH; ++y) bm.GetPixels(0, y, kW, &px[y * kW]);
    return px;
  }
  Bitmap bm;
  RenderInfo ri;
};

// A view that moves the unit-ball point (0, 0, -1) to camera z = `z`.
Matrix3 ViewAtDepth(float z) {
  Matrix3 m = Matrix3::Identity();
  m.SetRow(3, Point3(0, 0, z + 1.0f));
  return m;
}

StarRecord Star() {
  StarRecord s;
  s.pos = Point3(0, 0, -1);
  s.color = BMM_Color_64{40000, 30000, 20000, 65280};
  s.size = 2.0f;
  return s;
}

int Lit(const std::vector<BMM_Color_64>& px) {
  int n = 0;
  for (const auto& p : px) n += (p.r | p.g | p.b) != 0;
  return n;
}

TEST(StarPath, AStillStarIsOneSplat) {
  MotionBlurPath path;
  ASSERT_TRUE(path.Allocate(3));
  for (int k = 0; k <= 3; ++k) path.SetSample(k, -k, Matrix3::Identity(), ViewAtDepth(-5), StarPlacement{});
  PathImage img, ref;
  PixelTarget target(&img.bm, 0);
  target.streakDimming[0] = target.streakDimming[1] = target.streakDimming[2] = target.streakDimming[3] = 0.5f;
  path.DrawStarPath(Star(), target, img.ri, nullptr);
  PixelTarget direct(&ref.bm, 0);
  direct.DrawSplat(ref.ri.MapCamToScreen(Point3(0, 0, -5)), Star().color, 2.0f);
  EXPECT_EQ(img.Pixels(), ref.Pixels());
}

TEST(StarPath, SegmentsWhollyBehindTheCameraAreSkipped) {
  MotionBlurPath path;
  ASSERT_TRUE(path.Allocate(2));
  for (int k = 0; k <= 2; ++k) path.SetSample(k, -k, Matrix3::Identity(), ViewAtDepth(3), StarPlacement{});
  PathImage img;
  PixelTarget target(&img.bm, 0);
  path.DrawStarPath(Star(), target, img.ri, nullptr);
  EXPECT_EQ(Lit(img.Pixels()), 0);
}

TEST(StarPath, ASegmentCrossingTheCameraPlaneIsClippedAndDrawn) {
  MotionBlurPath path;
  ASSERT_TRUE(path.Allocate(1));
  // From behind the camera and off-axis to in front of it.
  Matrix3 behind = ViewAtDepth(2);
  behind.SetRow(3, Point3(0.5f, 0.2f, 3.0f));
  path.SetSample(1, -1, Matrix3::Identity(), behind, StarPlacement{});
  path.SetSample(0, 0, Matrix3::Identity(), ViewAtDepth(-4), StarPlacement{});
  PathImage img;
  PixelTarget target(&img.bm, 0);
  path.DrawStarPath(Star(), target, img.ri, nullptr);
  // The clipped end projects far out: a streak across the image.
  EXPECT_GT(Lit(img.Pixels()), 40);
}

TEST(StarPath, AllocationRefusesSizesThatDoNotFit) {
  MotionBlurPath path;
  EXPECT_FALSE(path.Allocate(-2));
  EXPECT_TRUE(path.Allocate(1000));
  EXPECT_EQ(path.subdivisions(), 1000);
}

TEST(StreakDimmingOfAPass, AlphaTakesTheMeanOfTheColourChannels) {
  float d[4];
  StreakDimming(3, 0.5f, Color(1, 0, 0), d);
  EXPECT_FLOAT_EQ(d[0], 0.0f);
  EXPECT_FLOAT_EQ(d[1], 1.5f);
  EXPECT_FLOAT_EQ(d[2], 1.5f);
  EXPECT_FLOAT_EQ(d[3], 1.0f);  // two thirds of D
}

}  // namespace
