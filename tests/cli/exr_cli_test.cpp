// End-to-end tests of OpenEXR in `velumbra render`: images, ID channels and
// cameras of files written the way other applications write them.
#include <gtest/gtest.h>

#include <Imath/half.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfMatrixAttribute.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfFrameBuffer.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <fstream>
#include <tuple>

#include "support/temp_dir.h"
#include "support/cli_fixture.h"
#include "app/image/exr_test_files.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"
#include "host/app/scene/scene_build.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/render_info.h"

namespace {

namespace fs = std::filesystem;
using velumbra::ExrReader;
using velumbra::FloatRgba;
using velumbra::ReadPngRgba;

constexpr int kW = 64;
constexpr int kH = 32;

class ExrCommand : public Velumbra {};

TestExr Image(int width = kW, int height = kH) {
  TestExr exr;
  exr.display = exr.data = Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(width - 1, height - 1));
  return exr;
}

// Transparent black RGBA at the top level, FLOAT: the scenes' default
// background.
void AddBlack(TestExr& exr) {
  for (const char* c : {"R", "G", "B", "A"}) exr.channels.push_back(Filled(c, exr.Count(), 0.0f));
}

// A 64 x 32 scene of `nodes` with one Qe_Velumbra effect of `params`.
std::string Scene(const std::string& nodes, const std::string& params, const std::string& extraRender = "") {
  return R"({"render": {"width": 64, "height": 32)" + extraRender + R"(}, "nodes": [)" + nodes +
         R"(], "effects": [{"class": "Qe_Velumbra", "params": {)" + params + "}}]}";
}

const std::string kStars = R"("starscount": 3000, "brightstarssize": 2)";
const std::vector<std::string> kStarSets = {"--set", "starscount=3000", "--set", "brightstarssize=2"};

bool SameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

bool IsStar(const BMM_Color_64& p) { return p.r != 0 || p.g != 0 || p.b != 0; }

// --- colour and IDs ------------------------------------------------------------------------

