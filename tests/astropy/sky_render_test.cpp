// The real sky through the velumbra command, against astropy (Debian's
// python3-astropy, run offline by sky_positions.py): catalogue stars
// rendered for observers at three places and times and in the celestial
// frame, with a 30 degree and a 60 degree lens on 1920 x 1080 frames, must
// sit within 0.1 px of where astropy sees them through the same camera;
// and the light each star carries in the OpenEXR stars.* layer must follow
// the magnitudes (10^(-0.4 dm)), the contract's absolute scale and not
// depend on the frame size.
//
// One astropy process answers for every render (its start is most of the
// time), made once for the suite.
#include <gtest/gtest.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/run_command.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char* const kCatalogue = "/usr/share/kstars/stars.dat";
constexpr double kMagnitudeLimit = 4.5;  // the faintest star drawn
constexpr double kMagnitudeZero = 1.0;   // a star of magnitude 1 carries light 1.0
constexpr double kMeasuredBrighterThan = 4.0;
constexpr int kWindow = 8;      // the half width of a star's measuring window, px
constexpr double kAlone = 20;   // no other star within this many px

// One shot: an observer (or the celestial frame), a time, a lens and where
// the camera at the origin looks. UT1-UTC is the IERS value of the date,
// the same for both sides.
struct Shot {
  const char* name;
  bool observer;
  const char* utc;
  double ut1MinusUtc;
  double latitude, longitude, height;
  double fov;
  double target[3];
};

const Shot kShots[] = {
    // Orion over Greenwich on a January night.
    {"greenwich", true, "2021-01-15T22:00:00Z", -0.1721, 51.4779, -0.0015, 46, 30, {0.05, -0.85, 0.5}},
    // Crux and Centaurus high over Sydney.
    {"sydney", true, "2019-05-10T12:00:00Z", -0.1561, -33.8688, 151.2093, 50, 60, {0.0, -1.0, 1.0}},
    // Scorpius from Mauna Kea, 4205 m up.
    {"maunakea", true, "2016-08-20T08:00:00Z", -0.2366, 19.8207, -155.4681, 4205, 30, {-0.35, -1.0, 0.55}},
    // The Plough in ICRS axes, proper motion to mid-2022.
    {"plough", false, "2022-06-01T00:00:00Z", -0.0959, 0, 0, 0, 60, {-0.55, 0.15, 0.82}},
};

std::string SceneOf(const Shot& s, const std::string& size) {
  json params = {{"starsource", 1},
                 {"catalogfile", kCatalogue},
                 {"skyframe", s.observer ? 1 : 0},
                 {"observertime", s.utc},
                 {"ut1minusutc", s.ut1MinusUtc},
                 {"magnitudelimit", kMagnitudeLimit},
                 {"magnitudezero", kMagnitudeZero},
                 {"duration", 0}};
  if (s.observer) {
    params["observerlatitude"] = s.latitude;
    params["observerlongitude"] = s.longitude;
    params["observerheight"] = s.height;
  }
  const size_t x = size.find('x');
  json scene = {{"render", {{"width", std::stoi(size.substr(0, x))}, {"height", std::stoi(size.substr(x + 1))}}},
                {"nodes", json::array({{{"name", "Camera"},
                                        {"type", "camera"},
                                        {"fov", s.fov},
                                        {"position", {0, 0, 0}},
                                        {"target", {s.target[0], s.target[1], s.target[2]}}}})},
                {"effects", json::array({{{"class", "Qe_Velumbra"}, {"name", "Sky"}, {"params", params}}})}};
  return scene.dump(1);
}

// The stars.* layer of an OpenEXR file as luminance (Rec. 709), and its size.
struct LightImage {
  int width = 0, height = 0;
  std::vector<double> luminance;
  double At(int x, int y) const { return luminance[size_t(y) * size_t(width) + size_t(x)]; }
};

