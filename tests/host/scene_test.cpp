#include <gtest/gtest.h>

#include <cmath>

#include "plugin/host.h"

namespace {

void ExpectNear(const Point3& a, const Point3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

TEST(LookAt, CameraLooksDownMinusZWithZUp) {
  const Matrix3 m = LookAtMatrix({1, 2, 3}, {1, 12, 3});  // along world +Y
  ExpectNear(m.VectorTransform({0, 0, -1}), {0, 1, 0});   // view axis
  ExpectNear(m.VectorTransform({0, 1, 0}), {0, 0, 1});    // up is world up
  ExpectNear(m.VectorTransform({1, 0, 0}), {1, 0, 0});    // right-handed
  ExpectNear(m.GetTrans(), {1, 2, 3});
  // The target lies in front of the camera: negative z in camera space.
  ExpectNear(Inverse(m).PointTransform({1, 12, 3}), {0, 0, -10}, 1e-4f);
  // Straight down: still a proper rotation.
  const Matrix3 down = LookAtMatrix({0, 0, 5}, {0, 0, 0});
  ExpectNear(down.VectorTransform({0, 0, -1}), {0, 0, -1});
  EXPECT_NEAR(DotProd(CrossProd(down.GetRow(0), down.GetRow(1)), down.GetRow(2)), 1.0f, 1e-5f);
}

TEST(TransformKey, RotationIsRightHandedXThenYThenZ) {
  TransformKey k;
  k.rotation = {0, 0, 90};
  ExpectNear(k.ToMatrix().PointTransform({1, 0, 0}), {0, 1, 0});  // counter-clockwise about +Z
  k.rotation = {90, 0, 90};  // X first: Y -> Z; then Z: unchanged
  ExpectNear(k.ToMatrix().PointTransform({0, 1, 0}), {0, 0, 1});
  k.rotation = {0, 0, 0};
  k.scale = {2, 3, 4};
  k.position = {1, 1, 1};
  ExpectNear(k.ToMatrix().PointTransform({1, 1, 1}), {3, 4, 5});
}

TEST(INode, KeysInterpolateLinearlyAndHoldBeyond) {
  Interface ip;
  INode* n = ip.CreateNode("n", std::make_unique<DummyObject>());
  TransformKey a, b;
  a.time = 0;
  a.position = {0, 0, 0};
  b.time = 4800;
  b.position = {10, 0, 0};
  n->SetTransformKeys({b, a});  // any order
  ExpectNear(n->GetNodeTM(2400).GetTrans(), {5, 0, 0});
  ExpectNear(n->GetNodeTM(-100).GetTrans(), {0, 0, 0});
  ExpectNear(n->GetNodeTM(9999).GetTrans(), {10, 0, 0});
  Interval valid = FOREVER;
  n->GetNodeTM(100, &valid);
  EXPECT_EQ(valid, Interval(100, 100));
}

// Before: matrix keys were interpolated entry by entry: keys 90 degrees
// apart shrank the camera by 0.707 halfway, keys 180 apart flattened it
// to nothing (a view with entries of -1.6e16).
TEST(INode, MatrixKeysTurnThroughTheirRotationsAndStretchLinearly) {
  const auto matrixKey = [](TimeValue t, const Matrix3& m) {
    TransformKey k;
    k.time = t;
    k.kind = TransformKey::Kind::Matrix;
    k.matrix = m;
    return k;
  };
  const float kPiF = 3.14159265f;
  struct Case {
    const char* what;
    float degrees;  // about +Z between the keys
  } cases[] = {{"a quarter turn", 90}, {"a half turn", 180}, {"a small turn", 1}, {"three quarters", 270}};
  for (const Case& c : cases) {
    Interface ip;
    INode* n = ip.CreateNode("n", std::make_unique<DummyObject>());
    const Matrix3 b = RotateZMatrix(c.degrees * kPiF / 180.0f) * TransMatrix({4, 0, 2});
    n->SetTransformKeys({matrixKey(0, TransMatrix({0, 0, 2})), matrixKey(4800, b)});
    for (int step = 1; step < 8; ++step) {
      const Matrix3 m = n->GetNodeTM(step * 600);
      // The shorter arc: a 270-degree key is reached by turning -90; a
      // half turn has two, either will do.
      float turned = (c.degrees > 180 ? c.degrees - 360 : c.degrees) * step / 8.0f;
      if (c.degrees == 180 && m.GetRow(0).y < 0) turned = -turned;
      const Matrix3 want = RotateZMatrix(turned * kPiF / 180.0f);
      for (int r = 0; r < 3; ++r) ExpectNear(m.GetRow(r), want.GetRow(r), 2e-6f);
      ExpectNear(m.GetTrans(), {4.0f * step / 8.0f, 0, 2});  // the position along the line
    }
  }
  // A stretch (here a scale key against a turned matrix) is interpolated
  // apart from the turn: halfway, half the scale and half the angle.
  Interface ip;
  INode* n = ip.CreateNode("n", std::make_unique<DummyObject>());
  TransformKey scaled;
  scaled.scale = {1, 3, 1};
  n->SetTransformKeys({scaled, matrixKey(4800, RotateZMatrix(kPiF / 2))});
  const Matrix3 half = n->GetNodeTM(2400);
  const Matrix3 want = ScaleMatrix({1, 2, 1}) * RotateZMatrix(kPiF / 4);
  for (int r = 0; r < 3; ++r) ExpectNear(half.GetRow(r), want.GetRow(r), 2e-6f);
  // Keys that only move keep their linear part bit for bit.
  Interface still;
  INode* moving = still.CreateNode("m", std::make_unique<DummyObject>());
  const Matrix3 turned = RotateXMatrix(0.3f) * RotateZMatrix(1.1f);
  Matrix3 moved = turned;
  moved.SetTrans({3, -1, 7});
  moving->SetTransformKeys({matrixKey(0, turned), matrixKey(4800, moved)});
  const Matrix3 m = moving->GetNodeTM(1200);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(m.GetRow(r), turned.GetRow(r));
  EXPECT_EQ(m.GetTrans(), Point3(0.75f, -0.25f, 1.75f));
}

TEST(INode, WorldTransformComposesParents) {
  Interface ip;
  INode* parent = ip.CreateNode("p", std::make_unique<DummyObject>());
  INode* child = ip.CreateNode("c", std::make_unique<DummyObject>());
  ASSERT_TRUE(parent->AttachChild(child));
  TransformKey pk;
  pk.rotation = {0, 0, 90};
  pk.position = {100, 0, 0};
  parent->SetTransformKeys({pk});
  TransformKey ck;
  ck.position = {1, 0, 0};
  child->SetTransformKeys({ck});
  // Child's local (1,0,0) offset, turned by the parent, then moved.
  ExpectNear(child->GetNodeTM(0).GetTrans(), {100, 1, 0});
  EXPECT_EQ(ip.GetRootNode()->NumberOfChildren(), 1);
  EXPECT_EQ(parent->GetChildNode(0), child);
  EXPECT_EQ(parent->GetChildNode(1), nullptr);
  EXPECT_EQ(parent->GetChildNode(-1), nullptr);
}

TEST(INode, CyclesAreRefused) {
  Interface ip;
  INode* a = ip.CreateNode("a", nullptr);
  INode* b = ip.CreateNode("b", nullptr);
  ASSERT_TRUE(a->AttachChild(b));
  EXPECT_FALSE(b->AttachChild(a));
  EXPECT_FALSE(a->AttachChild(a));
  EXPECT_EQ(a->GetParentNode(), ip.GetRootNode());
}

TEST(INode, DeepHierarchyDoesNotExhaustTheStack) {
  Interface ip;
  INode* parent = ip.GetRootNode();
  TransformKey k;
  k.position = {1, 0, 0};
  for (int i = 0; i < 200000; ++i) {
    INode* n = ip.CreateNode(std::string("n").append(std::to_string(i)), nullptr);
    n->SetTransformKeys({k});
    ASSERT_TRUE(parent->AttachChild(n));
    parent = n;
  }
  EXPECT_FLOAT_EQ(parent->GetNodeTM(0).GetTrans().x, 200000.0f);
  EXPECT_EQ(ip.GetINodeByName("n199999"), parent);
}

TEST(Ticks, PerFrameFollowsFrameRate) {
  EXPECT_EQ(GetTicksPerFrame(), 160);
  EXPECT_FALSE(SetTicksPerFrame(0));
  EXPECT_EQ(GetTicksPerFrame(), 160);
  EXPECT_TRUE(SetTicksPerFrame(200));
  EXPECT_EQ(GetTicksPerFrame(), 200);
  SetTicksPerFrame(160);
}

}  // namespace
