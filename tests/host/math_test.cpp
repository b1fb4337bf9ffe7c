#include <gtest/gtest.h>

#include <cmath>

#include "plugin/host.h"

namespace {

Matrix3 SomeTransform() {
  return RotateXMatrix(0.3f) * RotateZMatrix(1.1f) * ScaleMatrix({2, 3, 0.5f}) * TransMatrix({4, -5, 6});
}

TEST(Matrix3, RowVectorConvention) {
  // Rows are the images of the axes; translation is added last.
  const Matrix3 m({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {10, 20, 30});
  EXPECT_EQ(m.PointTransform({1, 0, 0}), Point3(10, 21, 30));
  EXPECT_EQ(m.PointTransform({0, 2, 0}), Point3(8, 20, 30));
  EXPECT_EQ(m.VectorTransform({0, 2, 0}), Point3(-2, 0, 0));
}

TEST(Matrix3, ProductAppliesLeftFirst) {
  const Matrix3 a = TransMatrix({1, 0, 0});
  const Matrix3 b = ScaleMatrix({2, 2, 2});
  const Point3 p(1, 1, 1);
  EXPECT_EQ((a * b).PointTransform(p), b.PointTransform(a.PointTransform(p)));
  EXPECT_EQ((a * b).PointTransform(p), Point3(4, 2, 2));
  EXPECT_EQ((b * a).PointTransform(p), Point3(3, 2, 2));
}

TEST(Matrix3, InverseUndoesTransform) {
  const Matrix3 m = SomeTransform();
  const Matrix3 inv = Inverse(m);
  EXPECT_TRUE((m * inv).Equals(Matrix3::Identity(), 1e-5f));
  EXPECT_TRUE((inv * m).Equals(Matrix3::Identity(), 1e-5f));
  const Point3 p(0.7f, -2.0f, 3.5f);
  const Point3 back = inv.PointTransform(m.PointTransform(p));
  EXPECT_NEAR(back.x, p.x, 1e-5f);
  EXPECT_NEAR(back.y, p.y, 1e-5f);
  EXPECT_NEAR(back.z, p.z, 1e-5f);
}

TEST(Matrix3, InverseOfSingularIsReportedAndZero) {
  Matrix3 out = Matrix3::Identity();
  EXPECT_FALSE(InverseChecked(ScaleMatrix({1, 0, 1}), out));
  EXPECT_EQ(out, Matrix3());
  Matrix3 nan = Matrix3::Identity();
  nan.SetRow(0, {NAN, 0, 0});
  EXPECT_FALSE(InverseChecked(nan, out));
}

TEST(Matrix3, EqualsIsAbsolutePerElement) {
  const Matrix3 a = SomeTransform();
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 3; ++c) {
      Matrix3 b = a;
      Point3 row = b.GetRow(r);
      row[c] += 0.02f;
      b.SetRow(r, row);
      EXPECT_FALSE(a.Equals(b, 0.01f)) << r << "," << c;
      EXPECT_TRUE(a.Equals(b, 0.03f)) << r << "," << c;
    }
  }
  Matrix3 n = a;
  n.SetRow(3, {NAN, 0, 0});
  EXPECT_FALSE(n.Equals(n, 1.0f)) << "NaN equals nothing, not even itself";
}

TEST(Matrix3, NoTransClearsOnlyTranslation) {
  Matrix3 m = SomeTransform();
  const Matrix3 before = m;
  m.NoTrans();
  EXPECT_EQ(m.GetTrans(), Point3::Origin);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(m.GetRow(r), before.GetRow(r));
}

TEST(Point, Lengths) {
  EXPECT_FLOAT_EQ(Point3(3, 4, 12).Length(), 13.0f);
  EXPECT_FLOAT_EQ(Length(Point2(3, 4)), 5.0f);
  EXPECT_EQ(Point3::Origin.Length(), 0.0f);
}

TEST(Random, SameSeedSameSequence) {
  Random a, b;
  a.srand(42);
  b.srand(42);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(a.rand(), b.rand());
  b.srand(43);
  a.srand(42);
  int same = 0;
  for (int i = 0; i < 1000; ++i) same += a.rand() == b.rand();
  EXPECT_LT(same, 5);
}

TEST(Random, FixedSequenceOnEveryPlatform) {
  // The sequence is part of the host's contract: scenes render the same
  // stars everywhere. These values pin it.
  Random r;
  r.srand(12345);
  EXPECT_EQ(r.rand(), 6664837);
  EXPECT_EQ(r.rand(), 4067085);
  EXPECT_EQ(r.rand(), 10290089);
  EXPECT_EQ(r.rand(), 10814376);
}

TEST(Random, SeekReachesAnyDraw) {
  Random seq;
  seq.srand(7);
  std::vector<int> draws;
  for (int i = 0; i < 100; ++i) draws.push_back(seq.rand());
  Random seek;
  seek.srand(7);
  for (int k : {99, 0, 50, 3}) {
    seek.Seek(k);
    EXPECT_EQ(seek.rand(), draws[k]);
    EXPECT_EQ(seek.Draw(k), draws[k]);
  }
  EXPECT_EQ(seq.Tell(), 100u);
}

TEST(Random, CoversTheRangeEvenly) {
  Random r;
  r.srand(1);
  int buckets[16] = {};
  const int n = 160000;
  for (int i = 0; i < n; ++i) ++buckets[r.rand() >> 20];
  for (int b : buckets) EXPECT_NEAR(b, n / 16, n / 16 / 10);
  // s_rand_max converts to float exactly, so a draw / max reaches 1.0 exactly.
  EXPECT_EQ(static_cast<float>(Random::s_rand_max), 16777215.0f);
}

}  // namespace
