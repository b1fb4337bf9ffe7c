// The frei0r plug-ins inside the applications that load them: ffmpeg's
// frei0r and frei0r_src filters, melt (MLT, the engine of Kdenlive and
// Shotcut) and GStreamer's frei0r elements. Each frame is compared byte for
// byte with velumbra render of the same settings over the same 8-bit plate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/source_tree.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The hosts find the plug-ins through FREI0R_PATH, and the plug-ins the
// module in the build folder above them.
ProgramOptions InHost(const fs::path& cwd) {
  ProgramOptions o;
  o.cwd = cwd;
  o.env = {{"FREI0R_PATH", (BuildDir() / "frei0r-1").string()}};
#ifdef VELUMBRA_HOST_PRELOAD
  o.env.push_back({"LD_PRELOAD", VELUMBRA_HOST_PRELOAD});
  o.env.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
#endif
  return o;
}

void Ok(const ProgramResult& r, const std::string& what) {
  ASSERT_EQ(r.status, 0) << what << "\n" << r.out << r.err;
}

// The decoded pixels of an image file (ffmpeg's decoder), as `pixFmt`
// (rgba or rgb24).
std::string Pixels(const fs::path& file, const char* pixFmt = "rgba") {
  const ProgramResult r =
      RunProgram({"ffmpeg", "-v", "error", "-i", file.string(), "-f", "rawvideo", "-pix_fmt", pixFmt, "-"});
  EXPECT_EQ(r.status, 0) << file << ": " << r.err;
  return r.out;
}

// Pixels of the image that differ from its first pixel (the plate's
// colour): the stars drawn.
int StarPixels(const std::string& rgb, int channels) {
  int n = 0;
  for (size_t i = 0; i + channels <= rgb.size(); i += channels)
    if (rgb.compare(i, channels, rgb, 0, channels) != 0) ++n;
  return n;
}

// The first differing pixel, for messages.
std::string FirstDifference(const std::string& a, const std::string& b, int channels, int width) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); i += channels)
    if (a.compare(i, channels, b, i, channels) != 0)
      return "first at pixel (" + std::to_string(i / channels % width) + ", " + std::to_string(i / channels / width) +
             ")";
  return "none";
}

// frei0r parameter values by index (the plug-in's order,
// docs/frei0r-parameters.md) as ffmpeg's filter_params takes them:
// every value up to the last given, doubles as numbers, booleans y or n,
// colours r/g/b.
std::string FilterParams(const std::map<int, std::string>& values, const std::vector<std::string>& defaults) {
  std::string s;
  const int last = values.rbegin()->first;
  for (int i = 0; i <= last; ++i) {
    if (i) s += "|";
    const auto it = values.find(i);
    s += it != values.end() ? it->second : defaults.at(i);
  }
  return s;
}

// The defaults of the filter's parameters, in ffmpeg's notation.
const std::vector<std::string> kDefaults = {
    "0.001", "0.00012345", "1/1/1", "0.8/0.8/0.8", "0", "0.2", "0.015", "0.01", "1", "0.5", "y", "1", "0.005",
    "0", "0.003", "n", "0.5", "n", "0.00012345", "0.000416458", "0", "0", "0", "0.2", "0", "0.5", "0.5", "0.5",
    "0.25", "0.125"};

// The indices of the parameters these tests set.
enum : int {
  kCount = 0, kSeed = 1, kBright = 2, kBalance = 5, kBrightSize = 6, kApply = 9, kDuration = 12,
  kPan = 25, kTilt = 26, kRoll = 27, kFov = 28, kRate = 29
};

// velumbra's rig of the plug-in's camera, for a scene file: pan about Z,
// the tilt as a look-at from the origin, roll about the view axis.
std::string Rig(double pan, double tilt, double roll, double fov) {
  const double a = tilt * M_PI / 180.0;
  char buf[1024];
  std::snprintf(buf, sizeof buf,
                R"([{"name": "Pan", "type": "dummy", "rotation": [0, 0, %.9g]},
  {"name": "Tilt", "type": "dummy", "parent": "Pan", "position": [0, 0, 0], "target": [0, %.9g, %.9g]},
  {"name": "Camera", "type": "camera", "parent": "Tilt", "fov": %.9g, "rotation": [0, 0, %.9g]}])",
                pan, static_cast<double>(static_cast<float>(std::cos(a))),
                static_cast<double>(static_cast<float>(std::sin(a))), fov, roll);
  return buf;
}

void WriteFile(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

}  // namespace

