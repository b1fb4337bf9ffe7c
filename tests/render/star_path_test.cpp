// One star's motion-blur path: sample order, near-plane clipping and the
// drawing operation each segment takes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

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

// An expected drawing call of a path, from every sample placed afresh: its
// ends as the projections of the samples' camera-space points, except an end
// behind the camera, which is given by its definition instead: the point of
// the 3D segment at z = kNearPlaneZ, found in double from the end in front.
struct ExpectedCall {
  DrawOp op;
  bool clippedA = false, clippedB = false;
};

// The segment from `front` (z < 0) towards `behind` (z >= 0), cut at the
// near plane.
Point3 AtNearPlane(const Point3& front, const Point3& behind) {
  const double s = (static_cast<double>(kNearPlaneZ) - front.z) / (static_cast<double>(behind.z) - front.z);
  return Point3(static_cast<float>(front.x + (static_cast<double>(behind.x) - front.x) * s),
                static_cast<float>(front.y + (static_cast<double>(behind.y) - front.y) * s), kNearPlaneZ);
}

std::vector<ExpectedCall> PlainPath(const MotionBlurPath& path, const StarRecord& s, const RenderInfo& ri,
                                    const Hyperspace* hyper) {
  std::vector<ExpectedCall> calls;
  const int n = path.subdivisions();
  // The samples' points, oldest (n) first; a segment joins k + 1 and k.
  std::vector<Point3> at(static_cast<size_t>(n) + 1);
  std::vector<bool> placed(static_cast<size_t>(n) + 1);
  for (int k = 0; k <= n; ++k)
    placed[k] = StarToCamera(s.pos, path.Placement(k), path.Origin(k), path.View(k), at[k]);
  for (int k = n - 1; k >= 0; --k) {
    if (!placed[k + 1] || !placed[k]) continue;
    const Point3 older = at[k + 1];
    const Point3 newer = hyper ? hyper->Shift(at[k], path.View(k)) : at[k];
    if (older.z >= 0 && newer.z >= 0) continue;  // wholly behind the camera
    ExpectedCall call;
    const Point3 a = older.z >= 0 ? AtNearPlane(newer, older) : older;
    const Point3 b = newer.z >= 0 ? AtNearPlane(older, newer) : newer;
    const Point2 sa = ri.MapCamToScreen(a), sb = ri.MapCamToScreen(b);
    // The oldest segment is a capsule from the older end; later ones are
    // trails towards the older end, whose disc is already drawn.
    if (k == n - 1) {
      call.op = {sa, sb, s.color, s.size, 0, DrawOp::kCapsule};
      call.clippedA = older.z >= 0;
      call.clippedB = newer.z >= 0;
    } else {
      call.op = {sb, sa, s.color, s.size, 0, DrawOp::kTrail};
      call.clippedA = newer.z >= 0;
      call.clippedB = older.z >= 0;
    }
    calls.push_back(call);
  }
  return calls;
}

struct CallList : DrawCallObserver {
  void Call(const DrawOp& op) override { calls.push_back(op); }
  std::vector<DrawOp> calls;
};

// An end as expected: to the bit, or, for an end cut at the near plane (far
// out on the screen), within a ten-thousandth of its size plus a pixel.
bool SameEnd(Point2 got, Point2 expected, bool clipped) {
  if (!clipped) return std::memcmp(&got, &expected, sizeof(Point2)) == 0;
  const auto near = [](float g, float e) { return std::fabs(g - e) <= 1e-4f * std::fabs(e) + 1.0f; };
  return near(got.x, expected.x) && near(got.y, expected.y);
}

bool SameCall(const DrawOp& got, const ExpectedCall& e) {
  return SameEnd(got.a, e.op.a, e.clippedA) && SameEnd(got.b, e.op.b, e.clippedB) && got.kind == e.op.kind &&
         got.colour == e.op.colour && got.r == e.op.r;
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
      const std::vector<ExpectedCall> plain = PlainPath(path, s, ri, h);
      EXPECT_FALSE(plain.empty());
      CallList got;
      ObserverSink sink{got};
      path.EmitStarPath(s, ri, h, Point2(kW - 1, kH - 1), sink);
      // The calls made are the expected ones in order; without a shift,
      // calls that cannot draw (a trail of length 0, a still star off the
      // image) may be left out. Shifted ends are never equal: every call.
      PathImage fast, reference;
      PixelTarget fastTarget(&fast.bm, 0), referenceTarget(&reference.bm, 0);
      size_t next = 0;
      for (const ExpectedCall& e : plain) {
        const bool made = next < got.calls.size() && SameCall(got.calls[next], e);
        EXPECT_TRUE(made || !h) << "call " << next << " of " << got.calls.size();
        // What is drawn is the call made; a call left out is drawn from its
        // expected ends, and must draw nothing the path did not.
        const DrawOp& op = made ? got.calls[next++] : e.op;
        if (op.kind == DrawOp::kCapsule)
          referenceTarget.DrawCapsule(op.a, op.b, op.colour, op.r);
        else
          referenceTarget.DrawTrail(op.a, op.b, op.colour, op.r);
      }
      EXPECT_EQ(next, got.calls.size()) << "calls beyond the expected ones";
      path.DrawStarPath(s, fastTarget, ri, h);
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
