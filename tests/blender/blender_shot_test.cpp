// The command against a real 3D application: Debian's Blender renders a
// small panning shot (tests/blender/make_shot.py) and projects the star
// directions `velumbra stars` gives with its own world_to_camera_view; the
// command then composites the frames, and the stars must sit where Blender
// puts them, through each way the shot's camera comes in.
#include <gtest/gtest.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfFrameBuffer.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/run_command.h"
#include "host/app/image/exr_io.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kFrames[] = {1, 2, 3};

// Small, bright, still stars: a disc's centroid is its centre.
const char* const kParams =
    R"("starscount": 1500, "seed": 11, "duration": 0, "brightstarssize": 1.5, "dimstarssize": 1.5,
       "brightstarscolor": [1, 1, 1], "dimstarscolor": [1, 1, 1])";

fs::path ShotDir() { return BuildDir() / "blender" / "shot"; }
fs::path AddonDir() { return BuildDir() / "blender" / "addon"; }

// Runs a program (no shell) with output to files in `logDir`; the exit status.
int RunProgram(const std::vector<std::string>& argv, const fs::path& logDir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open((logDir / "program.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) ::_exit(127);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> cargv;
    for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    ::execvp(cargv[0], cargv.data());
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

// Blender's projection of one star at one frame, in pixels of [0, W].
struct Projected {
  int index;
  double x, y;
};

// Makes a shot in `dir` once per build folder: again only when the stars,
// the script or the add-on changed (the tests share it; CTest runs them one
// at a time). `extra` are make_shot.py's further arguments.
void MakeShot(const fs::path& dir, const std::vector<std::string>& extra, const std::string& addonKey = "") {
  fs::create_directories(dir);
  // The stars' directions do not depend on the camera.
  WriteText(dir / "stars.json",
            std::string(R"({"render": {"width": 320, "height": 180}, "nodes": [{"name": "c", "type": "camera"}], )") +
                R"("effects": [{"class": "Qe_Velumbra", "params": {)" + kParams + "}}]}");
  const CommandResult stars = RunVelumbra({"stars", "stars.json"}, dir, dir);
  ASSERT_EQ(stars.status, 0) << stars.err;
  const fs::path script = SourceDir() / "tests/blender/make_shot.py";
  const std::string key = stars.out + Slurp(script) + addonKey;
  if (Slurp(dir / "made.key") == key && fs::exists(dir / "shot_0002.exr")) return;
  fs::remove(dir / "made.key");
  WriteText(dir / "stars.csv", stars.out);
  std::vector<std::string> argv{"blender", "-b", "--factory-startup", "--python", script.string(), "--",
                                dir.string(), (dir / "stars.csv").string()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  const int status = RunProgram(argv, dir);
  ASSERT_EQ(status, 0) << "blender failed:\n" << Slurp(dir / "program.out");
  WriteText(dir / "made.key", key);
}

class BlenderShot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { MakeShot(ShotDir(), {}); }

  virtual fs::path Dir() const { return ShotDir(); }

  void SetUp() override {
    if (HasFatalFailure()) GTEST_SKIP();
    camera_ = json::parse(Slurp(Dir() / "camera.json"));
    std::istringstream csv(Slurp(Dir() / "projection.csv"));
    std::string line;
    std::getline(csv, line);
    while (std::getline(csv, line)) {
      int frame = 0, index = 0;
      double x = 0, y = 0;
      if (std::sscanf(line.c_str(), "%d,%d,%lf,%lf", &frame, &index, &x, &y) == 4)
        projection_[frame].push_back({index, x, y});
    }
  }

  // Renders `scene` (written to the shot folder as `name`.json) with extra
  // arguments; the outputs are `name`_####.exr.
  void Render(const std::string& name, const std::string& scene, std::vector<std::string> extra = {}) {
    if (!scene.empty()) WriteText(Dir() / (name + ".json"), scene);
    const std::string frames = "1-" + std::to_string(camera_["frames"].size());
    std::vector<std::string> args{"render", name + ".json", "-f", frames, "-o", name + "_####.exr", "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult run = RunVelumbra(args, Dir(), Dir());
    ASSERT_EQ(run.status, 0) << run.err;
  }

  std::string Effect(const std::string& moreParams = "") const {
    return std::string(R"("effects": [{"class": "Qe_Velumbra", "params": {)") + kParams + moreParams + "}}]";
  }

  // The mean offset (x, y) of the star centroids in `name`_####.exr from
  // Blender's projection, over isolated stars on the open sky; at least
  // `minStars` per frame.
  std::pair<double, double> MeanOffset(const std::string& name, size_t minStars = 10) {
    double sx = 0, sy = 0;
    size_t n = 0;
    for (const auto& [frame, stars] : projection_) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "_%04d.exr", frame);
      const velumbra::ExrFrame in =
          velumbra::ExrReader(Dir() / ("shot" + std::string(suffix))).ReadFrame("ViewLayer.IndexOB.X", "");
      const velumbra::ExrRgbaImage out = velumbra::ExrReader(Dir() / (name + suffix)).ReadRgba();
      const int w = in.image.width, h = in.image.height;
      const auto light = [&](int x, int y) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        const auto& o = out.floats[i];
        const auto& s = in.image.floats[i];
        return double(o.r - s.r) + double(o.g - s.g) + double(o.b - s.b);
      };
      size_t frameStars = 0;
      for (const Projected& p : stars) {
        // The host's pixel coordinates: pixel i centred at i.
        const double ex = p.x - 0.5, ey = p.y - 0.5;
        constexpr int kR = 3;
        const int cx = int(std::lround(ex)), cy = int(std::lround(ey));
        if (cx - kR < 0 || cy - kR < 0 || cx + kR >= w || cy + kR >= h) continue;
        bool alone = true;
        for (const Projected& q : stars)
          if (q.index != p.index && std::hypot(q.x - p.x, q.y - p.y) < 3.0 * kR) alone = false;
        bool sky = true;
        for (int y = cy - kR; y <= cy + kR; ++y)
          for (int x = cx - kR; x <= cx + kR; ++x)
            sky = sky && in.objectIds->values[size_t(y) * size_t(w) + size_t(x)] == 0 &&
                  in.image.floats[size_t(y) * size_t(w) + size_t(x)].a == 0.0f;
        if (!alone || !sky) continue;
        double total = 0, mx = 0, my = 0;
        for (int y = cy - kR; y <= cy + kR; ++y)
          for (int x = cx - kR; x <= cx + kR; ++x) {
            const double l = light(x, y);
            total += l, mx += l * x, my += l * y;
          }
        if (!(total > 0)) continue;
        sx += mx / total - ex;
        sy += my / total - ey;
        ++n, ++frameStars;
      }
      EXPECT_GE(frameStars, minStars) << name << " frame " << frame;
    }
    EXPECT_GT(n, 0u);
    std::printf("%s: mean centroid offset from Blender's projection over %zu stars: x %+.4f px, y %+.4f px\n",
                name.c_str(), n, sx / double(n), sy / double(n));
    return {sx / double(n), sy / double(n)};
  }

  json camera_;
  std::map<int, std::vector<Projected>> projection_;
};

TEST_F(BlenderShot, MatrixKeysPutTheStarsOnBlendersProjection) {
  // The camera typed in: Blender's world matrix as keys, its horizontal fov;
  // the frames through an --input pattern.
  json keys = json::array();
  for (const json& f : camera_["frames"]) keys.push_back({{"frame", f["frame"]}, {"matrix", f["matrix"]}, {"fov", f["fov"]}});
  const std::string scene = R"({"fps": 24, "render": {"width": 320, "height": 180}, "nodes": [)"
                            R"({"name": "Camera", "type": "camera", "keys": )" + keys.dump() + "}], " + Effect() + "}";
  Render("matrix", scene, {"--input", "shot_####.exr"});
  const auto [dx, dy] = MeanOffset("matrix");
  EXPECT_LT(std::fabs(dx), 0.05);
  EXPECT_LT(std::fabs(dy), 0.05);
}

TEST_F(BlenderShot, ChanCameraPutsTheStarsOnBlendersProjection) {
  // The camera from Blender's own .chan exporter, the fov from the file;
  // the frames through render.image with a printf pattern.
  const std::string scene = R"({"fps": 24, "render": {"width": 320, "height": 180, "image": "shot_%04d.exr"},)"
                            R"( "nodes": [{"name": "Camera", "type": "camera", "chan": {"file": "cam.chan"}}], )" +
                            Effect() + "}";
  Render("chan", scene);
  const auto [dx, dy] = MeanOffset("chan");
  EXPECT_LT(std::fabs(dx), 0.05);
  EXPECT_LT(std::fabs(dy), 0.05);
}

// Every channel of an EXR's first part, as stored (bytes per sample).
std::map<std::string, std::pair<Imf::PixelType, std::vector<char>>> Channels(const fs::path& file,
                                                                             Imf::Header* header = nullptr) {
  Imf::InputFile in(file.c_str());
  if (header) *header = in.header();
  const Imath::Box2i dw = in.header().dataWindow();
  const size_t w = size_t(dw.max.x - dw.min.x + 1), h = size_t(dw.max.y - dw.min.y + 1);
  std::map<std::string, std::pair<Imf::PixelType, std::vector<char>>> out;
  Imf::FrameBuffer fb;
  for (auto it = in.header().channels().begin(); it != in.header().channels().end(); ++it) {
    const size_t size = it.channel().type == Imf::HALF ? 2 : 4;
    auto& [type, bytes] = out[it.name()];
    type = it.channel().type;
    bytes.assign(w * h * size, 0);
    fb.insert(it.name(), Imf::Slice::Make(type, bytes.data(), dw, size, size * w));
  }
  in.setFrameBuffer(fb);
  in.readPixels(dw.min.y, dw.max.y);
  return out;
}

TEST_F(BlenderShot, EveryPassComesThroughAndTheStarsAreInTheCombinedLayer) {
  const std::string scene = R"({"fps": 24, "render": {"width": 320, "height": 180, "image": "shot_####.exr"},)"
                            R"( "nodes": [{"name": "Camera", "type": "camera", "chan": {"file": "cam.chan"}}], )" +
                            Effect() + "}";
  Render("passes", scene);
  for (int frame : kFrames) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%04d.exr", frame);
    Imf::Header inHeader, outHeader;
    const auto in = Channels(ShotDir() / ("shot" + std::string(suffix)), &inHeader);
    const auto out = Channels(ShotDir() / ("passes" + std::string(suffix)), &outHeader);
    ASSERT_TRUE(in.count("ViewLayer.Combined.R") && in.count("ViewLayer.IndexOB.X") && in.count("ViewLayer.IndexMA.X"));
    // The same channels, no others: the IDs went back into their own.
    std::vector<std::string> inNames, outNames;
    for (const auto& [name, _] : in) inNames.push_back(name);
    for (const auto& [name, _] : out) outNames.push_back(name);
    EXPECT_EQ(outNames, inNames);
    for (const auto& [name, value] : in) {
      const auto& [type, bytes] = value;
      ASSERT_TRUE(out.count(name)) << name;
      EXPECT_EQ(out.at(name).first, type) << name;
      if (name.rfind("ViewLayer.Combined.", 0) == 0) {
        if (name != "ViewLayer.Combined.A") {
          EXPECT_NE(out.at(name).second, bytes) << name << ": no stars painted";
        }
      } else if (name.find("Index") == std::string::npos) {
        EXPECT_EQ(out.at(name).second, bytes) << name << " changed";
      }
    }
    // Every attribute of the input is there, with the same type.
    for (auto it = inHeader.begin(); it != inHeader.end(); ++it) {
      const auto found = outHeader.find(it.name());
      ASSERT_NE(found, outHeader.end()) << it.name();
      EXPECT_STREQ(found.attribute().typeName(), it.attribute().typeName()) << it.name();
    }
    EXPECT_EQ(outHeader.dataWindow(), inHeader.dataWindow());
    EXPECT_EQ(outHeader.compression(), inHeader.compression());
  }
}

