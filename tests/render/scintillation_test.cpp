// Twinkle: the scintillation pass against a sequential reference, the lock
// rule, continuity in time and the colour limits.
#include <gtest/gtest.h>

#include "render/scintillation.h"
#include "support/render_fixture.h"

namespace {

// The pass as the generators would run in sequence: every star takes one
// phase draw and four draws of each of the five cycle generators, in order,
// whether it is drawn or not. Written independently of the seeking pass.
std::vector<BMM_Color_64> SequentialReference(RenderScene& scene, TimeValue t, const ScintillationSettings& s,
                                              const StarPlacement& placement, const Matrix3& view) {
  Bitmap bm(scene.width(), scene.height());
  bm.CreateChannels(6);
  RenderInfo ri;
  ri.SetPerspective(scene.width(), scene.height(), kFov);
  PixelTarget target(&bm, 0);

  const float period = 4800.0f / s.frequency;
  const float phase = static_cast<float>(t) / period;
  const int c = static_cast<int>(phase);
  const float frac = phase - static_cast<float>(c);
  Random gen[5], ph;
  for (int g = 0; g < 5; ++g) gen[g].srand(static_cast<unsigned>(s.seed + c + g - 1));
  ph.srand(static_cast<unsigned>(s.seed));
  auto r = [](Random& g) { return static_cast<float>(g.rand()) / static_cast<float>(Random::s_rand_max); };

  const StarRecord* stars = scene.fx->starField.stars();
  for (std::uint32_t i = 0; i < scene.fx->starField.count(); ++i) {
    const StarRecord& star = stars[i];
    Point3 p;
    const bool placed = StarToCamera(star.pos, placement, Matrix3::Identity(), view, p);
    float u = r(ph) + frac;
    Random* keys[4];
    if (u > 1.0f) {
      u -= 1.0f;
      for (int k = 0; k < 4; ++k) r(gen[0]);
      for (int j = 0; j < 4; ++j) keys[j] = &gen[j + 1];
    } else {
      for (int k = 0; k < 4; ++k) r(gen[4]);
      for (int j = 0; j < 4; ++j) keys[j] = &gen[j];
    }
    if (!placed || p.z >= 0) {
      for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 4; ++k) r(*keys[j]);
      continue;
    }
    float x[4], y[4], m[4], d[4];
    for (int j = 0; j < 4; ++j) {
      x[j] = -s.dx + r(*keys[j]) * (s.dx - -s.dx);
      y[j] = -s.dy + r(*keys[j]) * (s.dy - -s.dy);
      m[j] = s.multiplier + r(*keys[j]) * (1.0f - s.multiplier);
      d[j] = r(*keys[j]) * s.dimmer;
    }
    auto spline = [u](const float* k) {
      return k[1] + 0.5f * u * ((k[2] - k[0]) + u * ((2 * k[0] - 5 * k[1] + 4 * k[2] - k[3]) +
                                                     u * (3 * (k[1] - k[2]) + k[3] - k[0])));
    };
    const Point2 sp = ri.MapCamToScreen(p);
    const float M = spline(m), D = spline(d);
    auto channel = [&](WORD v) -> WORD {
      const float f = static_cast<float>(v) * M - D;
      if (!(f > 0.0f)) return 0;
      if (f > 65280.0f) return 65280;
      return static_cast<WORD>(static_cast<int>(f));
    };
    BMM_Color_64 col;
    col.r = channel(star.color.r);
    col.g = channel(star.color.g);
    col.b = channel(star.color.b);
    col.a = star.color.a;
    target.DrawSplat(Point2(sp.x + spline(x), sp.y + spline(y)), col, star.size);
  }
  std::vector<BMM_Color_64> px(static_cast<size_t>(scene.width()) * scene.height());
  for (int row = 0; row < scene.height(); ++row)
    bm.GetPixels(0, row, scene.width(), &px[static_cast<size_t>(row) * scene.width()]);
  return px;
}

class ScintillationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scene.Set(pb_starscount, 500);
    scene.Set(pb_brightstarssize, 2.5f);
    scene.Set(pb_dimstarssize, 1.0f);
    scene.Set(pb_scintillationflag, 1);
  }
  ScintillationSettings Settings(float dx, float dy, float mult, float dimmer8, float freq = 2.0f) {
    scene.Set(pb_scintillationdx, dx);
    scene.Set(pb_scintillationdy, dy);
    scene.Set(pb_scintillationlockdxyflag, 1);
    scene.Set(pb_scintillationmultiplier, mult);
    scene.Set(pb_scintillationdimmer, dimmer8);
    scene.Set(pb_scintillationfrequency, freq);
    ScintillationSettings s;
    s.seed = 12345;
    s.frequency = freq;
    s.dx = dx;
    s.dy = dy;
    s.multiplier = mult;
    s.dimmer = dimmer8 * 256.0f;
    return s;
  }
  RenderScene scene;
};

TEST_F(ScintillationTest, EqualsTheSequentialDrawOrder) {
  const ScintillationSettings s = Settings(3.0f, 1.5f, 0.2f, 40.0f);
  for (TimeValue t : {0, 777, 2399, 2400, 5000}) {
    const auto got = scene.Render(t);
    EXPECT_EQ(got, SequentialReference(scene, t, s, StarPlacement{}, GetCameraViewMatrix(scene.camera, t, false)))
        << "t = " << t;
  }
}

