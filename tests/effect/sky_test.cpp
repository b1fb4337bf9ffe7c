// Catalogue stars through the effect, as the host renders them: where they
// land (sky::SkyTransform, then the camera's projection), how much light
// each brings (10^(-0.4 (m - m0)) in the light layer, however drawn), and
// what a catalogue the user names does when it is missing or damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "sky/astrometry.h"
#include "sky/catalogue.h"
#include "sky/star_light.h"
#include "support/render_fixture.h"
#include "support/temp_dir.h"

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

struct CatStar {
  double raHours, decDeg;
  double magnitude;
};

// The stars as the Yale Bright Star Catalogue lines xplanet ships (no
// colour: they are white).
std::string BscText(const std::vector<CatStar>& stars) {
  std::string text = "# a test catalogue\n";
  int n = 1;
  for (const CatStar& s : stars) {
    char line[160];
    std::snprintf(line, sizeof line, "%8.4f %8.4f %5.2f \"  %dTst Cat\" %d 1 2\n", s.decDeg, s.raHours, s.magnitude,
                  n, n);
    text += line;
    ++n;
  }
  return text;
}

void WriteFile(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

double Luminance(const BMM_Color_fl& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

// A scene of the catalogue stars: a light layer on every frame, a 30 degree
// lens, the catalogue in a folder of its own.
class SkyScene : public RenderScene {
 public:
  SkyScene(int w, int h) : RenderScene(w, h) {
    fov = static_cast<float>(30.0 * kDeg);
    prepare = [this](Bitmap& bm) {
      if (withLayer) {
        ASSERT_TRUE(bm.CreateLightLayer());
      }
    };
    Set(pb_starsource, starsource_catalogue);
    GetHostLog()->Take();
  }
  ~SkyScene() { GetHostLog()->Take(); }

  void UseCatalogue(const std::vector<CatStar>& stars) {
    const std::filesystem::path file = dir / "test.bsc";
    WriteFile(file, BscText(stars));
    SetText(pb_catalogfile, file.string());
  }
  void SetText(ParamID id, const std::string& v) { ASSERT_TRUE(fx->pblock->SetValue(id, 0, v.c_str())); }
  void Look(Point3 target, TimeValue t = 0) { camera->SetTransformKeys({LookKey(t, {0, 0, 0}, target)}); }

  // The light layer's luminance over the whole frame.
  double LayerLight() const {
    const BMM_Color_fl* l = bitmap->LightLayer();
    double sum = 0;
    for (int i = 0; i < width() * height(); ++i) sum += Luminance(l[i]);
    return sum;
  }
  // The 16-bit frame's luminance, frame units.
  double FrameLight() const {
    const BMM_Color_64* p = bitmap->Storage()->Pixels();
    double sum = 0;
    for (int i = 0; i < width() * height(); ++i) sum += (0.2126 * p[i].r + 0.7152 * p[i].g + 0.0722 * p[i].b) / 65280.0;
    return sum;
  }
  // The luminance-weighted centre of the layer within `radius` pixels of
  // (x, y).
  Point2 Centroid(double x, double y, int radius) const {
    const BMM_Color_fl* l = bitmap->LightLayer();
    double sx = 0, sy = 0, s = 0;
    for (int py = std::max(0, int(y) - radius); py <= std::min(height() - 1, int(y) + radius); ++py)
      for (int px = std::max(0, int(x) - radius); px <= std::min(width() - 1, int(x) + radius); ++px) {
        const double v = Luminance(l[py * width() + px]);
        sx += v * px, sy += v * py, s += v;
      }
    return s > 0 ? Point2(float(sx / s), float(sy / s)) : Point2(-1e9f, -1e9f);
  }

  // Where a world direction lands, by the host's projection written out in
  // double (DESIGN: xc = (W-1)/2, kx = (W/2)/tan(fov/2), rows down).
  bool Expected(const sky::Vec3& d, TimeValue t, double& x, double& y) const {
    const Matrix3 m = Inverse(camera->GetNodeTM(t));
    double c[3];
    for (int k = 0; k < 3; ++k)
      c[k] = d[0] * m.GetRow(0)[k] + d[1] * m.GetRow(1)[k] + d[2] * m.GetRow(2)[k];
    if (!(c[2] < 0)) return false;
    const double kx = (width() / 2.0) / std::tan(static_cast<double>(fov) / 2.0);
    x = (width() - 1) / 2.0 + kx * c[0] / -c[2];
    y = (height() - 1) / 2.0 - kx * c[1] / -c[2];
    return true;
  }

  TempDir dir;
  bool withLayer = true;
};

// The directions sky::SkyTransform gives the catalogue's stars, parsed
// from the same bytes.
std::vector<sky::Vec3> Directions(const std::vector<CatStar>& stars, const sky::SkySettings& settings) {
  const sky::Catalogue c = sky::ParseCatalogue(BscText(stars));
  const sky::SkyTransform transform(settings);
  std::vector<sky::Vec3> out;
  for (const sky::CatalogueStar& s : c.stars) out.push_back(transform.Direction(s));
  return out;
}

Point3 ToPoint(const sky::Vec3& d) { return Point3(float(d[0]), float(d[1]), float(d[2])); }

TEST(SkyStars, LandWhereTheSkyTransformSaysInTheCelestialFrame) {
  SkyScene scene(960, 540);
  // Orion's belt region, a few isolated stars around the view's axis.
  const std::vector<CatStar> stars = {{5.6036, -1.2019, 1.7}, {5.5334, -0.2991, 2.2}, {5.6793, -1.9426, 2.0},
                                      {5.4189, 6.3497, 1.6},  {5.9195, 7.4070, 0.5},  {5.2423, -8.2016, 0.1},
                                      {5.7958, -9.6696, 2.1}};
  scene.UseCatalogue(stars);
  sky::SkySettings settings;  // celestial, 2000-01-01T12:00:00Z: the defaults
  const std::vector<sky::Vec3> d = Directions(stars, settings);
  scene.Look(ToPoint(d[0]));
  scene.Render(0);
  ASSERT_TRUE(GetHostLog()->Take().empty());
  int seen = 0;
  for (const sky::Vec3& dir : d) {
    double x, y;
    if (!scene.Expected(dir, 0, x, y) || x < 10 || y < 10 || x > scene.width() - 11 || y > scene.height() - 11)
      continue;
    // The light's centre: a sampled disc's centroid errs by a few
    // hundredths of a pixel (the end-to-end check against astropy allows
    // a tenth).
    const Point2 got = scene.Centroid(x, y, 8);
    EXPECT_NEAR(got.x, x, 0.05) << "star at " << x << ", " << y;
    EXPECT_NEAR(got.y, y, 0.05) << "star at " << x << ", " << y;
    ++seen;
  }
  EXPECT_GE(seen, 5);
  // The discs' own centres: the single-precision pipeline to about a
  // thousandth of a pixel.
  struct Centres : DrawCallObserver {
    std::vector<DrawOp> ops;
    void Call(const DrawOp& op) override { ops.push_back(op); }
  } centres;
  scene.fx->drawCallObserver = &centres;
  scene.Render(0);
  scene.fx->drawCallObserver = nullptr;
  ASSERT_GE(centres.ops.size(), static_cast<size_t>(seen));
  // The catalogue keeps its stars brightest first: file order by magnitude.
  std::vector<size_t> byMagnitude(stars.size());
  for (size_t k = 0; k < stars.size(); ++k) byMagnitude[k] = k;
  std::stable_sort(byMagnitude.begin(), byMagnitude.end(),
                   [&](size_t a, size_t b) { return stars[a].magnitude < stars[b].magnitude; });
  int matched = 0;
  for (const DrawOp& op : centres.ops) {
    EXPECT_EQ(op.kind, DrawOp::kLightCapsule) << "a still star: one capsule of length 0, by its light";
    const sky::Vec3& dir = d[byMagnitude[scene.fx->skyField.source()[op.star]]];
    double x, y;
    ASSERT_TRUE(scene.Expected(dir, 0, x, y));
    EXPECT_NEAR(op.a.x, x, 2e-3);
    EXPECT_NEAR(op.a.y, y, 2e-3);
    ++matched;
  }
  EXPECT_EQ(matched, static_cast<int>(centres.ops.size()));
}

TEST(SkyStars, FollowTheFramesTimeInTheObserverFrame) {
  SkyScene scene(960, 540);
  const std::vector<CatStar> stars = {{5.6036, -1.2019, 1.7}, {5.5334, -0.2991, 2.2}, {5.9195, 7.4070, 0.5}};
  scene.UseCatalogue(stars);
  scene.Set(pb_skyframe, skyframe_observer);
  scene.Set(pb_observerlatitude, 48.2f);
  scene.Set(pb_observerlongitude, 16.37f);
  scene.Set(pb_observerheight, 200.0f);
  scene.Set(pb_ut1minusutc, -0.2f);
  scene.SetText(pb_observertime, "2024-01-15T20:00:00Z");
  sky::SkySettings settings;
  settings.frame = sky::SkyFrame::Observer;
  settings.latitudeDeg = 48.2f;  // as the float parameter holds them
  settings.longitudeDeg = 16.37f;
  settings.heightM = 200.0f;
  settings.ut1MinusUtc = -0.2f;
  // Frame time 30 s into the shot: the sky has turned by 7.5 arc minutes.
  const TimeValue t = 30 * 4800;
  std::string error;
  ASSERT_TRUE(sky::ParseUtc("2024-01-15T20:00:30Z", settings.time, error)) << error;
  const std::vector<sky::Vec3> d = Directions(stars, settings);
  ASSERT_GT(d[0][2], 0.2) << "above the horizon, so it is drawn";
  scene.Look(ToPoint(d[0]), t);
  scene.Render(t);
  ASSERT_TRUE(GetHostLog()->Take().empty());
  for (const sky::Vec3& dir : d) {
    double x, y;
    ASSERT_TRUE(scene.Expected(dir, t, x, y));
    if (x < 10 || y < 10 || x > scene.width() - 11 || y > scene.height() - 11) continue;
    const Point2 got = scene.Centroid(x, y, 8);
    EXPECT_NEAR(got.x, x, 0.02);
    EXPECT_NEAR(got.y, y, 0.02);
  }
  // At the start of the shot the star stood elsewhere, well over a pixel away.
  settings.time = sky::UtcInstant{2024, 1, 15, 20, 0, 0.0};
  const sky::Vec3 before = Directions(stars, settings)[0];
  double x0, y0, x1, y1;
  ASSERT_TRUE(scene.Expected(before, t, x0, y0));
  ASSERT_TRUE(scene.Expected(d[0], t, x1, y1));
  EXPECT_GT(std::hypot(x1 - x0, y1 - y0), 2.0);
}

TEST(SkyStars, BelowTheHorizonOnlyWhenAsked) {
  SkyScene scene(320, 180);
  const std::vector<CatStar> stars = {{5.9195, 7.4070, 0.5}};
  scene.UseCatalogue(stars);
  scene.Set(pb_skyframe, skyframe_observer);
  scene.Set(pb_observerlatitude, 48.2f);
  scene.SetText(pb_observertime, "2024-07-15T00:00:00Z");  // Betelgeuse at midnight in July: down
  sky::SkySettings settings;
  settings.frame = sky::SkyFrame::Observer;
  settings.latitudeDeg = 48.2f;
  settings.time = sky::UtcInstant{2024, 7, 15, 0, 0, 0.0};
  const sky::Vec3 d = Directions(stars, settings)[0];
  ASSERT_LT(d[2], 0.0);
  scene.Look(ToPoint(d));
  scene.Render(0);
  EXPECT_EQ(scene.LayerLight(), 0.0);
  scene.Set(pb_belowhorizonflag, 1);
  scene.Render(0);
  EXPECT_GT(scene.LayerLight(), 0.0);
}

// The light of one white star of magnitude m drawn at a sub-pixel offset.
double OneStarLight(int w, int h, double magnitude, double offsetDeg, TimeValue t = 0, bool panning = false) {
  SkyScene scene(w, h);
  const std::vector<CatStar> stars = {{3.0, 20.0, magnitude}};
  scene.UseCatalogue(stars);
  const sky::Vec3 d = Directions(stars, sky::SkySettings{})[0];
  const Point3 at(float(d[0] + offsetDeg * kDeg * 0.7), float(d[1] - offsetDeg * kDeg * 0.3), float(d[2]));
  scene.Look(at, t);
  if (panning) {
    // The camera turns during the motion-blur interval: the star is a streak.
    const Point3 before(at.x + 0.01f, at.y - 0.004f, at.z);
    scene.camera->SetTransformKeys({LookKey(t - GetTicksPerFrame(), {0, 0, 0}, before), LookKey(t, {0, 0, 0}, at)});
    scene.Set(pb_duration, 1.0f);
    scene.Set(pb_durationsubdivisions, 4);
  }
  scene.Render(t);
  EXPECT_TRUE(GetHostLog()->Take().empty());
  return scene.LayerLight();
}

TEST(SkyLight, AStarBringsItsMagnitudesLightAtAnyOffsetSizeAndMotion) {
  // m0 = 6 (the default): a star of magnitude 5 carries 10^0.4.
  const double want = std::pow(10.0, 0.4);
  for (double offset : {0.0, 0.011, 0.023, 0.037, 0.052}) {
    const double small = OneStarLight(480, 270, 5.0, offset);
    const double large = OneStarLight(1920, 1080, 5.0, offset);
    EXPECT_NEAR(small / want, 1.0, 1e-3) << "offset " << offset;
    EXPECT_NEAR(large / want, 1.0, 1e-3) << "offset " << offset << ", 4x the frame";
  }
  EXPECT_NEAR(OneStarLight(480, 270, 5.0, 0.003, 0, true) / want, 1.0, 1e-3) << "a motion-blurred streak";
}

TEST(SkyLight, MagnitudesGiveLightRatiosOfTenToTheMinusPointFourDm) {
  SkyScene scene(640, 360);
  const std::vector<CatStar> stars = {{6.0, 10.0, 4.0}, {6.02, 11.5, 5.7}, {5.98, 8.7, 2.3}};
  scene.UseCatalogue(stars);
  const std::vector<sky::Vec3> d = Directions(stars, sky::SkySettings{});
  scene.Look(ToPoint(d[0]));
  scene.Render(0);
  double light[3];
  for (int k = 0; k < 3; ++k) {
    double x, y;
    ASSERT_TRUE(scene.Expected(d[static_cast<size_t>(k)], 0, x, y));
    const BMM_Color_fl* l = scene.bitmap->LightLayer();
    light[k] = 0;
    for (int py = int(y) - 20; py <= int(y) + 20; ++py)
      for (int px = int(x) - 20; px <= int(x) + 20; ++px) light[k] += Luminance(l[py * scene.width() + px]);
  }
  EXPECT_NEAR(light[1] / light[0], std::pow(10.0, -0.4 * 1.7), 0.02 * std::pow(10.0, -0.4 * 1.7));
  EXPECT_NEAR(light[2] / light[0], std::pow(10.0, 0.4 * 1.7), 0.02 * std::pow(10.0, 0.4 * 1.7));
  EXPECT_NEAR(light[0], std::pow(10.0, -0.4 * (4.0 - 6.0)), 1e-3 * light[0]);
}

TEST(SkyLight, TheFrameHoldsTheLightWhileNoPixelClipsAndTheLayerBeyond) {
  SkyScene scene(480, 270);
  // Magnitude 5.5 (light 1.58) stays below full value at the minimum size;
  // magnitude -1 (light 631) clips in the frame and grows.
  const std::vector<CatStar> stars = {{3.0, 20.0, 5.5}, {3.1, 21.0, -1.0}};
  scene.UseCatalogue(stars);
  const std::vector<sky::Vec3> d = Directions(stars, sky::SkySettings{});
  scene.Look(ToPoint(d[0]));
  scene.Render(0);
  double x, y;
  ASSERT_TRUE(scene.Expected(d[0], 0, x, y));
  double frame = 0;
  const BMM_Color_64* p = scene.bitmap->Storage()->Pixels();
  for (int py = int(y) - 6; py <= int(y) + 6; ++py)
    for (int px = int(x) - 6; px <= int(x) + 6; ++px) {
      const BMM_Color_64& c = p[py * scene.width() + px];
      EXPECT_LT(c.g, 65280) << "no pixel of the faint star clips";
      frame += (0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b) / 65280.0;
    }
  EXPECT_NEAR(frame / std::pow(10.0, 0.2), 1.0, 0.01) << "the 16-bit frame, truncation included";
  // The bright one: the frame clips at full value, the layer keeps its light.
  ASSERT_TRUE(scene.Expected(d[1], 0, x, y));
  const BMM_Color_fl core = scene.bitmap->LightLayer()[int(std::lround(y)) * scene.width() + int(std::lround(x))];
  EXPECT_GT(core.g, 1.5f);
  EXPECT_EQ(p[int(std::lround(y)) * scene.width() + int(std::lround(x))].g, 65280);
  EXPECT_NEAR(scene.LayerLight() / (std::pow(10.0, 0.2) + std::pow(10.0, 2.8)), 1.0, 1e-3);
}

TEST(SkyLight, HyperspaceAndScintillationStillApply) {
  const double want = std::pow(10.0, 0.4);
  {
    SkyScene scene(480, 270);
    const std::vector<CatStar> stars = {{3.0, 20.0, 5.0}};
    scene.UseCatalogue(stars);
    scene.Look(ToPoint(Directions(stars, sky::SkySettings{})[0]) + Point3(0.02f, 0, 0));
    scene.Set(pb_hyperspaceflag, 1);
    scene.Set(pb_hyperspacedepth, 0.3f);
    scene.Render(0);
    EXPECT_GT(LitPixels(scene.Pixels()), 15) << "a streak, not a disc";
    EXPECT_NEAR(scene.LayerLight() / want, 1.0, 1e-3) << "the streak carries the star's light";
  }
  {
    SkyScene scene(480, 270);
    const std::vector<CatStar> stars = {{3.0, 20.0, 5.0}};
    scene.UseCatalogue(stars);
    scene.Look(ToPoint(Directions(stars, sky::SkySettings{})[0]));
    scene.Set(pb_scintillationflag, 1);
    scene.Set(pb_scintillationmultiplier, 0.5f);
    scene.Render(100);
    const double twinkled = scene.LayerLight();
    EXPECT_GT(twinkled, 0.45 * want);
    EXPECT_LT(twinkled, 1.01 * want) << "the multiplier only dims";
  }
}

TEST(SkyLight, TheLayerChangesNoByteOfTheFrame) {
  // Catalogue stars and generated ones, with and without the layer.
  for (int source : {starsource_generated, starsource_catalogue}) {
    std::vector<BMM_Color_64> frames[2];
    for (int layer = 0; layer < 2; ++layer) {
      SkyScene scene(320, 180);
      scene.withLayer = layer == 1;
      const std::vector<CatStar> stars = {{3.0, 20.0, 1.0}, {3.05, 20.5, 4.0}, {2.95, 19.0, 6.0}};
      scene.UseCatalogue(stars);
      scene.Set(pb_starsource, source);
      scene.Set(pb_starscount, 20000);
      scene.Look(ToPoint(Directions(stars, sky::SkySettings{})[0]));
      frames[layer] = scene.Render(0);
      ASSERT_GT(LitPixels(frames[layer]), 4);
    }
    EXPECT_TRUE(SamePixels(frames[0], frames[1])) << "source " << source;
  }
}

TEST(SkyLight, GeneratedStarsBringTheirColourTimesCoverage) {
  SkyScene scene(160, 120);
  scene.Set(pb_starsource, starsource_generated);
  scene.Set(pb_starscount, 3000);
  scene.Set(pb_drawmode, 2);  // simple additive: nothing clips over black for sparse stars
  scene.Set(pb_starsalphaflag, 0);
  const std::vector<BMM_Color_64> frame = scene.Render(0);
  // Each pixel's 16-bit value is the truncated sum of what the layer holds
  // (as long as the pixel did not clip), so they agree within a unit per
  // call that reached it.
  const BMM_Color_fl* l = scene.bitmap->LightLayer();
  double layer = 0, pixels = 0;
  for (size_t i = 0; i < frame.size(); ++i) {
    if (frame[i].g >= 65280) continue;
    layer += l[i].g;
    pixels += frame[i].g / 65280.0;
    EXPECT_LE(frame[i].g / 65280.0, l[i].g + 1e-6);
  }
  ASSERT_GT(layer, 0.1);
  EXPECT_NEAR(pixels / layer, 1.0, 0.01);
}

TEST(SkyCatalogueFile, ADamagedLineNamesTheFileAndLineAndDrawsNothing) {
  SkyScene scene(160, 120);
  const std::filesystem::path file = scene.dir / "damaged.bsc";
  WriteFile(file, "# comment\n 7.4070  5.9195  0.50 \"58Alp Ori\" 2061 39801 113271\n"
                  "-8.2016 5.24x3 0.12 \"19Bet Ori\" 1713 34085 131907\n");
  scene.SetText(pb_catalogfile, file.string());
  const std::vector<BMM_Color_64> frame = scene.Render(0);
  const std::vector<LogRecord> log = GetHostLog()->Take();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].type, SYSLOG_ERROR | SYSLOG_INPUT);
  EXPECT_NE(log[0].message.find(file.string() + ":3:"), std::string::npos) << log[0].message;
  EXPECT_EQ(LitPixels(frame), 0);
}