TEST(Frei0rFFmpeg, FilterOverAColourSourceEqualsVelumbraRenderOfTheSameShot) {
  TempDir tmp;
  // 320 x 240 at 25 fps; the fourth frame (3) through the filter with a
  // turned camera and settings away from the defaults.
  const std::string source = "color=c=0x203040:s=320x240:r=25";
  Ok(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", source, "-frames:v", "1", "-pix_fmt", "rgba",
                 "plate.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "the plate");
  const std::string params = FilterParams(
      {{kCount, "0.0005"}, {kSeed, "0.00000042"}, {kBright, "1/0.5/0.25"}, {kBalance, "0.5"}, {kBrightSize, "0.02"},
       {kApply, "0.5"}, {kPan, "0.6"}, {kTilt, "0.6"}, {kRoll, "0.55"}, {kFov, "0.3"}, {kRate, std::to_string(25.0 / 240)}},
      kDefaults);
  Ok(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", source, "-vf",
                 "frei0r=filter_name=qe_velumbra:filter_params=" + params, "-frames:v", "4", "-pix_fmt", "rgba",
                 "ff%d.png"},
                InHost(tmp.Path())),
     "ffmpeg with the filter");
  // pan -180 + 0.6 * 360 = 36, tilt -90 + 0.6 * 180 = 18, roll 18, fov 54.
  WriteFile(tmp / "shot.json", R"({"fps": 25, "render": {"width": 320, "height": 240, "camera": "Camera",
    "image": "plate.png"}, "nodes": )" + Rig(36, 18, 18, 54) + R"(,
    "effects": [{"class": "Qe_Velumbra", "name": "Stars", "params": {"starscount": 5000, "seed": 42,
      "brightstarscolor": [1, 0.5, 0.25], "brightdimbalance": 0.5, "brightstarssize": 2, "drawmode": 2}}]})");
  Ok(RunProgram({(BuildDir() / "velumbra").string(), "render", "shot.json", "-f", "3", "-o", "v.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "velumbra render");
  const std::string filtered = Pixels(tmp / "ff4.png"), rendered = Pixels(tmp / "v.png");
  EXPECT_GT(StarPixels(rendered, 4), 100) << "stars in view";
  EXPECT_TRUE(filtered == rendered) << FirstDifference(filtered, rendered, 4, 320);
}

TEST(Frei0rFFmpeg, FilterOverAPngPlateWithAlphaEqualsVelumbraRender) {
  TempDir tmp;
  // Straight alpha from 0 to 255 across the plate: the PNG boundary's
  // premultiplying and un-premultiplying at every alpha.
  Ok(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "nullsrc=s=256x64,format=rgba", "-vf",
                 "geq=r='X':g='255-X':b='Y*4':a='X'", "-frames:v", "1", "plate.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "the plate");
  struct Case {
    const char* apply;     // the filter's apply method
    const char* drawmode;  // velumbra's
  };
  for (const Case& c : {Case{"0.5", "2"}, Case{"0", "0"}, Case{"0.75", "3"}}) {
    SCOPED_TRACE(std::string("drawmode ") + c.drawmode);
    const std::string params = FilterParams({{kCount, "0.05"}, {kApply, c.apply}}, kDefaults);
    Ok(RunProgram({"ffmpeg", "-v", "error", "-y", "-i", "plate.png", "-vf",
                   "frei0r=filter_name=qe_velumbra:filter_params=" + params, "-pix_fmt", "rgba", "ff.png"},
                  InHost(tmp.Path())),
       "ffmpeg with the filter");
    Ok(RunProgram({(BuildDir() / "velumbra").string(), "render", "--input", "plate.png", "--set",
                   "starscount=500000", "--set", std::string("drawmode=") + c.drawmode, "-o", "v.png"},
                  {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
       "velumbra render");
    const std::string filtered = Pixels(tmp / "ff.png"), rendered = Pixels(tmp / "v.png"),
                      plate = Pixels(tmp / "plate.png");
    EXPECT_NE(rendered, plate) << "stars drawn";
    EXPECT_TRUE(filtered == rendered) << FirstDifference(filtered, rendered, 4, 256);
  }
}

TEST(Frei0rFFmpeg, SourceEqualsVelumbraRenderOfTheDefaultScene) {
  TempDir tmp;
  // The source at its defaults (ffmpeg's frei0r_src insists on some
  // filter_params: the default count): the default scene's 640 x 480 over
  // transparent black, written at 8 bits.
  Ok(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                 "frei0r_src=size=640x480:framerate=30:filter_name=qe_velumbra_src:filter_params=0.001", "-frames:v", "1", "-pix_fmt",
                 "rgba", "src.png"},
                InHost(tmp.Path())),
     "ffmpeg with the source");
  Ok(RunProgram({(BuildDir() / "velumbra").string(), "render", "--depth", "8", "-o", "v.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "velumbra render");
  const std::string source = Pixels(tmp / "src.png"), rendered = Pixels(tmp / "v.png");
  EXPECT_GT(StarPixels(rendered, 4), 100);
  EXPECT_TRUE(source == rendered) << FirstDifference(source, rendered, 4, 640);
}

TEST(Frei0rMelt, KeyedPanMovesTheStarsAndBlursThemBetweenFrames) {
  TempDir tmp;
  // MLT's colour producer, four frames at 25 fps (the square PAL profile,
  // 768 x 576); the pan held to frame 2 and keyed to 7.2 degrees at frame
  // 3; the filter told the clip's rate.
  const std::string rate = std::to_string(25.0 / 240);
  Ok(RunProgram({"melt", "-silent", "-profile", "square_pal", "color:0x203040ff", "out=3", "-attach",
                 "frei0r.qe_velumbra", "pan=0=0.5;2=0.5;3=0.52", "frame rate=" + rate, "-consumer",
                 "avformat:m%d.png", "vcodec=png"},
                InHost(tmp.Path())),
     "melt");
  std::vector<std::string> frames;
  for (const char* name : {"m1.png", "m2.png", "m3.png", "m4.png"}) frames.push_back(Pixels(tmp / name, "rgb24"));
  EXPECT_EQ(frames[0], frames[1]) << "a still camera, still stars";
  EXPECT_EQ(frames[1], frames[2]);
  EXPECT_NE(frames[2], frames[3]) << "the pan moves them";
  EXPECT_GT(StarPixels(frames[3], 3), 2 * StarPixels(frames[0], 3)) << "streaks of the camera's turn";

  // The same shot in velumbra: the pan node keyed at frames 2 and 3.
  Ok(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=0x203040:s=768x576", "-vf",
                 "geq=r=32:g=48:b=64:a=255", "-frames:v", "1", "-pix_fmt", "rgba", "plate.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "the plate");
  std::string rig = Rig(0, 0, 0, 45);
  const std::string still = R"("rotation": [0, 0, 0]})";
  rig.replace(rig.find(still), still.size(),
              R"("rotation": [0, 0, 0], "keys": [{"frame": 2, "rotation": [0, 0, 0]},
                                                  {"frame": 3, "rotation": [0, 0, 7.2]}]})");
  WriteFile(tmp / "shot.json", R"({"fps": 25, "render": {"width": 768, "height": 576, "camera": "Camera",
    "image": "plate.png"}, "nodes": )" + rig + R"(,
    "effects": [{"class": "Qe_Velumbra", "name": "Stars", "params": {"drawmode": 2}}]})");
  for (const auto& [frame, out] : {std::pair{0, "v0.png"}, std::pair{3, "v3.png"}}) {
    Ok(RunProgram({(BuildDir() / "velumbra").string(), "render", "shot.json", "-f", std::to_string(frame), "-o", out},
                  {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
       "velumbra render");
    const std::string rendered = Pixels(tmp / out, "rgb24");
    EXPECT_TRUE(frames[frame] == rendered) << "frame " << frame << ": " << FirstDifference(frames[frame], rendered, 3, 768);
  }
}

TEST(Frei0rGStreamer, FilterElementPaintsWhatVelumbraRenders) {
  TempDir tmp;
  Ok(RunProgram({"gst-launch-1.0", "-q", "videotestsrc", "pattern=solid-color", "foreground-color=0xff203040",
                 "num-buffers=1", "!", "video/x-raw,format=RGBA,width=320,height=240,framerate=25/1", "!",
                 "frei0r-filter-qe-velumbra", "seed=0.00000042", "count=0.002", "!", "pngenc", "!", "filesink",
                 "location=g.png"},
                InHost(tmp.Path())),
     "gst-launch-1.0");
  Ok(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=black:s=320x240", "-vf",
                 "geq=r=32:g=48:b=64:a=255", "-frames:v", "1", "-pix_fmt", "rgba", "plate.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "the plate");
  Ok(RunProgram({(BuildDir() / "velumbra").string(), "render", "--input", "plate.png", "--set", "seed=42", "--set",
                 "starscount=20000", "--set", "drawmode=2", "-o", "v.png"},
                {.cwd = tmp.Path(), .env = {}, .cleanEnvironment = false}),
     "velumbra render");
  const std::string element = Pixels(tmp / "g.png"), rendered = Pixels(tmp / "v.png");
  EXPECT_GT(StarPixels(rendered, 4), 100);
  EXPECT_TRUE(element == rendered) << FirstDifference(element, rendered, 4, 320);
}