TEST_F(BlenderShot, AnObjectIndexMaskKeepsTheStarsOffTheObject) {
  // Stars drawn only where the object index is 0 (the sky), against the
  // same stars unmasked, some of which fall on the sphere (index 7).
  const auto scene = [&](const std::string& more) {
    return R"({"fps": 24, "render": {"width": 320, "height": 180, "image": "shot_####.exr"},)"
           R"( "nodes": [{"name": "Camera", "type": "camera", "chan": {"file": "cam.chan"}}], )" +
           Effect(more) + "}";
  };
  // Simple Additive: stars over the opaque sphere too, unless masked.
  Render("mask", scene(R"(, "drawmode": 2, "bakobjectidflag": 1, "bakobjectid": 0)"));
  Render("unmasked", scene(R"(, "drawmode": 2)"));
  std::map<std::string, size_t> onSphere, onSky;
  size_t spherePixels = 0;
  for (int frame : kFrames) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%04d.exr", frame);
    const velumbra::ExrFrame in =
        velumbra::ExrReader(ShotDir() / ("shot" + std::string(suffix))).ReadFrame("ViewLayer.IndexOB.X", "");
    for (const std::string name : {"mask", "unmasked"}) {
      const velumbra::ExrRgbaImage out = velumbra::ExrReader(ShotDir() / (name + suffix)).ReadRgba();
      for (size_t i = 0; i < out.floats.size(); ++i) {
        // Floats, not the 16-bit frame: a star on a lit part of the sphere
        // (beyond 1.0) adds light the clamped 16-bit values cannot show.
        const velumbra::FloatRgba& a = out.floats[i];
        const velumbra::FloatRgba& b = in.image.floats[i];
        const bool changed = a.r != b.r || a.g != b.g || a.b != b.b || a.a != b.a;
        if (in.objectIds->values[i] == 7) {
          spherePixels += name == "mask";
          onSphere[name] += changed;
        } else {
          onSky[name] += changed;
        }
      }
    }
  }
  EXPECT_GT(spherePixels, 500u) << "the sphere is in view";
  EXPECT_GT(onSphere["unmasked"], 0u) << "no star falls on the sphere: the test proves nothing";
  EXPECT_EQ(onSphere["mask"], 0u);
  EXPECT_EQ(onSky["mask"], onSky["unmasked"]);
}

}  // namespace