TEST(SkyCatalogueFile, AMissingFileNamesThePackageThatShipsIt) {
  SkyScene scene(160, 120);
  scene.SetText(pb_catalogfile, "/usr/share/kstars/no-such-stars.dat");
  scene.Render(0);
  std::vector<LogRecord> log = GetHostLog()->Take();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].type, SYSLOG_ERROR | SYSLOG_INPUT);
  EXPECT_NE(log[0].message.find("/usr/share/kstars/no-such-stars.dat: no such file"), std::string::npos)
      << log[0].message;
  EXPECT_NE(log[0].message.find("kstars-data"), std::string::npos) << log[0].message;
  scene.SetText(pb_catalogfile, "/usr/share/xplanet/stars/NOPE");
  scene.Render(0);
  log = GetHostLog()->Take();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].message.find("xplanet package"), std::string::npos) << log[0].message;
  scene.SetText(pb_catalogfile, "");
  scene.Render(0);
  log = GetHostLog()->Take();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].message.find("catalogfile is empty"), std::string::npos) << log[0].message;
  scene.SetText(pb_catalogfile, (scene.dir / "x.bsc").string());
  WriteFile(scene.dir / "x.bsc", BscText({{3.0, 20.0, 5.0}}));
  scene.SetText(pb_observertime, "2024-02-30T00:00:00Z");
  scene.Render(0);
  log = GetHostLog()->Take();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].message.rfind("observertime \"2024-02-30T00:00:00Z\": ", 0), 0u) << log[0].message;
}

