// The piped-video route through the real ffmpeg (Debian's, packages-test.txt):
// a video has no alpha, and ffmpeg drops a PNG's straight alpha, so the
// frames go in flattened (--over). What ffmpeg decodes must be the frame
// flattened over the background, within 8-bit rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "support/cli_fixture.h"
#include "host/app/image/png_io.h"

namespace {

using velumbra::ReadPngRgba;

class Video : public Velumbra {
 protected:
  // Runs ffmpeg on `args` (a shell fragment of quoted names) in the work
  // folder; its exit status.
  int Ffmpeg(const std::string& args) {
    const std::string command = "cd '" + work_.string() + "' && ffmpeg -nostdin -loglevel error -y " + args;
    return std::system(command.c_str());
  }
};

double Mean(const std::string& bytes) {
  double sum = 0;
  for (unsigned char c : bytes) sum += c;
  return bytes.empty() ? 0 : sum / static_cast<double>(bytes.size());
}

TEST_F(Video, FramesFlattenedOverBlackComeOutOfFfmpegAsTheFlattenedFrame) {
  ASSERT_EQ(std::system("command -v ffmpeg > /dev/null"), 0) << "ffmpeg (Debian package ffmpeg) is not installed";
  const std::string scene = (SourceDir() / "scenes" / "pan.json").string();
  // The frame as a file keeps its straight alpha; the reader premultiplies
  // it, which is the frame over black.
  ASSERT_EQ(Run({"render", scene, "-f", "15", "-q", "-o", "frame.png"}).status, 0);
  CommandResult r = Run({"render", scene, "-f", "15", "-q", "--over", "black", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  WriteAll(Work("piped.png"), r.out);
  const velumbra::RgbaImage frame = ReadPngRgba(Work("frame.png"));

  ASSERT_EQ(Ffmpeg("-f image2pipe -i piped.png -pix_fmt rgb24 -f rawvideo piped.rgb"), 0);
  const std::string rgb = Slurp(Work("piped.rgb"));
  ASSERT_EQ(rgb.size(), frame.pixels.size() * 3);
  double worst = 0;
  double flatSum = 0;
  for (size_t i = 0; i < frame.pixels.size(); ++i) {
    const BMM_Color_64& p = frame.pixels[i];
    const double expected[3] = {p.r / 256.0, p.g / 256.0, p.b / 256.0};  // 8.8 scale: 256 a level
    for (int c = 0; c < 3; ++c) {
      const int got = static_cast<unsigned char>(rgb[i * 3 + static_cast<size_t>(c)]);
      worst = std::max(worst, std::abs(got - expected[c]));
      flatSum += expected[c];
    }
  }
  // ffmpeg takes 16-bit samples to 8 bits by truncating: up to one level,
  // plus the half level of the file's own rounding.
  EXPECT_LE(worst, 1.5) << "ffmpeg's pixels differ from the frame flattened over black by more than rounding";
  const double flatMean = flatSum / static_cast<double>(rgb.size());
  EXPECT_GT(flatMean, 1.0);  // the frame has stars to see

  // Unflattened, ffmpeg shows the soft streak pixels at full colour: the
  // fault this option is for.
  ASSERT_EQ(Ffmpeg("-f image2pipe -i frame.png -pix_fmt rgb24 -f rawvideo straight.rgb"), 0);
  EXPECT_GT(Mean(Slurp(Work("straight.rgb"))), 2 * flatMean);

  // The documented movie (yuv420p, what players expect): lossy, but its mean
  // stays the flattened frame's.
  ASSERT_EQ(Ffmpeg("-f image2pipe -framerate 30 -i piped.png -pix_fmt yuv420p movie.mp4"), 0);
  ASSERT_EQ(Ffmpeg("-i movie.mp4 -pix_fmt rgb24 -f rawvideo movie.rgb"), 0);
  EXPECT_NEAR(Mean(Slurp(Work("movie.rgb"))), flatMean, 1.5);
}

TEST_F(Video, OverTakesNamedAndHexColoursAndRefusesOthers) {
  WriteScene("s.json", SmallScene(R"("starscount": 400, "starsdimming": 0.05, "brightstarssize": 3)"));
  ASSERT_EQ(Run({"render", "s.json", "-q", "--depth", "8", "-o", "plain.png"}).status, 0);
  ASSERT_EQ(Run({"render", "s.json", "-q", "--depth", "8", "--over", "#FFffFF", "-o", "white.png"}).status, 0);
  ASSERT_EQ(Run({"render", "s.json", "-q", "--depth", "8", "--over", "White", "-o", "named.png"}).status, 0);
  EXPECT_EQ(Slurp(Work("white.png")), Slurp(Work("named.png")));
  // Over white, a straight pixel (c, a) shows c*a + 255*(1-a), opaque.
  const velumbra::RgbaImage plain = ReadPngRgba(Work("plain.png"));
  const velumbra::RgbaImage white = ReadPngRgba(Work("white.png"));
  ASSERT_EQ(plain.pixels.size(), white.pixels.size());
  int partial = 0;
  for (size_t i = 0; i < plain.pixels.size(); ++i) {
    const BMM_Color_64 p = plain.pixels[i], w = white.pixels[i];  // premultiplied on reading
    EXPECT_EQ(w.a, 65280);
    const double expected = (p.r + (65280.0 - p.a) * 65280.0 / 65280.0) / 256.0;
    EXPECT_NEAR(w.r / 256.0, expected, 1.5) << "pixel " << i;  // 8-bit files truncate (v16 >> 8)
    if (p.a > 0 && p.a < 65280) ++partial;
  }
  EXPECT_GT(partial, 0);  // soft edges, where over differs from dropping alpha

  for (const std::string bad : {"#12345", "blue", "#GG0000"}) {
    const CommandResult r = Run({"render", "s.json", "--over", bad, "-o", "bad.png"});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--over"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Work("bad.png")));
  }
  const CommandResult r = Run({"render", "s.json", "--over", "black", "-o", "x.exr"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--over applies to PNG outputs"), std::string::npos) << r.err;
}

}  // namespace
