// The visibility index against the pass that visits every star: identical
// images, ID channels, progress calls and abort points over many random
// cameras and settings; and, star by star, every star whose drawing can
// touch the image lies in a cell the index keeps, including stars exactly
// on cell borders and stars whose discs just reach an image edge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "render/cell_visibility.h"
#include "support/render_fixture.h"
#include "support/thread_grant.h"
#include "starfield/view_transforms.h"
#include "starfield/visibility_index.h"

namespace {

class Dice {
 public:
  explicit Dice(unsigned seed) { rng_.srand(seed); }
  float Unit() { return static_cast<float>(rng_.rand()) / static_cast<float>(Random::s_rand_max); }
  float Between(float lo, float hi) { return lo + Unit() * (hi - lo); }
  int Int(int lo, int hi) { return lo + static_cast<int>(Unit() * static_cast<float>(hi - lo + 1) * 0.9999f); }

 private:
  Random rng_;
};

using Result = PassResult;

Result Render(RenderScene& scene, TimeValue t, int stopAtCall) { return RenderPassResult(scene, t, stopAtCall); }

// A random camera, lens, image, band, origin, motion and look for trial
// `seed`; both scenes get the same.
void Randomise(RenderScene& a, RenderScene& b, INode* originA, INode* originB, unsigned seed) {
  Dice d(seed);
  const TimeValue tpf = GetTicksPerFrame();
  // Every third trial places the stars in a 3D domain, around and away
  // from the camera; about a third draw hyperspace streaks.
  const bool domain = seed % 3 == 0;
  const float radius = d.Between(0.5f, 3.0f);
  const Point3 eye = domain ? Point3(d.Between(-2, 2), d.Between(-2, 2), d.Between(-2, 2)) : Point3(0, 0, 0);
  const Point3 target0 = eye + Point3(d.Between(-1, 1), d.Between(-1, 1), d.Between(-1, 1));
  const Point3 target1 = target0 + Point3(d.Between(-0.3f, 0.3f), d.Between(-0.3f, 0.3f), d.Between(-0.2f, 0.2f));
  const Point3 eye1 = eye + (domain ? Point3(d.Between(-0.4f, 0.4f), d.Between(-0.4f, 0.4f), 0) : Point3(0, 0, 0));
  const bool moving = d.Unit() < 0.6f;
  const float fov = d.Between(0.15f, 2.6f);
  for (RenderScene* s : {&a, &b}) {
    s->camera->SetTransformKeys(moving ? std::vector<TransformKey>{LookKey(-tpf, eye1, target1), LookKey(0, eye, target0)}
                                       : std::vector<TransformKey>{LookKey(0, eye, target0)});
    s->fov = fov;
  }
  const float rx = d.Between(-3, 3), ry = d.Between(-3, 3), rz = d.Between(-3, 3);
  const Point3 scale(d.Between(0.3f, 2.0f), d.Between(0.3f, 2.0f), d.Between(0.3f, 2.0f));
  const Point3 at(d.Between(-1, 1), d.Between(-1, 1), d.Between(-1, 1));
  const bool useOrigin = d.Unit() < 0.5f;
  const int subdivisions = d.Int(1, 6);
  const float duration = d.Between(0.2f, 2.0f);
  const float limit = d.Unit() < 0.3f ? d.Between(0.0f, 0.3f) : d.Between(0.3f, 1.0f);
  const float bright = d.Between(0.5f, 7.0f), dim = d.Between(0.2f, 3.0f);
  const int method = d.Int(0, 4);
  const bool scint = d.Unit() < 0.3f;
  const float dx = d.Between(0.0f, 12.0f), dy = d.Between(0.0f, 12.0f);
  const int lock = d.Int(0, 1);
  const int seedStars = d.Int(1, 100000);
  // Balances the bound takes (0.5, 0.05..0.95) and one it refuses.
  const float balance = d.Unit() < 0.2f ? 0.5f : d.Unit() < 0.15f ? 0.02f : d.Between(0.05f, 0.95f);
  const bool hyper = !scint && d.Unit() < 0.35f;
  const float depth = d.Between(-0.3f, 0.6f);
  const int direction = d.Int(0, 1);
  for (auto [s, origin] : {std::pair{&a, originA}, std::pair{&b, originB}}) {
    Matrix3 m = RotateXMatrix(rx) * RotateYMatrix(ry) * RotateZMatrix(rz) * ScaleMatrix(scale);
    m.SetTrans(at);
    origin->SetTransformKeys({MatrixKey(0, m)});
    s->Set(pb_useobjoriginflag, useOrigin ? 1 : 0);
    s->Set(pb_objectorigin, origin);
    s->Set(pb_durationsubdivisions, subdivisions);
    s->Set(pb_duration, duration);
    s->Set(pb_velumbralimit, limit);
    s->Set(pb_brightstarssize, bright);
    s->Set(pb_dimstarssize, dim);
    s->Set(pb_drawmode, method);
    s->Set(pb_seed, seedStars);
    s->Set(pb_starsobjectidflag, 1);
    s->Set(pb_starsobjectid, 5);
    s->Set(pb_scintillationflag, scint ? 1 : 0);
    s->Set(pb_scintillationdx, dx);
    s->Set(pb_scintillationdy, dy);
    s->Set(pb_scintillationlockdxyflag, lock);
    s->Set(pb_starsdomain3dflag, domain ? 1 : 0);
    s->Set(pb_starsdomain3dradius, radius);
    s->Set(pb_radialdensitybalance, balance);
    s->Set(pb_hyperspaceflag, hyper ? 1 : 0);
    s->Set(pb_hyperspacedepth, depth);
    s->Set(pb_hyperspacedirection, direction);
    s->Set(pb_hsdirectionobject, origin);
  }
}

TEST(VisibilityIndex, PassesEqualTheFullLoopOverRandomCamerasAndSettings) {
  GrantScope restore;
  int skippedSomewhere = 0;
  for (unsigned trial = 1; trial <= 60; ++trial) {
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    Dice d(trial * 131);
    const int w = d.Int(1, 150), h = d.Int(1, 110);
    RenderScene indexed(w, h), full(w, h);
    INode* oa = indexed.ip.CreateNode("Origin", std::make_unique<DummyObject>());
    INode* ob = full.ip.CreateNode("Origin", std::make_unique<DummyObject>());
    Randomise(indexed, full, oa, ob, trial);
    for (RenderScene* s : {&indexed, &full}) s->Set(pb_starscount, 5000);
    full.fx->visibilityIndex = false;
    const TimeValue t = static_cast<TimeValue>(trial * 37);
    GrantRenderThreads(0);
    full.Render(t);
    const Result reference = Render(full, t, -1);
    const int stopAt = static_cast<int>(trial % 7) * 3;
    const Result referenceStopped = Render(full, t, stopAt);
    for (int threads : {0, 2}) {
      GrantRenderThreads(threads);
      indexed.Render(t);
      const Result r = Render(indexed, t, -1);
      EXPECT_TRUE(SamePixels(r.pixels, reference.pixels)) << threads << " threads";
      EXPECT_EQ(r.materialIds, reference.materialIds);
      EXPECT_EQ(r.objectIds, reference.objectIds);
      EXPECT_EQ(r.progress, reference.progress);
      const Result stopped = Render(indexed, t, stopAt);
      EXPECT_TRUE(SamePixels(stopped.pixels, referenceStopped.pixels)) << "stopped at call " << stopAt;
      EXPECT_EQ(stopped.progress, referenceStopped.progress);
    }
    skippedSomewhere += LitPixels(reference.pixels) > 0;
  }
  EXPECT_GT(skippedSomewhere, 24) << "most trials draw stars";
}

// Directions exactly on the borders and corners of cells, and on the edges
// between faces.
std::vector<Point3> BorderDirections() {
  std::vector<Point3> out;
  const int g = VisibilityIndex::kGrid;
  for (int face = 0; face < 6; ++face) {
    for (int iu = 0; iu <= g; iu += 1) {
      for (int iv = 0; iv <= g; iv += 3) {
        const float u = -1.0f + 2.0f * static_cast<float>(iu) / static_cast<float>(g);
        const float v = -1.0f + 2.0f * static_cast<float>(iv) / static_cast<float>(g);
        const float n = face % 2 == 0 ? 1.0f : -1.0f;
        Point3 p;
        switch (face / 2) {
          case 0: p = Point3(n, u, v); break;
          case 1: p = Point3(u, n, v); break;
          default: p = Point3(u, v, n); break;
        }
        const float len = p.Length();
        out.push_back(p * (1.0f / len));
        out.push_back(p * (0.37f / len));
      }
    }
  }
  return out;
}

TEST(VisibilityIndex, StarsOnCellBordersAreKeptWheneverTheyCanDraw) {
  const std::vector<Point3> directions = BorderDirections();
  int drawn = 0;
  for (unsigned trial = 1; trial <= 30; ++trial) {
    SCOPED_TRACE(trial);
    Dice d(trial * 977);
    const int w = d.Int(8, 90), h = d.Int(8, 70);
    RenderInfo ri;
    ri.SetPerspective(w, h, d.Between(0.2f, 2.5f));
    CellSample sample;
    sample.origin = RotateZMatrix(d.Between(-3, 3)) * ScaleMatrix(Point3(d.Between(0.5f, 2), 1, d.Between(0.5f, 2)));
    Matrix3 cam = RotateXMatrix(d.Between(-3, 3)) * RotateYMatrix(d.Between(-3, 3)) * RotateZMatrix(d.Between(-3, 3));
    sample.view = Inverse(cam);
    sample.view.NoTrans();
    sample.origin.NoTrans();
    sample.velumbraLimit = d.Between(0.2f, 1.0f);
    const float size = d.Between(0.5f, 4.0f);
    std::vector<std::uint8_t> visible;
    ASSERT_TRUE(VisibleCells(&sample, 1, ri, w - 1, h - 1, size + 3.0, visible));
    StarPlacement placement;
    placement.velumbraLimit = sample.velumbraLimit;
    for (const Point3& p : directions) {
      Point3 c;
      ASSERT_TRUE(StarToCamera(p, placement, sample.origin, sample.view, c));
      if (!(c.z < 0.0f)) continue;
      const Point2 s = ri.MapCamToScreen(c);
      // The disc touches a pixel when its centre is within `size` of one.
      const bool touches = s.x > -size && s.x < (w - 1) + size && s.y > -size && s.y < (h - 1) + size;
      if (!touches) continue;
      ++drawn;
      EXPECT_TRUE(visible[VisibilityIndex::CellOf(p)]) << "a star at (" << p.x << ", " << p.y << ", " << p.z
                                                     << ") projecting to (" << s.x << ", " << s.y << ") was left out";
    }
  }
  EXPECT_GT(drawn, 200);
}

// Stars whose projection lies just inside the reach of an image edge: the
// camera-space direction of a screen point, taken back to the field.
TEST(VisibilityIndex, StarsJustReachingAnImageEdgeAreKept) {
  int checked = 0;
  for (unsigned trial = 1; trial <= 40; ++trial) {
    SCOPED_TRACE(trial);
    Dice d(trial * 7919);
    const int w = d.Int(2, 300), h = d.Int(2, 200);
    const float fov = d.Between(0.1f, 2.8f);
    RenderInfo ri;
    ri.SetPerspective(w, h, fov);
    const Matrix3 cam = RotateXMatrix(d.Between(-3, 3)) * RotateYMatrix(d.Between(-3, 3)) * RotateZMatrix(d.Between(-3, 3));
    CellSample sample;
    sample.origin = Matrix3::Identity();
    sample.view = Inverse(cam);
    sample.view.NoTrans();
    const float size = d.Between(0.3f, 3.0f);
    std::vector<std::uint8_t> visible;
    ASSERT_TRUE(VisibleCells(&sample, 1, ri, w - 1, h - 1, size + 3.0, visible));
    for (int k = 0; k < 400; ++k) {
      // A screen point within `size` outside an edge, or on it.
      float sx = d.Between(-size, w - 1 + size), sy = d.Between(-size, h - 1 + size);
      switch (k % 4) {
        case 0: sx = -size * d.Unit(); break;
        case 1: sx = (w - 1) + size * d.Unit(); break;
        case 2: sy = -size * d.Unit(); break;
        default: sy = (h - 1) + size * d.Unit(); break;
      }
      // Camera space: z = -1, x = (sx - xc) / kx, y = -(sy - yc) / ky.
      const Point3 c((sx - ri.xc) / ri.kx, -(sy - ri.yc) / ri.ky, -1.0f);
      const Point3 p = cam.VectorTransform(c);  // back to the field (identity origin)
      const float len = p.Length();
      const Point3 star = p * (d.Between(0.1f, 1.0f) / len);
      ++checked;
      EXPECT_TRUE(visible[VisibilityIndex::CellOf(star)]) << "screen (" << sx << ", " << sy << ")";
    }
  }
  EXPECT_EQ(checked, 16000);
}

TEST(VisibilityIndex, LeavesOutMostOfTheSkyForANarrowLens) {
  RenderInfo ri;
  ri.SetPerspective(1920, 1080, 0.785398163f);
  CellSample sample;
  sample.origin = Matrix3::Identity();
  sample.view = Inverse(RotateXMatrix(1.5707963f));
  sample.view.NoTrans();
  std::vector<std::uint8_t> visible;
  ASSERT_TRUE(VisibleCells(&sample, 1, ri, 1919, 1079, 4.5, visible));
  int kept = 0;
  for (std::uint8_t v : visible) kept += v;
  // About 2.8% of the directions reach a 45-degree 16:9 frame; cells along
  // its border add a little.
  EXPECT_LT(kept, VisibilityIndex::kCells / 15);
  EXPECT_GT(kept, VisibilityIndex::kCells / 60);
}

TEST(VisibilityIndex, NoBoundWhereTheCurveOrAValueIsUnfit) {
  RenderInfo ri;
  ri.SetPerspective(64, 48, 0.8f);
  std::vector<std::uint8_t> visible;
  CellSample sample;
  sample.origin = Matrix3::Identity();
  sample.view = Matrix3::Identity();
  EXPECT_TRUE(VisibleCells(&sample, 1, ri, 63, 47, 4.0, visible));
  CellSample moved = sample;
  moved.view.SetTrans(Point3(0, 0, 1));
  EXPECT_TRUE(VisibleCells(&moved, 1, ri, 63, 47, 4.0, visible)) << "a translation is bounded";
  CellSample nan = sample;
  nan.velumbraLimit = std::nanf("");
  EXPECT_FALSE(VisibleCells(&nan, 1, ri, 63, 47, 4.0, visible));
  EXPECT_FALSE(VisibleCells(&sample, 1, ri, 63, 47, INFINITY, visible)) << "an infinite star";
  EXPECT_FALSE(VisibleCells(&sample, 0, ri, 63, 47, 4.0, visible)) << "no sample";
  CellSample domain = sample;
  domain.domain3d = true;
  EXPECT_TRUE(VisibleCells(&domain, 1, ri, 63, 47, 4.0, visible));
  for (const float limit : {0.0f, -0.5f, 1.5f}) {
    CellSample flat = domain;
    flat.velumbraLimit = limit;
    EXPECT_FALSE(VisibleCells(&flat, 1, ri, 63, 47, 4.0, visible)) << "band limit " << limit;
  }
  for (const float balance : {0.0f, 0.02f, 0.499f, 0.97f, 1.0f}) {
    CellSample steep = domain;
    steep.radialDensityBalance = balance;
    EXPECT_FALSE(VisibleCells(&steep, 1, ri, 63, 47, 4.0, visible)) << "balance " << balance;
  }
  CellSample far = sample;
  far.displaced = true;
  far.displacement = Point3(0, INFINITY, 0);
  EXPECT_FALSE(VisibleCells(&far, 1, ri, 63, 47, 4.0, visible)) << "an infinite displacement";
}

// Stars placed in space, star by star: in a 3D domain seen from inside and
// outside, with and without a hyperspace displacement, every star whose
// point (or displaced point) reaches the widened image lies in a kept cell;
// and a camera looking out of the domain leaves most cells out.
TEST(VisibilityIndex, StarsInSpaceThatCanDrawAreKept) {
  int drawn = 0, left = 0, total = 0;
  for (unsigned trial = 1; trial <= 40; ++trial) {
    SCOPED_TRACE(trial);
    Dice d(trial * 4099);
    const int w = d.Int(8, 120), h = d.Int(8, 90);
    RenderInfo ri;
    ri.SetPerspective(w, h, d.Between(0.2f, 2.5f));
    CellSample sample;
    Matrix3 origin = RotateZMatrix(d.Between(-3, 3)) * ScaleMatrix(Point3(d.Between(0.5f, 2), 1, d.Between(0.5f, 2)));
    origin.SetTrans(Point3(d.Between(-1, 1), d.Between(-1, 1), d.Between(-1, 1)));
    Matrix3 cam = RotateXMatrix(d.Between(-3, 3)) * RotateYMatrix(d.Between(-3, 3)) * RotateZMatrix(d.Between(-3, 3));
    cam.SetTrans(Point3(d.Between(-3, 3), d.Between(-3, 3), d.Between(-3, 3)));
    sample.origin = origin;
    sample.view = Inverse(cam);
    sample.velumbraLimit = d.Between(0.05f, 1.0f);
    sample.domain3d = trial % 4 != 0;  // every fourth: a sky, displaced
    sample.domainRadius = d.Between(0.3f, 4.0f) * (trial % 7 == 0 ? -1.0f : 1.0f);
    sample.radialDensityBalance = trial % 5 == 0 ? 0.5f : d.Between(0.05f, 0.95f);
    if (!sample.domain3d) sample.origin.NoTrans(), sample.view.NoTrans();
    sample.displaced = trial % 2 == 0 || !sample.domain3d;
    sample.displacement = sample.displaced ? Point3(d.Between(-1, 1), d.Between(-1, 1), d.Between(-1, 1)) : Point3(0, 0, 0);
    const float size = d.Between(0.5f, 4.0f);
    std::vector<std::uint8_t> visible;
    ASSERT_TRUE(VisibleCells(&sample, 1, ri, w - 1, h - 1, size + 3.0, visible));
    StarPlacement placement;
    placement.velumbraLimit = sample.velumbraLimit;
    placement.domain3d = sample.domain3d;
    placement.domainRadius = sample.domainRadius;
    placement.radialDensityBalance = sample.radialDensityBalance;
    const auto reaches = [&](const Point3& c) {
      if (!(c.z < 0.0f)) return false;
      const Point2 s = ri.MapCamToScreen(c);
      return s.x > -size && s.x < (w - 1) + size && s.y > -size && s.y < (h - 1) + size;
    };
    // Border directions at every shell border, and random stars.
    std::vector<Point3> stars;
    for (const Point3& p : BorderDirections()) {
      const float len = p.Length();
      for (float r : {0.25f, 0.5f, 0.75f, 0.999f, d.Between(0.01f, 1.0f)}) stars.push_back(p * (r / len));
    }
    for (int k = 0; k < 3000; ++k) {
      Point3 p(d.Between(-1, 1), d.Between(-1, 1), d.Between(-1, 1));
      if (p.Length() <= 1.0f && p.Length() > 0.0f) stars.push_back(p);
    }
    for (const Point3& p : stars) {
      Point3 c;
      if (!StarToCamera(p, placement, sample.origin, sample.view, c)) continue;
      const bool kept = visible[VisibilityIndex::CellOf(p)] != 0;
      ++total;
      left += !kept;
      if (reaches(c) || (sample.displaced && reaches(c + sample.displacement))) {
        ++drawn;
        EXPECT_TRUE(kept) << "a star at (" << p.x << ", " << p.y << ", " << p.z << ") was left out";
      }
    }
  }
  EXPECT_GT(drawn, 500);
  EXPECT_GT(left, total / 3) << "the bound leaves out a good part of the stars";
}

TEST(VisibilityIndex, CellsCoverEveryDirectionOnce) {
  // Each border direction's cell contains it: its corners span it.
  for (const Point3& p : BorderDirections()) {
    double corners[4][3];
    VisibilityIndex::CellCorners(VisibilityIndex::CellOf(p), corners);
    // p is a non-negative combination of the corners when it lies on the
    // inner side of each of the cone's four planes.
    for (int j = 0; j < 4; ++j) {
      const double* a = corners[j];
      const double* b = corners[(j + 1) % 4];
      const double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
      const double side = n[0] * p.x + n[1] * p.y + n[2] * p.z;
      // Counter-clockwise seen from outside on the +faces, clockwise on the
      // -faces: the inner side's sign is that of the cone's own axis.
      const double* c = corners[(j + 2) % 4];
      const double inner = n[0] * c[0] + n[1] * c[1] + n[2] * c[2];
      EXPECT_GT(side * (inner > 0 ? 1 : -1), 0.0) << p.x << " " << p.y << " " << p.z;
    }
  }
}

}  // namespace
