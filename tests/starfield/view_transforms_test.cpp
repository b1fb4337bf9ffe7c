#include <gtest/gtest.h>

#include <cmath>

#include "starfield/balance_curve.h"
#include "starfield/view_transforms.h"

namespace {

void ExpectNear(const Point3& a, const Point3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

TransformKey At(const Point3& position, const Point3& target) {
  TransformKey k;
  k.kind = TransformKey::Kind::Target;
  k.position = position;
  k.target = target;
  return k;
}

INode* AddCamera(Interface& ip, const char* name, const TransformKey& key, INode* parent = nullptr) {
  INode* n = ip.CreateNode(name, std::make_unique<CameraObject>(0.785f));
  n->SetTransformKeys({key});
  if (parent) parent->AttachChild(n);
  return n;
}

TEST(StarToCamera, BandLimitFlattensAlongZ) {
  StarPlacement at;
  at.velumbraLimit = 0.01f;
  Point3 out;
  ASSERT_TRUE(StarToCamera({0.3f, 0.4f, 0.8f}, at, Matrix3::Identity(), Matrix3::Identity(), out));
  EXPECT_EQ(out, Point3(0.3f, 0.4f, 0.8f * 0.01f));
}

TEST(StarToCamera, DomainKeepsDirectionAtCurvedDistance) {
  StarPlacement at;
  at.domain3d = true;
  at.domainRadius = 100.0f;
  at.radialDensityBalance = 0.5f;  // uniform: distance = length x radius
  const Point3 p(0.3f, 0.0f, 0.4f);  // length 0.5
  Point3 out;
  ASSERT_TRUE(StarToCamera(p, at, Matrix3::Identity(), Matrix3::Identity(), out));
  ExpectNear(out, {30.0f, 0.0f, 40.0f}, 1e-4f);
  at.radialDensityBalance = 0.2f;  // crowds towards the centre
  ASSERT_TRUE(StarToCamera(p, at, Matrix3::Identity(), Matrix3::Identity(), out));
  const float expected = BalanceCurve(0.5f, 0.2f) * 100.0f;
  EXPECT_NEAR(out.Length(), expected, 1e-3f);
  EXPECT_LT(out.Length(), 50.0f);
  EXPECT_NEAR(out.x / out.z, 0.75f, 1e-5f);
}

TEST(StarToCamera, StarOnTheCentreIsSkippedInTheDomain) {
  StarPlacement at;
  at.domain3d = true;
  at.velumbraLimit = 0.0f;
  Point3 out(7, 7, 7);
  EXPECT_FALSE(StarToCamera({0, 0, 0.5f}, at, Matrix3::Identity(), Matrix3::Identity(), out));
  EXPECT_EQ(out, Point3(7, 7, 7));
  at.domain3d = false;  // as a direction it still has a place
  EXPECT_TRUE(StarToCamera({0, 0, 0.5f}, at, Matrix3::Identity(), Matrix3::Identity(), out));
}

TEST(StarToCamera, OriginThenView) {
  const Matrix3 origin = RotateZMatrix(static_cast<float>(M_PI / 2));
  const Matrix3 view = TransMatrix({0, 0, -5});
  Point3 out;
  ASSERT_TRUE(StarToCamera({1, 0, 0}, StarPlacement{}, origin, view, out));
  ExpectNear(out, {0, 1, -5});
}

TEST(ViewMatrices, TranslationOnlyInTheDomain) {
  Interface ip;
  INode* cam = AddCamera(ip, "cam", At({10, 20, 30}, {10, 21, 30}));
  const Matrix3 directions = GetCameraViewMatrix(cam, 0, false);
  EXPECT_EQ(directions.GetTrans(), Point3::Origin);
  const Matrix3 world = GetCameraViewMatrix(cam, 0, true);
  ExpectNear(world.PointTransform({10, 25, 30}), {0, 0, -5}, 1e-4f);
  ExpectNear(directions.VectorTransform({0, 1, 0}), world.VectorTransform({0, 1, 0}));
  EXPECT_EQ(GetOriginMatrix(cam, 0, false).GetTrans(), Point3::Origin);
  EXPECT_EQ(GetOriginMatrix(cam, 0, true).GetTrans(), Point3(10, 20, 30));
}

TEST(FindCameraByView, DepthFirstFirstMatchWins) {
  Interface ip;
  const TransformKey view = At({0, 0, 0}, {0, 1, 0});
  INode* group = ip.CreateNode("group", std::make_unique<DummyObject>());
  INode* deep = AddCamera(ip, "deep", view, group);   // under the first child
  INode* later = AddCamera(ip, "later", view);          // second child of the root
  (void)later;
  const Matrix3 renderView = Inverse(deep->GetNodeTM(0));
  EXPECT_EQ(FindCameraByView(ip.GetRootNode(), 0, renderView), deep);
  // The parent itself is not examined.
  EXPECT_EQ(FindCameraByView(deep, 0, renderView), nullptr);
  EXPECT_EQ(FindCameraByView(nullptr, 0, renderView), nullptr);
}

TEST(FindCameraByView, ToleranceIsPointZeroOnePerElement) {
  Interface ip;
  INode* cam = AddCamera(ip, "cam", At({0, 0, 0}, {0, 1, 0}));
  const Matrix3 exact = Inverse(cam->GetNodeTM(0));
  for (float delta : {0.005f, 0.02f}) {
    Matrix3 v = exact;
    v.SetTrans({0, 0, delta});
    EXPECT_EQ(FindCameraByView(ip.GetRootNode(), 0, v), delta < 0.01f ? cam : nullptr) << delta;
  }
}

TEST(FindCameraByView, OnlyCameras) {
  Interface ip;
  INode* dummy = ip.CreateNode("dummy", std::make_unique<DummyObject>());
  dummy->SetTransformKeys({At({0, 0, 0}, {0, 1, 0})});
  EXPECT_EQ(FindCameraByView(ip.GetRootNode(), 0, Inverse(dummy->GetNodeTM(0))), nullptr);
}

TEST(FindCameraByView, VeryDeepSceneKeepsOrderWithoutRecursion) {
  Interface ip;
  const TransformKey view = At({0, 0, 0}, {1, 0, 0});
  INode* parent = ip.GetRootNode();
  for (int i = 0; i < 100000; ++i) {
    INode* n = ip.CreateNode("d", nullptr);
    parent->AttachChild(n);
    parent = n;
  }
  INode* bottom = AddCamera(ip, "bottom", view, parent);
  AddCamera(ip, "shallow", view);  // a later sibling at the top
  EXPECT_EQ(FindCameraByView(ip.GetRootNode(), 0, Inverse(bottom->GetNodeTM(0))), bottom);
}

}  // namespace