LightImage ReadLight(const fs::path& file) {
  Imf::InputFile in(file.c_str());
  const Imath::Box2i w = in.header().dataWindow();
  LightImage image;
  image.width = w.max.x - w.min.x + 1;
  image.height = w.max.y - w.min.y + 1;
  const size_t n = size_t(image.width) * size_t(image.height);
  std::vector<float> r(n), g(n), b(n);
  Imf::FrameBuffer fb;
  const auto slice = [&](std::vector<float>& v) {
    return Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(v.data()) - (w.min.x + size_t(w.min.y) * image.width) * 4,
                      sizeof(float), sizeof(float) * size_t(image.width));
  };
  fb.insert("stars.R", slice(r));
  fb.insert("stars.G", slice(g));
  fb.insert("stars.B", slice(b));
  in.setFrameBuffer(fb);
  in.readPixels(w.min.y, w.max.y);
  image.luminance.resize(n);
  for (size_t i = 0; i < n; ++i) image.luminance[i] = 0.2126 * r[i] + 0.7152 * g[i] + 0.0722 * b[i];
  return image;
}

// A star as astropy places it, and as measured in the light layer.
struct Star {
  int line = 0;
  double magnitude = 0, x = 0, y = 0;  // astropy
  double cx = 0, cy = 0, light = 0;    // measured: centroid, summed luminance
};

// The isolated stars brighter than kMeasuredBrighterThan well inside the
// frame, measured in `image` around astropy's place.
std::vector<Star> MeasureIsolated(const json& stars, const LightImage& image) {
  std::vector<Star> out;
  for (const json& s : stars) {
    Star star{s["line"].get<int>(), s["magnitude"].get<double>(), s["x"].get<double>(), s["y"].get<double>()};
    if (star.magnitude >= kMeasuredBrighterThan) continue;
    if (star.x < kAlone || star.y < kAlone || star.x > image.width - 1 - kAlone || star.y > image.height - 1 - kAlone)
      continue;
    bool alone = true;
    for (const json& o : stars)
      if (o["line"] != s["line"] &&
          std::hypot(o["x"].get<double>() - star.x, o["y"].get<double>() - star.y) < kAlone)
        alone = false;
    if (!alone) continue;
    const int x0 = int(std::lround(star.x)), y0 = int(std::lround(star.y));
    double sum = 0, sx = 0, sy = 0;
    for (int y = y0 - kWindow; y <= y0 + kWindow; ++y)
      for (int x = x0 - kWindow; x <= x0 + kWindow; ++x) {
        const double v = image.At(x, y);
        sum += v;
        sx += v * x;
        sy += v * y;
      }
    if (!(sum > 0)) continue;  // reported by the caller: a star astropy sees that was not drawn
    star.cx = sx / sum;
    star.cy = sy / sum;
    star.light = sum;
    out.push_back(star);
  }
  return out;
}

// Every shot rendered once (1920 x 1080, and the Sydney shot at a quarter
// of that size too), and astropy's answer for all of them.
class SkyRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    json request = {{"catalogue", kCatalogue}, {"magnitudeLimit", kMagnitudeLimit + 0.5}, {"cases", json::array()}};
    std::vector<std::pair<const Shot*, std::string>> renders;
    for (const Shot& s : kShots) renders.emplace_back(&s, "1920x1080");
    renders.emplace_back(&kShots[1], "480x270");
    for (const auto& [shot, size] : renders) {
      const std::string name = std::string(shot->name) + "-" + size;
      std::ofstream(*dir_ / (name + ".json")) << SceneOf(*shot, size);
      const CommandResult r = RunVelumbra({"render", name + ".json", "-o", name + ".exr", "-q"}, dir_->Path(),
                                          dir_->Path());
      if (r.status != 0) {
        failure_ = "velumbra render " + name + ".json: exit " + std::to_string(r.status) + ": " + r.err;
        return;
      }
      const size_t x = size.find('x');
      request["cases"].push_back({{"frame", shot->observer ? "observer" : "celestial"},
                                  {"utc", shot->utc},
                                  {"ut1MinusUtc", shot->ut1MinusUtc},
                                  {"latitude", shot->latitude},
                                  {"longitude", shot->longitude},
                                  {"height", shot->height},
                                  {"width", std::stoi(size.substr(0, x))},
                                  {"imageHeight", std::stoi(size.substr(x + 1))},
                                  {"fov", shot->fov},
                                  {"target", {shot->target[0], shot->target[1], shot->target[2]}}});
      names_.push_back(name);
    }
    std::ofstream(*dir_ / "request.json") << request.dump();
    const ProgramResult oracle = RunProgram({"/usr/bin/python3", (SourceDir() / "tests/astropy/sky_positions.py").string(),
                                             (*dir_ / "request.json").string()});
    if (oracle.status != 0) {
      failure_ = "sky_positions.py (astropy): exit " + std::to_string(oracle.status) + ": " + oracle.err;
      return;
    }
    answer_ = json::parse(oracle.out);
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override { ASSERT_TRUE(failure_.empty()) << failure_; }

  // The measured stars of render `name` ("sydney-1920x1080").
  static std::vector<Star> Measured(const std::string& name) {
    const size_t i = size_t(std::find(names_.begin(), names_.end(), name) - names_.begin());
    return MeasureIsolated(answer_["cases"][i]["stars"], ReadLight(*dir_ / (name + ".exr")));
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string failure_;
  static inline std::vector<std::string> names_;
  static inline json answer_;
};