namespace {

// The add-on (integrations/blender/qe_velumbra), installed by path into
// Blender: a two-frame panning shot with a lens shift of 0.1, exported by
// the add-on and rendered with "Render with stars" on; then each output
// format the add-on accepts, a velumbra that hangs and a flattened camera
// in the same Blender session (make_shot.py).
class BlenderAddon : public BlenderShot {
 protected:
  static void SetUpTestSuite() {
    const fs::path addon = SourceDir() / "integrations/blender";
    std::string key;
    for (const char* file : {"__init__.py", "effect_block.py", "scene_export.py", "render_hook.py"})
      key += Slurp(addon / "qe_velumbra" / file);
    // The frames "Render with stars" wrote came from the command and module
    // built then: a rebuilt one makes them again.
    for (const char* built : {"velumbra", "Qe_Velumbra.dlv"}) {
      std::error_code ec;
      const auto stamp = fs::last_write_time(BuildDir() / built, ec);
      key += std::to_string(ec ? 0 : stamp.time_since_epoch().count());
    }
    MakeShot(AddonDir(), {"0.1", "0", addon.string(), (BuildDir() / "velumbra").string()}, key);
  }
  fs::path Dir() const override { return AddonDir(); }
};

TEST_F(BlenderAddon, RegistersAndReportsAWrongVelumbraPath) {
  const json result = json::parse(Slurp(AddonDir() / "addon_result.json"));
  EXPECT_TRUE(result["registered"].get<bool>());
  EXPECT_TRUE(result["errors"].empty()) << result["errors"].dump();
  ASSERT_TRUE(result["wrong_binary"].is_string()) << "a wrong velumbra path went unreported";
  EXPECT_NE(result["wrong_binary"].get<std::string>().find("cannot run the velumbra command"), std::string::npos)
      << result["wrong_binary"];
}

TEST_F(BlenderAddon, TheExportedSceneWithALensShiftPutsTheStarsOnBlendersProjection) {
  const json scene = json::parse(Slurp(AddonDir() / "addon.json"));
  EXPECT_NEAR(scene["nodes"][0]["keys"][0]["shift"][0].get<double>(), 0.1, 1e-6);  // Blender keeps floats
  Render("addon", "");
  const auto [dx, dy] = MeanOffset("addon");
  EXPECT_LT(std::fabs(dx), 0.05);
  EXPECT_LT(std::fabs(dy), 0.05);
}

TEST_F(BlenderAddon, RenderWithStarsWritesWhatTheCommandWritesByHand) {
  Render("addon", "");
  for (int frame : {1, 2}) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d", frame);
    const std::string byAddon = Slurp(AddonDir() / ("shot_" + std::string(name) + "_stars.exr"));
    ASSERT_FALSE(byAddon.empty()) << "frame " << frame << " was not composited";
    EXPECT_TRUE(byAddon == Slurp(AddonDir() / ("addon_" + std::string(name) + ".exr"))) << "frame " << frame;
  }
}

