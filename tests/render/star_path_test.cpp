// One star's motion-blur path: sample order, near-plane clipping and the
// drawing operation each segment takes.
#include <gtest/gtest.h>

#include <cstring>

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

namespace {

// The path without any reuse of points: every sample placed afresh, every
// end projected. The optimised path must make exactly these calls.
std::vector<DrawOp> PlainPath(const MotionBlurPath& path, const StarRecord& s, const RenderInfo& ri,
                              const Hyperspace* hyper) {
  std::vector<DrawOp> calls;
  const int n = path.subdivisions();
  Point3 p;
  bool pValid = StarToCamera(s.pos, path.Placement(n), path.Origin(n), path.View(n), p);
  for (int k = n - 1; k >= 0; --k) {
    Point3 prev = p, cur;
    const bool prevValid = pValid;
    pValid = StarToCamera(s.pos, path.Placement(k), path.Origin(k), path.View(k), cur);
    p = cur;
    if (!prevValid || !pValid) continue;
    if (hyper) cur = hyper->Shift(cur, path.View(k));
    if (prev.z >= 0 && cur.z >= 0) continue;
    if (prev.z >= 0) {
      const float f = (kNearPlaneZ - prev.z) / (cur.z - prev.z);
      prev.x = prev.x + (cur.x - prev.x) * f;
      prev.y = prev.y + (cur.y - prev.y) * f;
      prev.z = kNearPlaneZ;
    } else if (cur.z >= 0) {
      const float f = (kNearPlaneZ - prev.z) / (cur.z - prev.z);
      cur.x = prev.x + (cur.x - prev.x) * f;
      cur.y = prev.y + (cur.y - prev.y) * f;
      cur.z = kNearPlaneZ;
    }
    const Point2 a = ri.MapCamToScreen(prev), b = ri.MapCamToScreen(cur);
    if (k == n - 1)
      calls.push_back({a, b, s.color, s.size, 0, DrawOp::kCapsule});
    else
      calls.push_back({b, a, s.color, s.size, 0, DrawOp::kTrail});
  }
  return calls;
}

struct CallList : DrawCallObserver {
  void Call(const DrawOp& op) override { calls.push_back(op); }
  std::vector<DrawOp> calls;
};

bool SameCalls(const std::vector<DrawOp>& x, const std::vector<DrawOp>& y) {
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (std::memcmp(&x[i].a, &y[i].a, sizeof(Point2)) || std::memcmp(&x[i].b, &y[i].b, sizeof(Point2)) ||
        x[i].kind != y[i].kind || !(x[i].colour == y[i].colour) || x[i].r != y[i].r)
      return false;
  return true;
}

TEST(StarPath, ReusedSamplesMakeTheSameCallsAsPlacingEverySample) {
  // Runs of equal samples between moving ones, through the camera plane.
  const float depths[] = {-4.0f, -4.0f, -4.0f, -2.0f, 0.5f, 0.5f, -3.0f, -3.0f, -3.0f};
  const int n = 8;
  MotionBlurPath path;
  ASSERT_TRUE(path.Allocate(n));
  for (int k = n; k >= 0; --k) {  // set in descending order: the reuse flags must follow
    Matrix3 view = ViewAtDepth(depths[k]);
    view.SetRow(3, view.GetRow(3) + Point3(0.1f * (k / 3), 0, 0));
    StarPlacement at;
    at.velumbraLimit = k == 6 ? 0.5f : 1.0f;
    path.SetSample(k, -k, Matrix3::Identity(), view, at);
  }
  RenderInfo ri;
  ri.SetPerspective(kW, kH, 0.785398163f);
  Hyperspace hyper;
  hyper.depth = 0.7f;
  StarRecord stars[3] = {Star(), Star(), Star()};
  stars[1].pos = Point3(0.3f, -0.2f, -0.9f);
  stars[2].pos = Point3(-0.5f, 0.4f, 0.1f);
  const Hyperspace* shifts[] = {nullptr, &hyper};
  for (const Hyperspace* h : shifts) {
    for (const StarRecord& s : stars) {
      const std::vector<DrawOp> plain = PlainPath(path, s, ri, h);
      EXPECT_FALSE(plain.empty());
      CallList got;
      ObserverSink sink{got};
      path.EmitStarPath(s, ri, h, Point2(kW - 1, kH - 1), sink);
      if (h) {
        // Shifted ends are never equal: the very same calls.
        EXPECT_TRUE(SameCalls(got.calls, plain));
      }
      // Without a shift, calls that cannot draw are left out: the same
      // pixels, drawn from fewer calls.
      EXPECT_LE(got.calls.size(), plain.size());
      PathImage fast, reference;
      PixelTarget fastTarget(&fast.bm, 0), referenceTarget(&reference.bm, 0);
      path.DrawStarPath(s, fastTarget, ri, h);
      for (const DrawOp& op : plain) {
        if (op.kind == DrawOp::kCapsule)
          referenceTarget.DrawCapsule(op.a, op.b, op.colour, op.r);
        else
          referenceTarget.DrawTrail(op.a, op.b, op.colour, op.r);
      }
      EXPECT_EQ(fast.Pixels(), reference.Pixels());
      EXPECT_GT(Lit(fast.Pixels()), 0);
    }
  }
}

TEST(StarPath, AStillStarFarOffTheImageMakesNoCall) {
  MotionBlurPath path;
  ASSERT_TRUE(path.Allocate(2));
  Matrix3 view = ViewAtDepth(-3);
  view.SetRow(3, Point3(40.0f, 0.0f, -2.0f));  // far to the right of the view
  for (int k = 0; k <= 2; ++k) path.SetSample(k, -k, Matrix3::Identity(), view, StarPlacement{});
  RenderInfo ri;
  ri.SetPerspective(kW, kH, 0.785398163f);
  CallList got;
  ObserverSink sink{got};
  path.EmitStarPath(Star(), ri, nullptr, Point2(kW - 1, kH - 1), sink);
  EXPECT_TRUE(got.calls.empty());
  // In view, the oldest segment is one splat and the later trail is left out.
  path.SetSample(0, 0, Matrix3::Identity(), ViewAtDepth(-3), StarPlacement{});
  path.SetSample(1, -1, Matrix3::Identity(), ViewAtDepth(-3), StarPlacement{});
  path.SetSample(2, -2, Matrix3::Identity(), ViewAtDepth(-3), StarPlacement{});
  path.EmitStarPath(Star(), ri, nullptr, Point2(kW - 1, kH - 1), sink);
  EXPECT_EQ(got.calls.size(), 1u);
}

}  // namespace