TEST_F(ScintillationTest, StarsBehindTheCameraKeepTheOthersInStep) {
  // Inside the 3D ball about half the stars are behind the camera.
  scene.Set(pb_starsdomain3dflag, 1);
  scene.Set(pb_starsdomain3dradius, 10.0f);
  const ScintillationSettings s = Settings(4.0f, 4.0f, 0.5f, 10.0f);
  StarPlacement placement;
  placement.domain3d = true;
  placement.domainRadius = 10.0f;
  const auto got = scene.Render(1234);
  EXPECT_GT(LitPixels(got), 0);
  EXPECT_EQ(got, SequentialReference(scene, 1234, s, placement, GetCameraViewMatrix(scene.camera, 1234, true)));
}

TEST_F(ScintillationTest, NegativeTimesUseTheLowerWindow) {
  const ScintillationSettings s = Settings(2.0f, 2.0f, 0.3f, 0.0f);
  for (TimeValue t : {-1, -1200, -2401, -100000}) {
    const auto got = scene.Render(t);  // renders (and generates) before the reference reads the field
    EXPECT_EQ(got, SequentialReference(scene, t, s, StarPlacement{}, GetCameraViewMatrix(scene.camera, t, false)))
        << "t = " << t;
  }
}

TEST_F(ScintillationTest, DarkestSettingsReachZeroAndKeepAlpha) {
  const ScintillationSettings s = Settings(0.0f, 0.0f, 0.0f, 255.0f);
  const auto got = scene.Render(300);
  EXPECT_EQ(got, SequentialReference(scene, 300, s, StarPlacement{}, GetCameraViewMatrix(scene.camera, 300, false)));
  // Most of the light is gone, but the stars' alpha is still composited.
  scene.Set(pb_scintillationflag, 0);
  scene.Set(pb_duration, 0.0f);
  const auto plain = scene.Render(300);
  EXPECT_LT(TotalLight(got), TotalLight(plain) * 0.75);
  long long alphaGot = 0, alphaPlain = 0;
  for (size_t i = 0; i < got.size(); ++i) alphaGot += got[i].a, alphaPlain += plain[i].a;
  EXPECT_EQ(alphaGot, alphaPlain);
}

TEST_F(ScintillationTest, IdentitySettingsGiveTheMainPassImage) {
  Settings(0.0f, 0.0f, 1.0f, 0.0f);
  const auto twinkle = scene.Render(500);
  scene.Set(pb_scintillationflag, 0);
  scene.Set(pb_duration, 0.0f);
  EXPECT_EQ(scene.Render(500), twinkle);
}

TEST_F(ScintillationTest, LockCopiesDxIntoDyAndTellsTheRollouts) {
  scene.Set(pb_scintillationdx, 5.0f);
  scene.Set(pb_scintillationdy, 1.0f);
  scene.Set(pb_scintillationlockdxyflag, 0);
  const int before = qe_velumbra_param_blk.InvalidateUICount();
  scene.Render(0);
  EXPECT_FLOAT_EQ(scene.GetFloat(pb_scintillationdy), 5.0f);
  EXPECT_GT(qe_velumbra_param_blk.InvalidateUICount(), before);

  scene.Set(pb_scintillationdy, 2.0f);
  scene.Set(pb_scintillationlockdxyflag, 1);
  EXPECT_FLOAT_EQ(scene.Pass(0).scintillation.dy, 2.0f);
  EXPECT_FLOAT_EQ(scene.GetFloat(pb_scintillationdy), 2.0f);
}

TEST_F(ScintillationTest, SmoothFromTickToTickButChangingOverAPeriod) {
  Settings(3.0f, 3.0f, 0.2f, 30.0f);
  const auto a = scene.Render(1000);
  EXPECT_EQ(scene.Render(1000), a);
  const auto b = scene.Render(1001);
  const auto far = scene.Render(1000 + 2400);
  // One tick moves a star by a tiny fraction of a pixel.
  EXPECT_LT(MaxChannelDifference(a, b), 2000);
  EXPECT_GT(MaxChannelDifference(a, far), 10000);
}

TEST(ScintillationCycle, PhaseAndWindowAtTheCycleEdges) {
  ScintillationSettings s;
  s.frequency = 2.0f;  // 2400 ticks a cycle
  EXPECT_EQ(ScintillationPass(s, 0).cycle(), 0);
  EXPECT_EQ(ScintillationPass(s, 2399).cycle(), 0);
  EXPECT_EQ(ScintillationPass(s, 2400).cycle(), 1);
  EXPECT_FLOAT_EQ(ScintillationPass(s, 1200).frac(), 0.5f);
  EXPECT_EQ(ScintillationPass(s, -1200).cycle(), 0);  // truncated toward zero
  EXPECT_FLOAT_EQ(ScintillationPass(s, -1200).frac(), -0.5f);
  // A frequency of 0 from a script: the phase is held, not converted.
  s.frequency = 0.0f;
  EXPECT_NO_FATAL_FAILURE(ScintillationPass(s, 100));
}

TEST(CatmullRomSpline, PassesThroughTheInnerKeys) {
  EXPECT_FLOAT_EQ(CatmullRom(3, 5, 9, 1, 0.0f), 5.0f);
  EXPECT_FLOAT_EQ(CatmullRom(3, 5, 9, 1, 1.0f), 9.0f);
  EXPECT_FLOAT_EQ(CatmullRom(1, 1, 1, 1, 0.37f), 1.0f);
  // Linear keys give linear interpolation.
  EXPECT_FLOAT_EQ(CatmullRom(0, 1, 2, 3, 0.25f), 1.25f);
}

}  // namespace