TEST_F(ExrCommand, ColourAndIdsOfAnotherApplicationsLayersComeThroughTheCommand) {
  TestExr in = Image();
  // A view layer's passes, as a 3D application names them: HDR and negative
  // colour, a float object index and a half material index.
  const size_t n = in.Count();
  TestChannel r{"ViewLayer.Combined.R", Imf::FLOAT, {}, {}}, g = r, b = r, a = r;
  g.name = "ViewLayer.Combined.G", b.name = "ViewLayer.Combined.B", a.name = "ViewLayer.Combined.A";
  TestChannel object{"ViewLayer.IndexOB.X", Imf::FLOAT, {}, {}};
  TestChannel material{"ViewLayer.IndexMA.X", Imf::HALF, {}, {}};
  for (size_t i = 0; i < n; ++i) {
    const int x = static_cast<int>(i % kW), y = static_cast<int>(i / kW);
    r.values.push_back(x % 5 == 0 ? 3.5f : 0.01f * x);
    g.values.push_back(y % 3 == 0 ? -0.25f : 0.7f);
    b.values.push_back(1e-5f * static_cast<float>(i));
    a.values.push_back(x < 8 ? 0.0f : 1.0f);
    object.values.push_back(static_cast<float>((x % 4) * 1000 + y));
    material.values.push_back(static_cast<float>(x % 7));
  }
  in.channels = {r, g, b, a, object, material};
  WriteTestExr(Work("beauty.exr"), in);

  const CommandResult run = Run({"render", "--input", "beauty.exr", "-o", "out.exr", "--set", "starscount=400"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("velumbra: object IDs from beauty.exr:ViewLayer.IndexOB.X (found by its name)\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("velumbra: material IDs from beauty.exr:ViewLayer.IndexMA.X"), std::string::npos);

  ExrReader out(Work("out.exr"));
  EXPECT_EQ(out.Width(), kW);  // no scene: the image's size is the render size
  EXPECT_EQ(out.Height(), kH);
  // Carried through: the layer's own names, the IDs in their own channels.
  EXPECT_EQ(out.Channels(), (std::vector<std::string>{"ViewLayer.Combined.A", "ViewLayer.Combined.B",
                                                      "ViewLayer.Combined.G", "ViewLayer.Combined.R",
                                                      "ViewLayer.IndexMA.X", "ViewLayer.IndexOB.X"}));
  const velumbra::ExrFrame frame = out.ReadFrame("ViewLayer.IndexOB.X", "ViewLayer.IndexMA.X");
  EXPECT_EQ(frame.image.sampleType, velumbra::ExrColourType::Float);
  size_t changed = 0;
  for (size_t i = 0; i < n; ++i) {
    const FloatRgba& o = frame.image.floats[i];
    const bool kept = SameBits(o.r, r.values[i]) && SameBits(o.g, g.values[i]) && SameBits(o.b, b.values[i]) &&
                      SameBits(o.a, a.values[i]);
    if (kept) continue;
    ++changed;
    // A changed channel within the 16-bit range is its 16-bit value on the
    // 8.8 scale; one beyond it (3.5, -0.25) keeps its light: the default
    // method only adds.
    const BMM_Color_64 v = frame.image.pixels[i];
    if (r.values[i] > 1.0f) {
      EXPECT_GE(o.r, r.values[i]) << "pixel " << i;
    } else if (!SameBits(o.r, r.values[i])) {
      EXPECT_TRUE(SameBits(o.r, v.r / 65280.0f)) << "pixel " << i;
    }
    if (g.values[i] < 0.0f) {
      EXPECT_GE(o.g, g.values[i]) << "pixel " << i;
    }
    if (!SameBits(o.a, a.values[i])) {
      EXPECT_TRUE(SameBits(o.a, v.a / 65280.0f)) << "pixel " << i;
    }
  }
  EXPECT_GT(changed, 0u);
  EXPECT_LT(changed, n / 4);
  ASSERT_TRUE(frame.objectIds && frame.materialIds);
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(frame.objectIds->values[i], object.values[i]) << "pixel " << i;
    ASSERT_EQ(frame.materialIds->values[i], material.values[i]) << "pixel " << i;
  }

  // The ID channels keep their own sample types; --exr-id-type is the type
  // of ID channels the output adds, and it adds none here.
  ASSERT_EQ(Run({"render", "--input", "beauty.exr", "-o", "uint.exr", "-q", "--exr-id-type", "uint"}).status, 0);
  {
    Imf::InputFile file(Work("uint.exr").c_str());
    EXPECT_EQ(file.header().channels().findChannel("ViewLayer.IndexOB.X")->type, Imf::FLOAT);
    EXPECT_EQ(file.header().channels().findChannel("ViewLayer.IndexMA.X")->type, Imf::HALF);
    EXPECT_EQ(file.header().channels().findChannel("ObjectID"), nullptr);
  }
  // An input without IDs gets ObjectID and MaterialID, UINT on request,
  // with the IDs it was given (here from a PNG) and the same values.
  TestExr plain = Image();
  AddBlack(plain);
  WriteTestExr(Work("plain.exr"), plain);
  std::vector<WORD> pngIds(n);
  for (size_t i = 0; i < n; ++i) pngIds[i] = static_cast<WORD>(object.values[i]);
  velumbra::WriteObjectIdPng(Work("ids.png"), kW, kH, pngIds.data());
  WriteAll(Work("ids.json"), Scene(R"({"name": "c", "type": "camera"})", R"("starscount": 400)",
                                   R"(, "image": "plain.exr", "objectId": "ids.png")"));
  const CommandResult uint = Run({"render", "ids.json", "-o", "uint2.exr", "-q", "--exr-id-type", "uint"});
  ASSERT_EQ(uint.status, 0) << uint.err;
  Imf::InputFile file(Work("uint2.exr").c_str());
  EXPECT_EQ(file.header().channels().findChannel("ObjectID")->type, Imf::UINT);
  EXPECT_EQ(file.header().channels().findChannel("MaterialID")->type, Imf::UINT);
  EXPECT_EQ(ExrReader(Work("uint2.exr")).ReadIds<WORD>("ObjectID").values, pngIds);
}

// --exr-type half writes the float output's colour rounded to half, and
// leaves the IDs FLOAT; every lossless compression reads back the same.
TEST_F(ExrCommand, HalfColourIsTheFloatColourRoundedAndEveryCompressionReadsTheSame) {
  const std::vector<std::string> base = {"render", "--set", "starscount=3000", "--set", "duration=2",
                                         "--size", "97x61", "-q"};
  const auto run = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.push_back("-o");
    args.push_back(out);
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
  };
  run("f.exr", {});
  run("h.exr", {"--exr-type", "half"});
  for (const char* c : {"zips", "none", "rle", "piz"}) run(std::string(c) + ".exr", {"--compression", c});
  const auto channel = [&](const std::string& file, const char* name, Imf::PixelType type) {
    Imf::InputFile in(Work(file).c_str());
    EXPECT_EQ(in.header().channels().findChannel(name)->type, type) << file << " " << name;
    const Imath::Box2i w = in.header().dataWindow();
    const int width = w.max.x - w.min.x + 1, height = w.max.y - w.min.y + 1;
    std::vector<float> v(size_t(width) * height);
    Imf::FrameBuffer fb;
    fb.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(v.data()), sizeof(float), sizeof(float) * width));
    in.setFrameBuffer(fb);
    in.readPixels(w.min.y, w.max.y);
    return v;
  };
  size_t lit = 0;
  for (const char* name : {"R", "G", "B", "A"}) {
    const std::vector<float> f = channel("f.exr", name, Imf::FLOAT);
    const std::vector<float> h = channel("h.exr", name, Imf::HALF);
    ASSERT_EQ(f.size(), h.size());
    for (size_t i = 0; i < f.size(); ++i) {
      ASSERT_EQ(h[i], float(half(f[i]))) << name << " " << i;
      lit += f[i] > 0.0f;
    }
    for (const char* c : {"zips", "none", "rle", "piz"})
      EXPECT_EQ(channel(std::string(c) + ".exr", name, Imf::FLOAT), f) << c << " " << name;
  }
  EXPECT_GT(lit, 100u);
  EXPECT_EQ(channel("h.exr", "ObjectID", Imf::FLOAT), channel("f.exr", "ObjectID", Imf::FLOAT));
}

