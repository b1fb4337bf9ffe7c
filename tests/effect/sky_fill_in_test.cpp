// The fill-in below a catalogue's limit, as a render makes it: its count
// per magnitude, its crowding towards the galactic plane and its colours
// against a catalogue whose laws are known by construction, its seed, and
// that it changes nothing while it is off or has nothing to add.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/render_fixture.h"
#include "support/synthetic_catalogue.h"
#include "support/temp_dir.h"

namespace {

// A render of the synthetic catalogue's stars down to `limit`.
class FillInScene : public RenderScene {
 public:
  explicit FillInScene(const SyntheticSky& sky = SyntheticSky(), float limit = 10.5f, bool fillIn = true)
      : RenderScene(64, 48), sky_(sky) {
    WriteAll(dir_ / "synthetic.dat", SyntheticKStars(sky));
    Set(pb_starsource, starsource_catalogue);
    SetText(pb_catalogfile, (dir_ / "synthetic.dat").string());
    Set(pb_magnitudelimit, limit);
    Set(pb_fillinflag, fillIn ? 1 : 0);
    GetHostLog()->Take();
  }
  ~FillInScene() { GetHostLog()->Take(); }

  void SetText(ParamID id, const std::string& v) { ASSERT_TRUE(fx->pblock->SetValue(id, 0, v.c_str())); }

  std::vector<BMM_Color_64> RenderOk(TimeValue t = 0) {
    std::vector<BMM_Color_64> px = Render(t);
    const std::vector<LogRecord> log = GetHostLog()->Take();
    EXPECT_TRUE(log.empty()) << log.front().message;
    return px;
  }

  // The fill-in's records: those after the catalogue's.
  std::vector<StarRecord> FillInRecords() const {
    const SkyField& f = fx->skyField;
    std::vector<StarRecord> out;
    for (std::uint32_t i = 0; i < f.count(); ++i)
      if (f.source()[i] >= fx->skyCatalogue.stars().size()) out.push_back(f.stars()[i]);
    return out;
  }

  const SyntheticSky& sky() const { return sky_; }