TEST(SkyCatalogueFile, ReadOncePerVersionAndRelativeToTheHostsFolder) {
  SkyScene scene(160, 120);
  WriteFile(scene.dir / "cat.bsc", BscText({{3.0, 20.0, 5.0}, {3.1, 20.0, 4.0}}));
  GetFileService()->SetFolder(scene.dir.Path().string());
  scene.SetText(pb_catalogfile, "cat.bsc");
  scene.Render(0);
  ASSERT_TRUE(GetHostLog()->Take().empty());
  EXPECT_EQ(scene.fx->skyCatalogue.version(), 1u);
  EXPECT_EQ(scene.fx->skyCatalogue.stars().size(), 2u);
  EXPECT_EQ(scene.fx->skyCatalogue.stamp().path, (scene.dir / "cat.bsc").string());
  scene.Render(160);
  EXPECT_EQ(scene.fx->skyCatalogue.version(), 1u) << "the same file is not read again";
  // A new version of the file (its time and size changed) is.
  WriteFile(scene.dir / "cat.bsc", BscText({{3.0, 20.0, 5.0}, {3.1, 20.0, 4.0}, {3.2, 20.0, 3.0}}));
  std::filesystem::last_write_time(scene.dir / "cat.bsc",
                                   std::filesystem::last_write_time(scene.dir / "cat.bsc") + std::chrono::seconds(5));
  scene.Render(160);
  EXPECT_EQ(scene.fx->skyCatalogue.version(), 2u);
  EXPECT_EQ(scene.fx->skyCatalogue.stars().size(), 3u);
  // Brightest first.
  EXPECT_EQ(scene.fx->skyCatalogue.stars()[0].magnitude, 3.0f);
  EXPECT_EQ(scene.fx->skyCatalogue.CountTo(4.0f), 2u);
  GetFileService()->SetFolder({});
}