TEST_F(ExrCommand, ASequenceGoesInFrameByFrameUntilAFrameIsMissing) {
  // Without a scene each frame's own size is the render size.
  for (const auto& [name, w, h] : {std::tuple{"shot_0001.exr", kW, kH}, std::tuple{"shot_0002.exr", 32, 16}}) {
    TestExr exr = Image(w, h);
    AddBlack(exr);
    WriteTestExr(Work(name), exr);
  }
  const CommandResult run =
      Run({"render", "--input", "shot_%04d.exr", "-f", "1-3", "-o", "comp_####.exr", "--set", "starscount=400"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("velumbra: error: --input (frame 3): cannot open shot_0003.exr"), std::string::npos) << run.err;
  // The frames before the missing one stay, each its input's size.
  EXPECT_EQ(ExrReader(Work("comp_0001.exr")).Width(), kW);
  EXPECT_EQ(ExrReader(Work("comp_0002.exr")).Width(), 32);
  EXPECT_EQ(ExrReader(Work("comp_0002.exr")).Height(), 16);
  EXPECT_FALSE(fs::exists(Work("comp_0003.exr")));
  // An output that is a frame of the input sequence is refused up front.
  const CommandResult same = Run({"render", "--input", "shot_####.exr", "-f", "1-2", "-o", "shot_%04d.exr"});
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.err.find("the render would overwrite what it reads"), std::string::npos) << same.err;
}