namespace {

TEST(StarPath, StarsJustOffTheEdgeStillLightTheirRim) {
  // Still stars swept across the image's edges: the path draws exactly what
  // a splat at the projected point draws, rim pixels included.
  RenderInfo ri;
  ri.SetPerspective(kW, kH, 0.785398163f);
  MotionBlurPath path;
  ASSERT_TRUE(path.Allocate(1));
  StarRecord s = Star();
  s.size = 2.7f;
  for (float sx = -6.0f; sx <= kW + 6.0f; sx += 0.37f) {
    for (float sy : {-5.5f, -3.1f, 0.4f, kH / 2.0f, kH - 0.6f, kH + 2.9f, kH + 5.2f}) {
      // The camera-space point at depth 4 that projects to (sx, sy).
      const Point3 p((sx - ri.xc) * 4.0f / ri.kx, (ri.yc - sy) * 4.0f / ri.ky, -4.0f);
      Matrix3 view = Matrix3::Identity();
      view.SetRow(3, p - Point3(0, 0, -1));
      path.SetSample(0, 0, Matrix3::Identity(), view, StarPlacement{});
      path.SetSample(1, -1, Matrix3::Identity(), view, StarPlacement{});
      PathImage viaPath, direct;
      PixelTarget a(&viaPath.bm, 0), b(&direct.bm, 0);
      path.DrawStarPath(s, a, ri, nullptr);
      b.DrawSplat(ri.MapCamToScreen(p), s.color, s.size);
      ASSERT_EQ(viaPath.Pixels(), direct.Pixels()) << "at " << sx << ", " << sy;
    }
  }
}

}  // namespace