TEST_F(BlenderAddon, EveryAcceptedFormatIsCompositedAsTheCommandDoesByHand) {
  // Blender replaces only the last '#' run of v#2_shot_### in take#1/; the
  // view layer "View:Layer" puts a colon into the ID channels' names.
  const json result = json::parse(Slurp(AddonDir() / "addon_result.json"));
  const json& variants = result["variants"];
  ASSERT_EQ(variants.size(), 5u);
  // One velumbra render per Blender render, over both frames.
  std::vector<std::string> renders;
  for (const json& run : result["runs"])
    if (run.get<std::string>().rfind("render ", 0) == 0) renders.push_back(run);
  ASSERT_EQ(renders.size(), 5u) << result["runs"].dump();
  for (const std::string& run : renders) EXPECT_NE(run.find(" -f 1-2 "), std::string::npos) << run;
  for (const auto& [name, v] : variants.items()) {
    SCOPED_TRACE(name);
    const fs::path dir = AddonDir() / "variants" / name;
    EXPECT_TRUE(v["errors"].empty()) << v["errors"].dump();
    const std::string ext = name == "exr" || name == "layers" ? ".exr" : ".png";
    const json scene = json::parse(Slurp(dir / (name + ".json")));
    EXPECT_EQ(scene["render"]["image"], "take%#1/v%#2_shot_###" + ext);
    if (name == "layers") {
      EXPECT_EQ(scene["render"]["objectId"], "take%#1/v%#2_shot_###.exr:View:Layer.IndexOB.X");
    }
    EXPECT_EQ(v["frames"][0], "take#1/v#2_shot_001" + ext);
    EXPECT_EQ(v["composited"][1], "take#1/v#2_shot_002_stars" + ext);
    const CommandResult byHand =
        RunVelumbra({"render", name + ".json", "-f", "1-2", "-o", "hand_####" + ext, "-q"}, dir, dir);
    ASSERT_EQ(byHand.status, 0) << byHand.err;
    for (size_t i = 0; i < 2; ++i) {
      const std::string composited = Slurp(dir / v["composited"][i].get<std::string>());
      ASSERT_FALSE(composited.empty()) << v["composited"][i] << " was not written";
      char hand[32];
      std::snprintf(hand, sizeof hand, "hand_%04zu", i + 1);
      EXPECT_TRUE(composited == Slurp(dir / (hand + ext))) << v["composited"][i];
      EXPECT_FALSE(composited == Slurp(dir / v["frames"][i].get<std::string>())) << "no stars in " << v["composited"][i];
    }
  }
}