TEST_F(SkyRender, BrightIsolatedStarsLieWithinATenthOfAPixelOfAstropysPlaces) {
  double worst = 0, sumSquares = 0;
  int count = 0;
  for (const Shot& s : kShots) {
    const std::string name = std::string(s.name) + "-1920x1080";
    SCOPED_TRACE(name);
    const std::vector<Star> stars = Measured(name);
    // Each shot was aimed at a field of such stars: a render that drew
    // none, or elsewhere, fails here rather than passing empty.
    EXPECT_GE(stars.size(), 5u);
    double shotWorst = 0;
    for (const Star& star : stars) shotWorst = std::max(shotWorst, std::hypot(star.cx - star.x, star.cy - star.y));
    std::printf("  %s: %zu stars, worst %.4f px\n", name.c_str(), stars.size(), shotWorst);
    for (const Star& star : stars) {
      const double d = std::hypot(star.cx - star.x, star.cy - star.y);
      EXPECT_LT(d, 0.1) << "catalogue line " << star.line << " (magnitude " << star.magnitude << "): measured ("
                        << star.cx << ", " << star.cy << "), astropy (" << star.x << ", " << star.y << ")";
      worst = std::max(worst, d);
      sumSquares += d * d;
      ++count;
    }
  }
  std::printf("sky positions against astropy: %d stars, rms %.4f px, worst %.4f px\n", count,
              count ? std::sqrt(sumSquares / count) : 0.0, worst);
}

TEST_F(SkyRender, EachStarCarriesTheLightOfItsMagnitude) {
  const std::vector<Star> stars = Measured("sydney-1920x1080");
  ASSERT_GE(stars.size(), 5u);
  // The contract's absolute scale: 10^(-0.4 (m - m0)), the summed
  // luminance in frame units (1.0 = file white).
  double worst = 0;
  for (const Star& star : stars) {
    const double expected = std::pow(10.0, -0.4 * (star.magnitude - kMagnitudeZero));
    EXPECT_NEAR(star.light, expected, 0.01 * expected)
        << "catalogue line " << star.line << " (magnitude " << star.magnitude << ")";
    worst = std::max(worst, std::fabs(star.light / expected - 1.0));
  }
  std::printf("star light against 10^(-0.4 (m - m0)): %zu stars, worst %.3f %%\n", stars.size(), 100 * worst);
  // Between stars: the ratio of two stars' light is 10^(-0.4 dm), for
  // every pair at least half a magnitude apart.
  int pairs = 0;
  for (const Star& a : stars)
    for (const Star& b : stars) {
      const double dm = b.magnitude - a.magnitude;
      if (dm < 0.5) continue;
      ++pairs;
      EXPECT_NEAR(b.light / a.light, std::pow(10.0, -0.4 * dm), 0.02 * std::pow(10.0, -0.4 * dm))
          << "lines " << a.line << " and " << b.line << ", dm " << dm;
    }
  EXPECT_GT(pairs, 0);
}

TEST_F(SkyRender, AStarsLightIsTheSameAtFourTimesTheFrameSize) {
  const std::vector<Star> small = Measured("sydney-480x270");
  const std::vector<Star> large = Measured("sydney-1920x1080");
  int compared = 0;
  double worst = 0;
  for (const Star& s : small)
    for (const Star& l : large)
      if (s.line == l.line) {
        ++compared;
        EXPECT_NEAR(l.light, s.light, 0.01 * s.light) << "catalogue line " << s.line << " (magnitude " << s.magnitude
                                                      << ")";
        worst = std::max(worst, std::fabs(l.light / s.light - 1.0));
      }
  EXPECT_GE(compared, 3);
  std::printf("star light at 480 x 270 and 1920 x 1080: %d stars, worst %.3f %%\n", compared, 100 * worst);
}

}  // namespace