TEST_F(ExrCommand, EveryChannelAndAttributeOfTheInputComesThrough) {
  // A data window beyond the display window, other passes of every type,
  // and a renderer's own attribute.
  TestExr in = Image();
  in.data = Imath::Box2i(Imath::V2i(-2, -1), Imath::V2i(kW + 1, kH));
  const size_t n = in.Count();
  for (const char* c : {"RenderLayer.Combined.R", "RenderLayer.Combined.G", "RenderLayer.Combined.B",
                        "RenderLayer.Combined.A"})
    in.channels.push_back(Filled(c, n, 0.0f, Imf::HALF));
  TestChannel depth{"RenderLayer.Depth.Z", Imf::FLOAT, {}, {}};
  TestChannel normal{"RenderLayer.Normal.X", Imf::HALF, {}, {}};
  TestChannel crypto{"RenderLayer.Crypto.U", Imf::UINT, {}, {}};
  for (size_t i = 0; i < n; ++i) {
    depth.values.push_back(1.0f + 0.001f * float(i));
    normal.values.push_back(std::sin(float(i)));
    crypto.uints.push_back(std::uint32_t(i * 2654435761u));
  }
  in.channels.push_back(depth);
  in.channels.push_back(normal);
  in.channels.push_back(crypto);
  in.extra.insert("renderer", Imf::StringAttribute("a 3D application"));
  WriteTestExr(Work("passes.exr"), in);

  const CommandResult run = Run({"render", "--input", "passes.exr", "-o", "out.exr", "-q", "--set", "starscount=3000"});
  ASSERT_EQ(run.status, 0) << run.err;
  Imf::InputFile file(Work("out.exr").c_str());
  const Imf::Header& h = file.header();
  EXPECT_EQ(h.dataWindow(), in.data);
  EXPECT_EQ(h.displayWindow(), in.display);
  EXPECT_EQ(h.compression(), Imf::InputFile(Work("passes.exr").c_str()).header().compression());
  ASSERT_NE(h.findTypedAttribute<Imf::StringAttribute>("renderer"), nullptr);
  EXPECT_EQ(h.findTypedAttribute<Imf::StringAttribute>("renderer")->value(), "a 3D application");
  // The input had no IDs: the frame's (zeros) are added at the top level.
  ASSERT_NE(h.channels().findChannel("ObjectID"), nullptr);
  EXPECT_EQ(h.channels().findChannel("RenderLayer.Combined.R")->type, Imf::HALF);
  EXPECT_EQ(h.channels().findChannel("R"), nullptr);
  // The other passes bit for bit, over the whole data window.
  std::vector<float> depthOut(n), normalOut(n);
  std::vector<half> normalHalf(n);
  std::vector<std::uint32_t> cryptoOut(n);
  Imf::FrameBuffer fb;
  fb.insert("RenderLayer.Depth.Z", Imf::Slice::Make(Imf::FLOAT, depthOut.data(), in.data, 4, 4 * size_t(in.DataWidth())));
  fb.insert("RenderLayer.Normal.X", Imf::Slice::Make(Imf::HALF, normalHalf.data(), in.data, 2, 2 * size_t(in.DataWidth())));
  fb.insert("RenderLayer.Crypto.U", Imf::Slice::Make(Imf::UINT, cryptoOut.data(), in.data, 4, 4 * size_t(in.DataWidth())));
  file.setFrameBuffer(fb);
  file.readPixels(in.data.min.y, in.data.max.y);
  for (size_t i = 0; i < n; ++i) {
    ASSERT_TRUE(SameBits(depthOut[i], depth.values[i])) << i;
    ASSERT_EQ(normalHalf[i].bits(), half(normal.values[i]).bits()) << i;
    ASSERT_EQ(cryptoOut[i], crypto.uints[i]) << i;
  }
  // The stars are in the layer the colour came from.
  const velumbra::ExrRgbaImage out = velumbra::ReadExrRgba(Work("out.exr"));
  EXPECT_EQ(out.layer, "RenderLayer.Combined.");
  EXPECT_GT(std::count_if(out.pixels.begin(), out.pixels.end(), IsStar), 10);

  // A tiled input comes out as scan lines of the same data and passes.
  in.tiled = true;
  WriteTestExr(Work("tiled.exr"), in);
  const CommandResult tiledRun = Run({"render", "--input", "tiled.exr", "-o", "tiled_out.exr", "-q", "--set", "starscount=3000"});
  ASSERT_EQ(tiledRun.status, 0) << tiledRun.err;
  Imf::InputFile tiled(Work("tiled_out.exr").c_str());
  EXPECT_FALSE(tiled.header().hasTileDescription());
  EXPECT_EQ(tiled.header().dataWindow(), in.data);
  EXPECT_NE(tiled.header().channels().findChannel("RenderLayer.Crypto.U"), nullptr);
  EXPECT_EQ(velumbra::ReadExrRgba(Work("tiled_out.exr")).pixels, out.pixels);
}