TEST_F(BlenderAddon, ThePanelSpeaksTheEffectsNamesAndKeepsItsDefaults) {
  const json result = json::parse(Slurp(AddonDir() / "addon_result.json"));
  const CommandResult run = RunVelumbra({"params", "--json"}, AddonDir(), AddonDir());
  ASSERT_EQ(run.status, 0) << run.err;
  const json described = json::parse(run.out);
  std::map<std::string, json> params;
  for (const json& block : described["blocks"])
    for (const json& p : block["params"]) params[p["name"].get<std::string>()] = p;
  EXPECT_EQ(result["draw_modes"], params["drawmode"]["choices"]);
  EXPECT_EQ(result["sky_frames"], params["skyframe"]["choices"]);
  ASSERT_TRUE(result["defaults"].contains("hyperspacedepth") && result["defaults"].contains("starsdimming"));
  // The sky section's values (written with catalogue stars on) are the
  // effect's defaults too.
  json defaults = result["defaults"];
  ASSERT_TRUE(result["sky_defaults"].contains("observertime") && result["sky_defaults"].contains("catalogfile"));
  defaults.update(result["sky_defaults"]);
  for (const auto& [name, value] : defaults.items()) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(params.count(name));
    // The object mask's index defaults to Blender's sky, 0, not the effect's 1.
    if (name == "bakobjectid") continue;
    const json& expected = params[name]["default"];
    if (value.is_string()) {
      EXPECT_EQ(value, expected);
    } else if (value.is_array()) {
      ASSERT_EQ(value.size(), expected.size());
      for (size_t i = 0; i < value.size(); ++i) EXPECT_NEAR(value[i].get<double>(), expected[i].get<double>(), 1e-6);
    } else {
      EXPECT_NEAR(value.get<double>(), expected.get<double>(), 1e-6);
    }
  }
}

TEST_F(BlenderAddon, RenderWithStarsCleansUpAndRefusesWhatWouldFailEveryFrame) {
  const json result = json::parse(Slurp(AddonDir() / "addon_result.json"));
  // Only the planted scene file is left (and it was not read: the frames
  // equal the command's by hand, with 1500 stars).
  ASSERT_EQ(result["temp_left"].size(), 1u) << result["temp_left"].dump();
  EXPECT_EQ(result["temp_left"][0].get<std::string>().rfind("qe_velumbra_", 0), 0u);
  // A velumbra that hangs is stopped, with a message.
  ASSERT_EQ(result["hung"].size(), 1u) << result["hung"].dump();
  EXPECT_NE(result["hung"][0].get<std::string>().find("no progress for 1 s"), std::string::npos) << result["hung"];
  // A camera scaled to zero on an axis is refused by the export, which
  // writes nothing.
  const json& singular = result["singular"];
  EXPECT_FALSE(singular["written"].get<bool>());
  EXPECT_NE(singular["message"].get<std::string>().find("cannot export: the camera 'Camera' at frame 1 has a zero scale"),
            std::string::npos)
      << singular["message"];
}

}  // namespace