TEST(SkyCatalogueFile, TheRealCataloguesLoadWithTheirColours) {
  for (const char* path : {"/usr/share/kstars/stars.dat", "/usr/share/xplanet/stars/BSC"}) {
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
    SkyScene scene(160, 120);
    scene.SetText(pb_catalogfile, path);
    scene.Render(0);
    ASSERT_TRUE(GetHostLog()->Take().empty()) << path;
    const std::vector<SkyCatalogueStar>& stars = scene.fx->skyCatalogue.stars();
    EXPECT_GT(stars.size(), 9000u) << path;
    // Sirius first (V -1.44 in Hipparcos, -1.46 in the Yale catalogue).
    EXPECT_NEAR(stars[0].magnitude, -1.45f, 0.015f) << path;
    const bool coloured = std::string(path).find("kstars") != std::string::npos;
    if (coloured) {
      // Arcturus (B-V 1.24) is orange: red above blue.
      bool found = false;
      for (const SkyCatalogueStar& s : stars)
        if (std::fabs(s.magnitude + 0.05f) < 1e-3f) {
          found = true;
          EXPECT_GT(s.hue.r, s.hue.b);
        }
      EXPECT_TRUE(found);
    } else {
      EXPECT_EQ(stars[0].hue, (BMM_Color_64{65280, 65280, 65280, 0})) << "no B-V: white";
    }
  }
}