// Before: a plate was written back with its own lossy compression, which
// changed samples no star touched: DWAA with no stars, 2,142 of 3,072
// samples; B44, 1,758 alpha samples. A lossy plate is written ZIP; lossy
// only when --compression asks.
TEST_F(ExrCommand, UntouchedSamplesOfALossyPlateKeepTheirBits) {
  for (const Imf::Compression compression : {Imf::DWAA_COMPRESSION, Imf::B44_COMPRESSION}) {
    SCOPED_TRACE(int(compression));
    TestExr in = Image();
    in.compression = compression;
    const size_t n = in.Count();
    for (const char* c : {"R", "G", "B", "A"}) {
      TestChannel channel{c, Imf::HALF, {}, {}};
      for (size_t i = 0; i < n; ++i) channel.values.push_back(0.5f + 0.4f * std::sin(float(i) * 0.37f + float(c[0])));
      in.channels.push_back(channel);
    }
    WriteTestExr(Work("lossy.exr"), in);
    const auto halves = [&](const fs::path& file) {
      Imf::InputFile f(file.c_str());
      std::vector<half> samples(4 * n);
      Imf::FrameBuffer fb;
      int k = 0;
      for (const char* c : {"R", "G", "B", "A"}) {
        fb.insert(c, Imf::Slice::Make(Imf::HALF, samples.data() + k++ * n, in.data, 2, 2 * size_t(in.DataWidth())));
      }
      f.setFrameBuffer(fb);
      f.readPixels(in.data.min.y, in.data.max.y);
      return std::make_pair(f.header().compression(), samples);
    };
    const CommandResult run = Run({"render", "-i", "lossy.exr", "-o", "out.exr", "-q", "--set", "starscount=0"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto [inCompression, inSamples] = halves(Work("lossy.exr"));
    const auto [outCompression, outSamples] = halves(Work("out.exr"));
    EXPECT_EQ(outCompression, Imf::ZIP_COMPRESSION);
    size_t changed = 0;
    for (size_t i = 0; i < inSamples.size(); ++i) changed += inSamples[i].bits() != outSamples[i].bits();
    EXPECT_EQ(changed, 0u) << "of " << inSamples.size();
    // Asked for: lossy.
    const CommandResult asked =
        Run({"render", "-i", "lossy.exr", "-o", "asked.exr", "-q", "--set", "starscount=0", "--compression", "dwaa"});
    ASSERT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(halves(Work("asked.exr")).first, Imf::DWAA_COMPRESSION);
  }
}

TEST_F(ExrCommand, FileWhiteIsFullIntensityBothWays) {
  // Float to 16 bits: 1.0 is 65280; above 65535/65280 clamps, below 0 is 0.
  TestExr in = Image(4, 1);
  in.channels = {{"R", Imf::FLOAT, {1.0f, 0.5f, 2.0f, -1.0f}, {}},
                 {"G", Imf::HALF, {0.25f, 1.0f, 0.0f, 1.00390625f}, {}},
                 {"B", Imf::FLOAT, {0.0f, 0.0f, 0.0f, 0.0f}, {}}};
  WriteTestExr(Work("in.exr"), in);
  // The plate's values as they are (without --output-space, a PNG of a
  // linear plate is written for the sRGB display: colour_cli_test.cpp).
  ASSERT_EQ(Run({"render", "--input", "in.exr", "-o", "out.png", "-q", "--set", "starscount=0", "--output-space",
                 "scene_linear"})
                .status,
            0);
  const velumbra::RgbaImage png = ReadPngRgba(Work("out.png"));
  ASSERT_EQ(png.pixels.size(), 4u);
  EXPECT_EQ(png.fileBitDepth, 16);
  // Written to PNG, anything at or beyond file white is file white.
  const std::array<WORD, 4> red{65280, 32640, 65280, 0}, green{16320, 65280, 0, 65280};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(png.pixels[i].r, red[i]) << i;
    EXPECT_EQ(png.pixels[i].g, green[i]) << i;
    EXPECT_EQ(png.pixels[i].a, 65280) << i;  // no alpha: opaque
  }

  // 16 bits to float: v / 65280, exactly, for a PNG input (premultiplied, so
  // that the frame's values are the file's; 65535 is beyond file white).
  const std::vector<BMM_Color_64> pixels{{65280, 32640, 65535, 65280}, {1, 0, 256, 0}};
  velumbra::PngWriteOptions premultiplied;
  premultiplied.alpha = velumbra::PngAlpha::Premultiplied;
  velumbra::WritePngRgba(Work("in.png"), 2, 1, pixels.data(), premultiplied);
  ASSERT_EQ(Run({"render", "--input", "in.png", "--alpha", "premultiplied", "-o", "out.exr", "-q", "--set",
                 "starscount=0"})
                .status,
            0);
  const velumbra::ExrRgbaImage exr = velumbra::ReadExrRgba(Work("out.exr"));
  ASSERT_EQ(exr.floats.size(), 2u);
  EXPECT_EQ(exr.sampleType, velumbra::ExrColourType::Float);
  EXPECT_EQ(exr.floats[0].r, 1.0f);
  EXPECT_EQ(exr.floats[0].g, 0.5f);
  EXPECT_EQ(exr.floats[0].b, 1.0f);  // clamped at file white in the PNG
  EXPECT_EQ(exr.floats[1].r, 1.0f / 65280.0f);
  EXPECT_EQ(exr.floats[1].b, 256.0f / 65280.0f);
}

// A plate whose left half is `left` and right half `right` (opaque grey).
void WriteHalvesPlate(const fs::path& file, float left, float right) {
  TestExr in = Image();
  TestChannel r{"R", Imf::FLOAT, {}, {}}, g = r, b = r;
  g.name = "G", b.name = "B";
  for (size_t i = 0; i < in.Count(); ++i) {
    const float v = static_cast<int>(i % kW) < kW / 2 ? left : right;
    r.values.push_back(v), g.values.push_back(v), b.values.push_back(v);
  }
  in.channels = {r, g, b, Filled("A", in.Count(), 1.0f)};
  WriteTestExr(file, in);
}

// Regression: stars clamped an HDR plate to 1.0 where they added light (910
// pixels of a 4.0 half came out at exactly 1.0 with Simple Additive).
TEST_F(ExrCommand, StarsAddTheirLightToAnHdrPlateAndTheFilterScalesIt) {
  WriteHalvesPlate(Work("hdr.exr"), 0.0f, 4.0f);
  WriteHalvesPlate(Work("ref.exr"), 0.0f, 0.0f);  // the stars' light alone
  WriteHalvesPlate(Work("half.exr"), 0.5f, 0.5f);
  std::vector<std::string> args = kStarSets;
  args.insert(args.end(), {"-q", "--set", "drawmode=\"Simple Additive\""});
  const auto render = [&](const std::string& in, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> a{"render", "--input", in, "-o", out};
    a.insert(a.end(), extra.begin(), extra.end());
    const CommandResult run = Run(a);
    EXPECT_EQ(run.status, 0) << run.err;
  };
  render("hdr.exr", "hdr_out.exr", args);
  render("ref.exr", "ref_out.exr", args);
  render("hdr.exr", "hdr_out.png", args);
  const velumbra::ExrRgbaImage hdr = velumbra::ReadExrRgba(Work("hdr_out.exr"));
  const velumbra::ExrRgbaImage ref = velumbra::ReadExrRgba(Work("ref_out.exr"));
  const velumbra::RgbaImage png = ReadPngRgba(Work("hdr_out.png"));
  size_t lit = 0;
  for (size_t i = 0; i < hdr.floats.size(); ++i) {
    if (static_cast<int>(i % kW) < kW / 2) {
      ASSERT_TRUE(SameBits(hdr.floats[i].r, ref.floats[i].r)) << "pixel " << i;  // the plain half as before
      continue;
    }
    // Exactly the plate plus the stars' own light, never less than the plate.
    ASSERT_EQ(hdr.floats[i].r, 4.0f + ref.floats[i].r) << "pixel " << i;
    ASSERT_EQ(hdr.floats[i].b, 4.0f + ref.floats[i].b) << "pixel " << i;
    ASSERT_EQ(hdr.floats[i].a, 1.0f) << "pixel " << i;
    ASSERT_EQ(png.pixels[i].r, 65280) << "pixel " << i;  // a PNG shows it as white
    if (ref.floats[i].r > 0.0f) ++lit;
  }
  EXPECT_GT(lit, 20u);

  // Apply As Filter scales the plate by the star's factor: what it does to
  // 0.5 it does to 4.0, eight times as much.
  args.back() = "drawmode=4";
  render("hdr.exr", "hdr_filter.exr", args);
  render("half.exr", "half_filter.exr", args);
  const velumbra::ExrRgbaImage filtered = velumbra::ReadExrRgba(Work("hdr_filter.exr"));
  const velumbra::ExrRgbaImage halfFiltered = velumbra::ReadExrRgba(Work("half_filter.exr"));
  size_t scaled = 0;
  for (size_t i = 0; i < filtered.floats.size(); ++i) {
    if (static_cast<int>(i % kW) < kW / 2) continue;
    EXPECT_FLOAT_EQ(filtered.floats[i].g, 8.0f * halfFiltered.floats[i].g) << "pixel " << i;
    if (filtered.floats[i].g < 4.0f) ++scaled;
  }
  EXPECT_GT(scaled, 20u);
}

TEST_F(ExrCommand, AnIdChannelOfTheImageMasksTheStars) {
  TestExr in = Image();
  AddBlack(in);
  TestChannel ids{"IndexOB", Imf::FLOAT, {}, {}};
  for (size_t i = 0; i < in.Count(); ++i) ids.values.push_back(i % kW < kW / 2 ? 5.0f : 2.0f);
  in.channels.push_back(ids);
  WriteTestExr(Work("in.exr"), in);

  std::vector<std::string> args{"render", "--input", "in.exr", "-o", "masked.png", "-q",
                                "--set", "bakobjectidflag=1", "--set", "bakobjectid=5"};
  args.insert(args.end(), kStarSets.begin(), kStarSets.end());
  const CommandResult r = Run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const velumbra::RgbaImage masked = ReadPngRgba(Work("masked.png"));
  size_t left = 0, right = 0;
  for (size_t i = 0; i < masked.pixels.size(); ++i)
    if (IsStar(masked.pixels[i])) ++(i % kW < kW / 2 ? left : right);
  EXPECT_GT(left, 10u);
  EXPECT_EQ(right, 0u) << "stars only over object 5";

  // Unmasked, the same stars fall on both halves.
  args = {"render", "--input", "in.exr", "-o", "all.png", "-q"};
  args.insert(args.end(), kStarSets.begin(), kStarSets.end());
  ASSERT_EQ(Run(args).status, 0);
  const velumbra::RgbaImage all = ReadPngRgba(Work("all.png"));
  size_t allRight = 0;
  for (size_t i = 0; i < all.pixels.size(); ++i) allRight += i % kW >= kW / 2 && IsStar(all.pixels[i]);
  EXPECT_GT(allRight, 10u);
}

// --- cameras ---------------------------------------------------------------------------------

// The host's world-to-camera matrix and projection of a scene's camera.
struct HostCamera {
  Matrix3 worldToCam;
  RenderInfo info;
};

HostCamera SceneCamera(const std::string& nodes) {
  const velumbra::SceneDesc scene = velumbra::ParseScene(Scene(nodes, ""), "s.json", ".");
  Interface ip;
  const velumbra::BuiltScene built = velumbra::BuildScene(scene, ip);
  HostCamera c;
  c.worldToCam = Inverse(built.camera->GetNodeTM(0));
  c.info.SetPerspective(kW, kH, static_cast<const CameraObject*>(built.camera->GetObjectRef())->GetFOV(0));
  return c;
}

using M4 = std::array<std::array<double, 4>, 4>;

Imath::M44f ToImath(const M4& m) {
  Imath::M44f r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r[i][j] = static_cast<float>(m[i][j]);
  return r;
}

// The camera's attributes as a renderer of each convention writes them:
// openexr looks down +z with NDC 0..1 from the top left, minus-z looks down
// -z with an OpenGL projection (NDC -1..1, y up).
void AddCamera(TestExr& exr, const HostCamera& cam, bool openexr) {
  M4 c{};
  for (int i = 0; i < 4; ++i) {
    const Point3& row = cam.worldToCam.GetRow(i);
    c[i] = {row.x, row.y, openexr ? -double(row.z) : double(row.z), i == 3 ? 1.0 : 0.0};
  }
  M4 p{};
  const double w = kW, h = kH;
  if (openexr) {
    p[0][0] = cam.info.kx / w;
    p[1][1] = -cam.info.ky / h;
    p[2][0] = 0.5, p[2][1] = 0.5, p[2][3] = 1.0, p[3][2] = 1.0;
  } else {
    const double n = 0.1, f = 100.0;
    p[0][0] = cam.info.kx / (w / 2);
    p[1][1] = cam.info.ky / (h / 2);
    p[2][2] = (f + n) / (n - f), p[2][3] = -1.0, p[3][2] = 2 * f * n / (n - f);
  }
  M4 ndc{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) ndc[i][j] += c[i][k] * p[k][j];
  exr.extra.insert("worldToCamera", Imf::M44fAttribute(ToImath(c)));
  exr.extra.insert("worldToNDC", Imf::M44fAttribute(ToImath(ndc)));
}

TEST_F(ExrCommand, TheFilesCameraRendersAsTheSameCameraInAScene) {
  // A camera looking along world -X, 60 degrees wide.
  const std::string camera =
      R"({"name": "Cam", "type": "camera", "fov": 60, "position": [0, 0, 0], "target": [-1, 0, 0]})";
  std::ofstream(Work("scene.json")) << Scene(camera, kStars);
  ASSERT_EQ(Run({"render", "scene.json", "-o", "scene.png", "-q"}).status, 0);
  const velumbra::RgbaImage expected = ReadPngRgba(Work("scene.png"));
  ASSERT_GT(std::count_if(expected.pixels.begin(), expected.pixels.end(), IsStar), 10);

  const HostCamera host = SceneCamera(camera);
  for (const bool openexr : {true, false}) {
    SCOPED_TRACE(openexr ? "openexr" : "minus-z");
    TestExr in = Image();
    AddBlack(in);
    AddCamera(in, host, openexr);
    WriteTestExr(Work("cam.exr"), in);

    // A scene without a camera node. The renders of the plate take its
    // values as display values (--input-space sRGB), as the scene's own
    // frame is: only where the stars land may differ.
    std::ofstream(Work("nocam.json")) << Scene("", kStars, R"(, "image": "cam.exr")");
    CommandResult r = Run({"render", "nocam.json", "-o", "file.png", "--input-space", "sRGB"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("cam.exr (worldToCamera and worldToNDC, ") + (openexr ? "openexr" : "minus-z") +
                         " convention)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadPngRgba(Work("file.png")).pixels, expected.pixels);

    // No scene at all: the file's camera and size, the parameters from --set.
    std::vector<std::string> args{"render", "--input", "cam.exr", "-o", "bare.png", "-q", "--input-space", "sRGB"};
    args.insert(args.end(), kStarSets.begin(), kStarSets.end());
    r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPngRgba(Work("bare.png")).pixels, expected.pixels);

    // Forcing the other convention is refused with the reason.
    r = Run({"render", "nocam.json", "-o", "wrong.png", "--exr-camera", openexr ? "minus-z" : "openexr"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(std::string("its convention is ") + (openexr ? "openexr" : "minus-z")), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(Work("wrong.png")));
  }

  // A camera the scene names wins over the file's.
  std::ofstream(Work("named.json")) << Scene(
      R"({"name": "Other", "type": "camera", "fov": 60, "position": [0, 0, 0], "target": [0, 1, 0]})", kStars,
      R"(, "image": "cam.exr", "camera": "Other")");
  ASSERT_EQ(Run({"render", "named.json", "-o", "named.png", "-q"}).status, 0);
  EXPECT_NE(ReadPngRgba(Work("named.png")).pixels, expected.pixels);

  // An EXR output carries the camera: rendering it again sees the same view.
  ASSERT_EQ(Run({"render", "scene.json", "-o", "scene.exr", "-q", "--set", "starscount=0"}).status, 0);
  std::vector<std::string> args{"render", "--input", "scene.exr", "-o", "again.png", "-q", "--input-space", "sRGB"};
  args.insert(args.end(), kStarSets.begin(), kStarSets.end());
  ASSERT_EQ(Run(args).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("again.png")).pixels, expected.pixels);
}

// --- bad inputs ---------------------------------------------------------------------------------

TEST_F(ExrCommand, BadInputsAreRefusedWithWhereAndWhy) {
  TestExr in = Image();
  AddBlack(in);
  TestChannel ids = Filled("IndexOB", in.Count(), 4.0f);
  ids.values[1 * kW + 3] = 2.5f;  // pixel (3, 1)
  in.channels.push_back(ids);
  WriteTestExr(Work("in.exr"), in);
  const std::string camera = R"({"name": "Cam", "type": "camera"})";

  struct Case {
    const char* what;
    std::string scene;  // empty: no scene
    std::vector<std::string> args;
    std::vector<std::string> messages;
  } cases[] = {
      {"missing channel", Scene(camera, "", R"(, "image": "in.exr", "objectId": "in.exr:IndexOB.Nope")"),
       {},
       {"no channel named \"IndexOB.Nope\" for the object IDs", "IndexOB"}},
      {"non-integer ID", "", {"--input", "in.exr"}, {"in.exr", "IndexOB", "(3, 1)", "2.5", "not a whole number"}},
      {"input of another size", Scene(camera, ""), {"--input", "small.exr"},
       {"--input: small.exr is 16 x 8 pixels, but the render is 64 x 32", "/render/width"}},
      {"ID file of another size", Scene(camera, "", R"(, "objectId": "small.exr:ObjectID")"),
       {},
       {"/render/objectId", "16 x 8 pixels, but the render is 64 x 32"}},
      {"no camera anywhere", Scene("", "", R"(, "image": "small.exr")"),
       {"--input", "plain.exr"},
       {"/render/camera: no camera to render from: the scene has no camera node, and plain.exr has neither a "
        "worldToCamera nor a worldToNDC attribute"}},
      {"half a camera", Scene("", ""), {"--input", "view.exr"},
       {"--input: view.exr has worldToCamera but no worldToNDC (the projection) attribute, and", "has no camera node"}},
      {"PNG without a camera", Scene("", ""), {"--input", "in.png"}, {"the input image in.png is a PNG"}},
      {"no image, no camera", Scene("", ""), {}, {"there is no input image to take a camera from"}},
  };
  TestExr small = Image(16, 8);
  AddBlack(small);
  small.channels.push_back(Filled("ObjectID", small.Count(), 1.0f));
  WriteTestExr(Work("small.exr"), small);
  TestExr plain = Image();
  AddBlack(plain);
  WriteTestExr(Work("plain.exr"), plain);
  TestExr view = plain;
  view.extra.insert("worldToCamera", Imf::M44fAttribute(Imath::M44f()));
  WriteTestExr(Work("view.exr"), view);
  std::vector<BMM_Color_64> pixels(kW * kH);
  velumbra::WritePngRgba(Work("in.png"), kW, kH, pixels.data(), 16);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"render"};
    if (!c.scene.empty()) {
      std::ofstream(Work("s.json")) << c.scene;
      args.push_back("s.json");
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"-o", "out.exr"});
    const CommandResult r = Run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("velumbra: error: "), std::string::npos) << r.err;
    for (const std::string& m : c.messages) EXPECT_NE(r.err.find(m), std::string::npos) << m << "\n" << r.err;
    EXPECT_FALSE(fs::exists(Work("out.exr")));
  }
}

}  // namespace