 private:
  SyntheticSky sky_;
  TempDir dir_;
};

// Stars of the synthetic law brighter than m.
double LawCount(const SyntheticSky& sky, double m) { return sky.stars * std::pow(10.0, sky.slope * (m - sky.faintest)); }

// Plane/pole ratio of directions: the counts at |sin b| < 0.2 and >= 0.8.
double PlanePole(const std::vector<StarRecord>& records) {
  double plane = 0, pole = 0;
  for (const StarRecord& r : records) {
    const double ra = std::atan2(r.pos.y, r.pos.x), dec = std::asin(std::clamp(r.pos.z, -1.0f, 1.0f));
    const double s = synthetic::AbsSinB(ra, dec);
    plane += s < 0.2;
    pole += s >= 0.8;
  }
  return plane / pole;
}

TEST(FillIn, ContinuesTheCataloguesCountPerMagnitude) {
  FillInScene scene;
  scene.RenderOk();
  const std::span<const FillInStar> faint = scene.fx->skyFillIn.StarsTo(10.5f);
  ASSERT_FALSE(faint.empty());
  // Every one is drawn (the celestial frame hides none), after the
  // catalogue's 60,000.
  EXPECT_EQ(scene.fx->skyField.count(), 60000u + faint.size());
  EXPECT_EQ(scene.FillInRecords().size(), faint.size());
  // Per quarter magnitude past the catalogue's limit, as many as the law the
  // catalogue was made by predicts.
  for (double lo = 9.0; lo < 10.5; lo += 0.25) {
    const double hi = lo + 0.25;
    const double n = static_cast<double>(std::count_if(faint.begin(), faint.end(), [&](const FillInStar& s) {
      return s.magnitude >= lo && s.magnitude < hi;
    }));
    const double want = LawCount(scene.sky(), hi) - LawCount(scene.sky(), lo);
    EXPECT_NEAR(n, want, 0.02 * want) << "magnitudes " << lo << " to " << hi;
  }
  EXPECT_GE(faint.front().magnitude, 9.0f);
  EXPECT_LE(faint.back().magnitude, 10.5f);
  // Their light follows their magnitude as the catalogue's does (m0 = 6).
  const SkyField& f = scene.fx->skyField;
  const std::uint32_t last = f.count() - 1;
  EXPECT_NEAR(f.light()[last], std::pow(10.0, -0.4 * (faint.back().magnitude - 6.0)), 1e-6 * f.light()[last]);
}

TEST(FillIn, CrowdsTowardsTheGalacticPlaneAsTheCatalogueDoes) {
  struct Case {
    const char* label;
    double softening;
    double ratio;  // the synthetic sky's plane/pole ratio
  };
  // Density 1 / (|sin b| + 0.3): mean densities ln(0.5 / 0.3) / 0.2 at
  // |sin b| < 0.2 and ln(1.3 / 1.1) / 0.2 at >= 0.8.
  const Case cases[] = {{"a Milky Way", 0.3, std::log(0.5 / 0.3) / std::log(1.3 / 1.1)}, {"a uniform sky", -1.0, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SyntheticSky sky;
    sky.softening = c.softening;
    FillInScene scene(sky, 10.0f);
    scene.RenderOk();
    const std::vector<StarRecord> faint = scene.FillInRecords();
    ASSERT_GT(faint.size(), 50000u);
    EXPECT_NEAR(PlanePole(faint), c.ratio, 0.08 * c.ratio);
  }
}

TEST(FillIn, TakesTheColoursOfTheCataloguesFaintStars) {
  SyntheticSky sky;
  sky.brightBv = -0.2;  // blue-white above magnitude 7
  sky.faintBv = 1.4;    // orange in the two magnitudes the fill-in continues
  FillInScene scene(sky, 9.6f);
  scene.RenderOk();
  const SkyField& f = scene.fx->skyField;
  const BMM_Color_64 bright = f.stars()[0].color;
  const BMM_Color_64 faint = f.stars()[59999].color;
  ASSERT_NE(bright.b, faint.b);
  const std::vector<StarRecord> fill = scene.FillInRecords();
  ASSERT_FALSE(fill.empty());
  for (const StarRecord& r : fill) {
    ASSERT_EQ(r.color.r, faint.r);
    ASSERT_EQ(r.color.g, faint.g);
    ASSERT_EQ(r.color.b, faint.b);
  }
}

// Fill-in star k depends on the seed and k alone: the same seed gives the
// same stars, a fainter limit only adds stars after them, and another seed
// other stars.
TEST(FillIn, IsTheSeedsAndAFainterLimitOnlyAddsStars) {
  const auto stars = [](int seed, float limit) {
    FillInScene scene(SyntheticSky(), limit);
    scene.Set(pb_seed, seed);
    scene.RenderOk();
    const std::span<const FillInStar> s = scene.fx->skyFillIn.StarsTo(limit);
    return std::vector<FillInStar>(s.begin(), s.end());
  };
  const std::vector<FillInStar> a = stars(7, 9.8f);
  const std::vector<FillInStar> again = stars(7, 9.8f);
  const std::vector<FillInStar> fainter = stars(7, 10.2f);
  const std::vector<FillInStar> other = stars(8, 9.8f);
  ASSERT_EQ(a.size(), again.size());
  EXPECT_EQ(std::memcmp(a.data(), again.data(), a.size() * sizeof(FillInStar)), 0);
  ASSERT_GT(fainter.size(), a.size());
  EXPECT_EQ(std::memcmp(a.data(), fainter.data(), a.size() * sizeof(FillInStar)), 0);
  // Another seed: about as many stars, elsewhere.
  EXPECT_NEAR(static_cast<double>(other.size()), static_cast<double>(a.size()), 2.0);
  std::size_t same = 0;
  for (std::size_t k = 0; k < std::min(a.size(), other.size()); ++k) same += a[k].x == other[k].x;
  EXPECT_LT(same, a.size() / 1000);

  // Within one effect, a limit moving fainter and back renders as fresh
  // effects do.
  FillInScene moving(SyntheticSky(), 10.2f);
  moving.Set(pb_seed, 7);
  moving.RenderOk();
  moving.Set(pb_magnitudelimit, 9.8f);
  const std::vector<BMM_Color_64> back = moving.RenderOk();
  FillInScene fresh(SyntheticSky(), 9.8f);
  fresh.Set(pb_seed, 7);
  EXPECT_EQ(back, fresh.RenderOk());
}

// Off (the default), or on with nothing to add, the render is the
// catalogue's alone.
TEST(FillIn, OffOrWithNothingToAddChangesNoPixel) {
  FillInScene off(SyntheticSky(), 10.5f, false);
  // A wide lens on the plane: many stars in view.
  off.fov = 2.0f;
  const std::vector<BMM_Color_64> catalogueOnly = off.RenderOk();
  EXPECT_EQ(off.fx->skyField.count(), 60000u);
  EXPECT_TRUE(off.FillInRecords().empty());

  // A new effect has it off.
  RenderScene fresh;
  int flag = -1;
  Interval valid = FOREVER;
  fresh.fx->pblock->GetValue(pb_fillinflag, 0, flag, valid);
  EXPECT_EQ(flag, 0);

  // On, but the limit is brighter than the catalogue's: no fill-in star.
  FillInScene bright(SyntheticSky(), 8.9f);
  bright.fov = 2.0f;
  FillInScene brightOff(SyntheticSky(), 8.9f, false);
  brightOff.fov = 2.0f;
  EXPECT_EQ(bright.RenderOk(), brightOff.RenderOk());
  EXPECT_TRUE(bright.FillInRecords().empty());

  FillInScene on(SyntheticSky(), 10.5f);
  on.fov = 2.0f;
  EXPECT_NE(on.RenderOk(), catalogueOnly);
}

// Fill-in stars are on the celestial sphere: in the observer frame they
// turn with the catalogue's stars, keeping their angles to them.
TEST(FillIn, TurnsWithTheSkyInTheObserverFrame) {
  FillInScene scene(SyntheticSky(), 9.5f);
  scene.Set(pb_skyframe, skyframe_observer);
  scene.Set(pb_observerlatitude, 48.2f);
  scene.Set(pb_belowhorizonflag, 1);  // every star, so that the records match from one time to the other
  scene.RenderOk(0);
  const std::vector<StarRecord> a(scene.fx->skyField.stars(), scene.fx->skyField.stars() + scene.fx->skyField.count());
  const TimeValue hour = 3600 * 4800;
  scene.RenderOk(hour);
  const std::vector<StarRecord> b(scene.fx->skyField.stars(), scene.fx->skyField.stars() + scene.fx->skyField.count());
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GT(a.size(), 60000u);
  const auto dot = [](const Point3& p, const Point3& q) {
    return static_cast<double>(p.x) * q.x + static_cast<double>(p.y) * q.y + static_cast<double>(p.z) * q.z;
  };
  int moved = 0;
  for (std::size_t i = 60000; i < a.size(); i += 97) {
    // Its angle to the brightest catalogue star (and to a faint one) is
    // kept; the aberration's change over the hour is below 1e-6.
    EXPECT_NEAR(dot(a[i].pos, a[0].pos), dot(b[i].pos, b[0].pos), 2e-6) << i;
    EXPECT_NEAR(dot(a[i].pos, a[59999].pos), dot(b[i].pos, b[59999].pos), 2e-6) << i;
    moved += std::abs(a[i].pos.z - b[i].pos.z) > 1e-3f;
  }
  EXPECT_GT(moved, 100);
}

// A catalogue too small to show its count's slope gets no fill-in.
TEST(FillIn, ACatalogueWithoutAFaintEndGetsNone) {
  SyntheticSky sky;
  sky.stars = 300;  // its fit's bins hold fewer than 20 stars
  FillInScene scene(sky, 14.0f);
  scene.RenderOk();
  EXPECT_EQ(scene.fx->skyField.count(), 300u);
  EXPECT_FALSE(scene.fx->skyFillIn.counts().valid);
}

// Catalogue (and fill-in) stars whose calls cannot reach the image are left
// out before their light is measured: the same image, G-buffer, light
// layer and progress as measuring every star, for a panning motion-blurred
// wide lens (streaks far outside the frame) and for scintillation.
TEST(SkyStars, LeftOutOnlyWhenTheyCannotReachTheImage) {
  const auto render = [](bool cull, bool scintillation) {
    SyntheticSky sky;
    sky.stars = 20000;
    FillInScene scene(sky, 9.4f);
    scene.Resize(160, 90);
    scene.fov = 1.6f;
    scene.camera->SetTransformKeys({LookKey(0, {0, 0, 0}, {0, 1, 0.2f}), LookKey(300, {0, 0, 0}, {1, 1, 0.6f})});
    scene.Set(pb_duration, 1.0f);
    scene.Set(pb_durationsubdivisions, 6);
    scene.Set(pb_starsobjectidflag, 1);
    scene.Set(pb_starsobjectid, 9);
    if (scintillation) {
      scene.Set(pb_scintillationflag, 1);
      scene.Set(pb_scintillationdx, 3.0f);
    }
    scene.prepare = [](Bitmap& bm) { ASSERT_TRUE(bm.CreateLightLayer()); };
    scene.fx->visibilityIndex = cull;
    const PassResult r = RenderPassResult(scene, 200, -1);
    const BMM_Color_fl* layer = scene.bitmap->LightLayer();
    std::vector<float> light;
    for (int i = 0; i < 160 * 90; ++i) light.insert(light.end(), {layer[i].r, layer[i].g, layer[i].b, layer[i].a});
    return std::make_pair(r, light);
  };
  for (bool scintillation : {false, true}) {
    SCOPED_TRACE(scintillation ? "scintillation" : "motion blur");
    const auto culled = render(true, scintillation);
    const auto all = render(false, scintillation);
    EXPECT_TRUE(culled.first == all.first);
    EXPECT_TRUE(culled.second == all.second);
    EXPECT_GT(std::count_if(all.second.begin(), all.second.end(), [](float v) { return v > 0.0f; }), 1000);
  }
}

// The stars are placed on the granted threads: the same records, lights and
// sources in the same order as on one, stars below the horizon left out
// alike.
TEST(SkyStars, ArePlacedOnTheGrantedThreadsAsOnOne) {
  FillInScene scene(SyntheticSky(), 9.8f);
  scene.Set(pb_skyframe, skyframe_observer);
  scene.Set(pb_observerlatitude, -33.9f);
  scene.RenderOk();  // the catalogue read and the fill-in made
  const SkyParams p = SkyParamsAt(scene.fx->pblock, 0);
  const auto place = [&](int threads) {
    GrantRenderThreads(threads);
    SkyField field;
    std::string error;
    EXPECT_TRUE(PlaceSkyStars(scene.fx->skyCatalogue, scene.fx->skyFillIn, field, p, 0, 65280, error)) << error;
    GrantRenderThreads(0);
    return field;
  };
  const SkyField one = place(0), two = place(2);
  ASSERT_GT(one.count(), 50000u);
  ASSERT_LT(one.count(), 60000u + scene.fx->skyFillIn.StarsTo(9.8f).size()) << "some are below the horizon";
  ASSERT_EQ(one.count(), two.count());
  EXPECT_EQ(std::memcmp(one.stars(), two.stars(), one.count() * sizeof(StarRecord)), 0);
  EXPECT_EQ(one.light(), two.light());
  EXPECT_EQ(one.lightScale(), two.lightScale());
  EXPECT_EQ(one.source(), two.source());
  EXPECT_TRUE(std::is_sorted(one.source().begin(), one.source().end()));
}

}  // namespace