TEST(SkyParams, TheSkysSettingsAtTheirDefaultsLeaveAGeneratedSceneAsItWas) {
  // Every sky setting changed while the source stays "Generated": the same
  // bytes as the defaults give.
  SkyScene a(320, 180), b(320, 180);
  for (SkyScene* s : {&a, &b}) {
    s->Set(pb_starsource, starsource_generated);
    s->withLayer = false;
  }
  b.SetText(pb_catalogfile, "/no/such/file");
  b.SetText(pb_observertime, "not a time");
  b.Set(pb_skyframe, skyframe_observer);
  b.Set(pb_magnitudelimit, 2.0f);
  b.Set(pb_magnitudezero, -3.0f);
  b.Set(pb_starminsize, 7.0f);
  b.Set(pb_refractionflag, 1);
  const std::vector<BMM_Color_64> pa = a.Render(0), pb = b.Render(0);
  EXPECT_TRUE(GetHostLog()->Take().empty());
  ASSERT_GT(LitPixels(pa), 10);
  EXPECT_TRUE(SamePixels(pa, pb));
}

TEST(SkySize, FaintStarsKeepTheMinimumSizeAndBrightOnesGrow) {
  const float r0 = 1.5f;
  const double full = std::numbers::pi * (r0 * r0 - r0 + 1.0 / 3.0);  // what the minimum disc holds at full value
  EXPECT_EQ(StarRadius(0.001, r0, 0.25f), r0);
  EXPECT_EQ(StarRadius(full, r0, 0.25f), r0);
  EXPECT_NEAR(StarRadius(16 * full, r0, 0.25f), 2 * r0, 1e-5);
  EXPECT_NEAR(StarRadius(16 * full, r0, 0.5f), 4 * r0, 1e-5);
  EXPECT_EQ(StarRadius(16 * full, r0, 0.0f), r0) << "no growth";
  EXPECT_EQ(StarRadius(1e30, r0, 0.5f), kMaxStarRadius);
  // Below radius 1 the disc's integral is pi r^3 / 3.
  EXPECT_EQ(StarRadius(std::numbers::pi * 0.125 / 3 * 0.99, 0.5f, 0.5f), 0.5f);
  EXPECT_GT(StarRadius(std::numbers::pi * 0.125 / 3 * 1.01, 0.5f, 0.5f), 0.5f);
  // Alpha follows the light below full value.
  EXPECT_EQ(StarAlpha(65280, 2.0f), 65280);
  EXPECT_EQ(StarAlpha(65280, 0.25f), 16320);
  EXPECT_EQ(StarAlpha(32640, 0.5f), 16320);
}

TEST(SkyTime, SecondsAfterAnInstantCarryThroughTheCalendar) {
  const auto at = [](sky::UtcInstant t, double s) { return sky::FormatUtc(AddSeconds(t, s)); };
  EXPECT_EQ(at({2023, 12, 31, 23, 59, 59.5}, 1.0), "2024-01-01T00:00:00.5Z");
  EXPECT_EQ(at({2024, 2, 28, 12, 0, 0}, 86400.0), "2024-02-29T12:00:00Z");
  EXPECT_EQ(at({2023, 2, 28, 12, 0, 0}, 86400.0), "2023-03-01T12:00:00Z");
  EXPECT_EQ(at({2000, 1, 1, 0, 0, 10}, -20.0), "1999-12-31T23:59:50Z");
  EXPECT_EQ(at({2024, 3, 20, 21, 30, 0}, 3600.25), "2024-03-20T22:30:00.25Z");
  // Frame 0 keeps the instant as written, a leap second included.
  EXPECT_EQ(at({2016, 12, 31, 23, 59, 60.5}, 0.0), "2016-12-31T23:59:60.5Z");
}

}  // namespace

namespace {

// What a catalogue pass leaves: the frame and the layer.
struct SkyFrame {
  std::vector<BMM_Color_64> pixels;
  std::vector<BMM_Color_fl> light;
};

SkyFrame RenderOrion(int threads, bool panning) {
  GrantRenderThreads(threads);
  SkyScene scene(640, 360);
  scene.SetText(pb_catalogfile, "/usr/share/xplanet/stars/BSC");
  scene.Set(pb_magnitudelimit, 6.0f);
  const Point3 at(0.08f, 1, -0.03f);
  const TimeValue tpf = GetTicksPerFrame();
  if (panning) {
    scene.camera->SetTransformKeys({LookKey(-tpf, {0, 0, 0}, {0.13f, 1, -0.01f}), LookKey(0, {0, 0, 0}, at)});
    scene.Set(pb_durationsubdivisions, 3);
  } else {
    scene.Look(at);
  }
  SkyFrame f;
  f.pixels = scene.Render(0);
  f.light.assign(scene.bitmap->LightLayer(), scene.bitmap->LightLayer() + 640 * 360);
  GrantRenderThreads(0);
  return f;
}

TEST(SkyStars, TheParallelLoopDrawsWhatTheSerialLoopDraws) {
  if (!std::filesystem::exists("/usr/share/xplanet/stars/BSC")) GTEST_SKIP() << "xplanet is not installed";
  for (bool panning : {false, true}) {
    const SkyFrame serial = RenderOrion(0, panning);
    const SkyFrame parallel = RenderOrion(2, panning);
    ASSERT_GT(LitPixels(serial.pixels), 100);
    EXPECT_TRUE(SamePixels(serial.pixels, parallel.pixels)) << (panning ? "panning" : "still");
    EXPECT_EQ(std::memcmp(serial.light.data(), parallel.light.data(), serial.light.size() * sizeof(BMM_Color_fl)), 0)
        << (panning ? "panning" : "still");
  }
}

}  // namespace
