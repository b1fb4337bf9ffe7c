#include "host/app/image/png_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"

namespace {

using velumbra::InputError;
using velumbra::SystemError;

// --- an independent PNG writer: libpng's classic API, no transforms ---------------

struct PngSpec {
  int width = 1;
  int height = 1;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  std::vector<unsigned> samples;  // row-major, channels per pixel, raw values
  std::vector<png_color> palette;
  std::vector<png_byte> paletteAlpha;     // tRNS of a palette image
  std::optional<png_color_16> keyColour;  // tRNS of a grey or RGB image
  bool interlaced = false;
};

int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
  }
}

// Packs samples as a PNG stores them: bits from the most significant end,
// 16-bit values big-endian, each row padded to whole bytes.
std::vector<png_byte> Pack(const PngSpec& s) {
  const int channels = Channels(s.colorType);
  const size_t rowBytes = (size_t(s.width) * channels * s.bitDepth + 7) / 8;
  std::vector<png_byte> out(rowBytes * s.height, 0);
  for (int y = 0; y < s.height; ++y) {
    png_byte* row = out.data() + y * rowBytes;
    for (int i = 0; i < s.width * channels; ++i) {
      const unsigned v = s.samples[size_t(y) * s.width * channels + i];
      if (s.bitDepth == 16) {
        row[2 * i] = png_byte(v >> 8);
        row[2 * i + 1] = png_byte(v);
      } else if (s.bitDepth == 8) {
        row[i] = png_byte(v);
      } else {
        const int bit = i * s.bitDepth;
        row[bit / 8] |= png_byte(v << (8 - s.bitDepth - bit % 8));
      }
    }
  }
  return out;
}

bool WriteTestPng(const std::filesystem::path& file, const PngSpec& s) {
  const std::vector<png_byte> data = Pack(s);
  const size_t rowBytes = data.size() / s.height;
  std::vector<png_bytep> rows(s.height);
  for (int y = 0; y < s.height; ++y) rows[y] = const_cast<png_byte*>(data.data()) + y * rowBytes;
  FILE* fp = std::fopen(file.c_str(), "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
  if (!s.paletteAlpha.empty())
    png_set_tRNS(png, info, s.paletteAlpha.data(), int(s.paletteAlpha.size()), nullptr);
  if (s.keyColour) {
    png_color_16 key = *s.keyColour;
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(fp) == 0;
}

BMM_Color_64 C(unsigned r, unsigned g, unsigned b, unsigned a) {
  return {WORD(r), WORD(g), WORD(b), WORD(a)};
}

std::string Describe(const BMM_Color_64& c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ", " +
         std::to_string(c.a) + ")";
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

// --- every colour type -------------------------------------------------------------

struct ColourCase {
  const char* name;
  PngSpec image;
  std::vector<BMM_Color_64> expected;  // hand-computed on the 8.8 scale
};

png_color_16 Key(unsigned grey, unsigned r, unsigned g, unsigned b) {
  png_color_16 k{};
  k.gray = png_uint_16(grey);
  k.red = png_uint_16(r);
  k.green = png_uint_16(g);
  k.blue = png_uint_16(b);
  return k;
}

// A 16-bit file value on the frame's scale (65535 -> 65280), rounded.
unsigned S(unsigned v16) { return static_cast<unsigned>(std::lround(v16 * 65280.0 / 65535.0)); }

std::vector<ColourCase> ColourCases() {
  constexpr unsigned O = 65280;  // opaque
  std::vector<ColourCase> cases;
  auto add = [&](const char* name, int type, int depth, int w, std::vector<unsigned> samples,
                 std::vector<BMM_Color_64> expected) {
    ColourCase c{name, {}, std::move(expected)};
    c.image.width = w;
    c.image.height = 1;
    c.image.colorType = type;
    c.image.bitDepth = depth;
    c.image.samples = std::move(samples);
    cases.push_back(std::move(c));
    return &cases.back();
  };
  add("grey1", PNG_COLOR_TYPE_GRAY, 1, 4, {0, 1, 1, 0}, {C(0, 0, 0, O), C(O, O, O, O), C(O, O, O, O), C(0, 0, 0, O)});
  add("grey2", PNG_COLOR_TYPE_GRAY, 2, 4, {0, 1, 2, 3},
      {C(0, 0, 0, O), C(85 * 256, 85 * 256, 85 * 256, O), C(170 * 256, 170 * 256, 170 * 256, O), C(O, O, O, O)});
  add("grey4", PNG_COLOR_TYPE_GRAY, 4, 3, {0, 7, 15},
      {C(0, 0, 0, O), C(119 * 256, 119 * 256, 119 * 256, O), C(O, O, O, O)});
  add("grey8", PNG_COLOR_TYPE_GRAY, 8, 3, {0, 1, 255}, {C(0, 0, 0, O), C(256, 256, 256, O), C(O, O, O, O)});
  add("grey16", PNG_COLOR_TYPE_GRAY, 16, 3, {0, 0x1234, 65535},
      {C(0, 0, 0, O), C(S(0x1234), S(0x1234), S(0x1234), O), C(O, O, O, O)});
  add("greyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, {10, 20, 255, 0},
      {C(2560, 2560, 2560, 5120), C(O, O, O, 0)});
  add("greyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, 1, {0x1234, 0xABCD}, {C(S(0x1234), S(0x1234), S(0x1234), S(0xABCD))});
  add("rgb8", PNG_COLOR_TYPE_RGB, 8, 2, {1, 2, 3, 255, 128, 0}, {C(256, 512, 768, O), C(O, 128 * 256, 0, O)});
  add("rgb16", PNG_COLOR_TYPE_RGB, 16, 1, {0x0102, 0xFFFF, 0x8001}, {C(S(0x0102), O, S(0x8001), O)});
  add("rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, 2, {1, 2, 3, 4, 255, 255, 255, 255},
      {C(256, 512, 768, 1024), C(O, O, O, O)});
  add("rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, 1, {1, 2, 65535, 65534}, {C(1, 2, O, S(65534))});

  // Palettes of every index depth, with a tRNS chunk giving index 1 alpha 128
  // and leaving index 2 (beyond the tRNS entries) opaque.
  const std::vector<png_color> palette{{10, 20, 30}, {40, 50, 60}, {255, 0, 255}};
  for (int depth : {1, 2, 4, 8}) {
    static const char* names[] = {"", "palette1", "palette2", "", "palette4", "", "", "", "palette8"};
    const bool threeColours = depth > 1;
    std::vector<unsigned> idx = threeColours ? std::vector<unsigned>{0, 1, 2, 1} : std::vector<unsigned>{0, 1, 1, 0};
    std::vector<BMM_Color_64> expected;
    for (unsigned i : idx)
      expected.push_back(C(palette[i].red * 256, palette[i].green * 256, palette[i].blue * 256, i == 1 ? 128 * 256 : O));
    ColourCase* c = add(names[depth], PNG_COLOR_TYPE_PALETTE, depth, 4, idx, expected);
    c->image.palette = threeColours ? palette : std::vector<png_color>(palette.begin(), palette.begin() + 2);
    c->image.paletteAlpha = {255, 128};
  }

  // Colour-key transparency: the key becomes alpha 0, everything else opaque
  // at 65280, at 16 bits too (not 65535).
  add("greyKey8", PNG_COLOR_TYPE_GRAY, 8, 2, {7, 8}, {C(7 * 256, 7 * 256, 7 * 256, 0), C(8 * 256, 8 * 256, 8 * 256, O)})
      ->image.keyColour = Key(7, 0, 0, 0);
  add("rgbKey8", PNG_COLOR_TYPE_RGB, 8, 2, {1, 2, 3, 1, 2, 4}, {C(256, 512, 768, 0), C(256, 512, 1024, O)})
      ->image.keyColour = Key(0, 1, 2, 3);
  add("rgbKey16", PNG_COLOR_TYPE_RGB, 16, 2, {1000, 2000, 3000, 1000, 2000, 3001},
      {C(S(1000), S(2000), S(3000), 0), C(S(1000), S(2000), S(3001), O)})
      ->image.keyColour = Key(0, 1000, 2000, 3000);
  return cases;
}

// Layouts, read as premultiplied so that the samples are the file's own (the
// alpha conversion has tests of its own).
velumbra::PngReadOptions AsStored() {
  velumbra::PngReadOptions o;
  o.alpha = velumbra::PngAlpha::Premultiplied;
  return o;
}

TEST(PngRead, EveryColourTypeOnTheEightEightScale) {
  TempDir dir;
  for (const ColourCase& c : ColourCases()) {
    SCOPED_TRACE(c.name);
    const auto file = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(WriteTestPng(file, c.image));
    const velumbra::RgbaImage image = velumbra::ReadPngRgba(file, AsStored());
    EXPECT_EQ(image.width, c.image.width);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(image.fileBitDepth, c.image.bitDepth);
    EXPECT_EQ(image.DefaultOutputDepth(), c.image.bitDepth == 16 ? 16 : 8);
    ASSERT_EQ(image.pixels.size(), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(image.pixels[i], c.expected[i])
          << "pixel " << i << ": got " << Describe(image.pixels[i]) << ", expected " << Describe(c.expected[i]);
  }
}

TEST(PngRead, InterlacedMatchesNonInterlaced) {
  TempDir dir;
  std::mt19937 rng(7);
  for (int depth : {8, 16}) {
    PngSpec image;
    image.width = 13;  // not a multiple of the Adam7 block: partial passes
    image.height = 11;
    image.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    image.bitDepth = depth;
    for (int i = 0; i < image.width * image.height * 4; ++i) image.samples.push_back(rng() % (1u << depth));
    ASSERT_TRUE(WriteTestPng(dir / "flat.png", image));
    image.interlaced = true;
    ASSERT_TRUE(WriteTestPng(dir / "adam7.png", image));
    const auto flat = velumbra::ReadPngRgba(dir / "flat.png", AsStored());
    const auto adam7 = velumbra::ReadPngRgba(dir / "adam7.png", AsStored());
    EXPECT_EQ(flat.pixels, adam7.pixels) << depth << "-bit";
    EXPECT_EQ(velumbra::ReadPngRgba(dir / "flat.png").pixels, velumbra::ReadPngRgba(dir / "adam7.png").pixels);
    // And both are the samples themselves, scaled.
    const unsigned sample = image.samples[37 * 4 + 1];
    EXPECT_EQ(flat.pixels[37].g, depth == 8 ? sample * 256 : S(sample));
  }
}

// --- round trips -------------------------------------------------------------------

std::vector<BMM_Color_64> RandomPixels(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<BMM_Color_64> px(n);
  for (auto& p : px) p = C(rng() & 0xFFFF, rng() & 0xFFFF, rng() & 0xFFFF, rng() & 0xFFFF);
  px[0] = C(0, 0, 0, 0);
  px[1] = C(65535, 65535, 65535, 65535);
  px[2] = C(65280, 255, 256, 1);
  return px;
}

TEST(PngRoundTrip, SixteenBitPremultipliedIsBitExactUpToFull) {
  TempDir dir;
  const int w = 37, h = 23;
  auto px = RandomPixels(size_t(w) * h, 1);
  for (auto& p : px) p = C(p.r % 65281, p.g % 65281, p.b % 65281, p.a % 65281);  // beyond full clamps
  velumbra::PngWriteOptions options;
  options.alpha = velumbra::PngAlpha::Premultiplied;
  velumbra::WritePngRgba(dir / "a.png", w, h, px.data(), options);
  const auto image = velumbra::ReadPngRgba(dir / "a.png", AsStored());
  EXPECT_EQ(image.width, w);
  EXPECT_EQ(image.height, h);
  EXPECT_EQ(image.fileBitDepth, 16);
  EXPECT_EQ(image.pixels, px);
}

TEST(PngRoundTrip, StraightAlphaThroughLibpng) {
  // A straight-alpha file as any other program writes it: half-transparent
  // white, a quarter-transparent orange, opaque grey, clear.
  TempDir dir;
  PngSpec file;
  file.width = 4;
  file.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  file.bitDepth = 16;
  file.samples = {65535, 65535, 65535, 32768, 65535, 32768, 0, 49151, 30000, 30000, 30000, 65535, 7, 8, 9, 0};
  ASSERT_TRUE(WriteTestPng(dir / "straight.png", file));
  const auto image = velumbra::ReadPngRgba(dir / "straight.png");
  // Premultiplied on the frame's scale, computed independently.
  const auto frame = [](double straight, double alpha) {
    return static_cast<WORD>(std::lround(std::lround(straight * 65280.0 / 65535.0) * std::lround(alpha * 65280.0 / 65535.0) / 65280.0));
  };
  EXPECT_EQ(image.pixels[0], C(32640, 32640, 32640, 32640));
  EXPECT_EQ(image.pixels[1].r, frame(65535, 49151));
  EXPECT_EQ(image.pixels[1].g, frame(32768, 49151));
  EXPECT_EQ(image.pixels[1].a, S(49151));
  EXPECT_EQ(image.pixels[2], C(S(30000), S(30000), S(30000), 65280));
  EXPECT_EQ(image.pixels[3], C(0, 0, 0, 0));
  // Written back: opaque and clear pixels exactly, the others within the
  // rounding; white stays white however transparent.
  velumbra::WritePngRgba(dir / "back.png", image, 16);
  const auto again = velumbra::ReadPngRgba(dir / "back.png", AsStored());
  EXPECT_EQ(again.pixels[0], C(65280, 65280, 65280, 32640));  // the file's own straight values
  EXPECT_EQ(again.pixels[2], C(S(30000), S(30000), S(30000), 65280));
  EXPECT_NEAR(again.pixels[1].g, S(32768), 2);
  EXPECT_EQ(again.pixels[3], C(0, 0, 0, 0));
}

TEST(PngRoundTrip, EightBitKeepsTheHighByte) {
  TempDir dir;
  const int w = 19, h = 7;
  const auto px = RandomPixels(size_t(w) * h, 2);
  velumbra::PngWriteOptions options;
  options.bitDepth = 8;
  options.alpha = velumbra::PngAlpha::Premultiplied;
  velumbra::WritePngRgba(dir / "a.png", w, h, px.data(), options);
  const auto image = velumbra::ReadPngRgba(dir / "a.png", AsStored());
  EXPECT_EQ(image.fileBitDepth, 8);
  ASSERT_EQ(image.pixels.size(), px.size());
  for (size_t i = 0; i < px.size(); ++i) {
    const BMM_Color_64 expected{WORD(px[i].r & 0xFF00), WORD(px[i].g & 0xFF00), WORD(px[i].b & 0xFF00),
                                WORD(px[i].a & 0xFF00)};
    ASSERT_EQ(image.pixels[i], expected) << "pixel " << i;
  }
  // The effect's full white is file white.
  const BMM_Color_64 white = C(65280, 65280, 65280, 65280);
  velumbra::WritePngRgba(dir / "w.png", 1, 1, &white, 8);
  PngSpec ref;
  ref.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  ref.samples = {255, 255, 255, 255};
  ASSERT_TRUE(WriteTestPng(dir / "w_ref.png", ref));
  EXPECT_EQ(velumbra::ReadPngRgba(dir / "w.png").pixels, velumbra::ReadPngRgba(dir / "w_ref.png").pixels);
}

TEST(PngRoundTrip, EightBitFileSurvivesReadAndWrite) {
  // A file's 8-bit values v -> v * 256 -> v, and straight colour over every
  // alpha: an 8-bit image passed through the host unchanged is the same image.
  TempDir dir;
  PngSpec image;
  image.width = 256;
  image.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (unsigned v = 0; v < 256; ++v) image.samples.insert(image.samples.end(), {v, 255 - v, v / 2, v});
  ASSERT_TRUE(WriteTestPng(dir / "in.png", image));
  const auto in = velumbra::ReadPngRgba(dir / "in.png");
  velumbra::WritePngRgba(dir / "out.png", in, in.DefaultOutputDepth());
  EXPECT_EQ(velumbra::ReadPngRgba(dir / "out.png").pixels, in.pixels);
}

TEST(PngIds, RoundTripRawValues) {
  TempDir dir;
  const int w = 17, h = 9;
  std::mt19937 rng(3);
  std::vector<WORD> objects(size_t(w) * h);
  std::vector<UBYTE> materials(size_t(w) * h);
  for (auto& v : objects) v = WORD(rng());
  for (auto& v : materials) v = UBYTE(rng());
  objects[0] = 65535;
  materials[0] = 255;
  velumbra::WriteObjectIdPng(dir / "o.png", w, h, objects.data());
  velumbra::WriteMaterialIdPng(dir / "m.png", w, h, materials.data());
  const auto o = velumbra::ReadObjectIdPng(dir / "o.png");
  const auto m = velumbra::ReadMaterialIdPng(dir / "m.png");
  EXPECT_EQ(o.fileBitDepth, 16);
  EXPECT_EQ(m.fileBitDepth, 8);
  EXPECT_EQ(o.values, objects);
  EXPECT_EQ(m.values, materials);
  EXPECT_EQ(o.width, w);
  EXPECT_EQ(m.height, h);
}

TEST(PngIds, NarrowFilesReadAsRawValues) {
  TempDir dir;
  // An 8-bit image for object IDs: raw values, not scaled to 16 bits.
  PngSpec grey8;
  grey8.width = 3;
  grey8.colorType = PNG_COLOR_TYPE_GRAY;
  grey8.samples = {0, 7, 255};
  ASSERT_TRUE(WriteTestPng(dir / "g8.png", grey8));
  EXPECT_EQ(velumbra::ReadObjectIdPng(dir / "g8.png").values, (std::vector<WORD>{0, 7, 255}));
  // 1/2/4-bit grey: unpacked, not stretched to 8 bits.
  for (int depth : {1, 2, 4}) {
    PngSpec s;
    s.width = 4;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.bitDepth = depth;
    s.samples = {0, 1, (1u << depth) - 1, 0};
    ASSERT_TRUE(WriteTestPng(dir / "low.png", s));
    EXPECT_EQ(velumbra::ReadMaterialIdPng(dir / "low.png").values,
              (std::vector<UBYTE>{0, 1, UBYTE((1u << depth) - 1), 0})) << depth;
    EXPECT_EQ(velumbra::ReadObjectIdPng(dir / "low.png").values,
              (std::vector<WORD>{0, 1, WORD((1u << depth) - 1), 0})) << depth;
  }
  // A 16-bit material image is fine while every value fits 8 bits.
  PngSpec grey16;
  grey16.width = 2;
  grey16.colorType = PNG_COLOR_TYPE_GRAY;
  grey16.bitDepth = 16;
  grey16.samples = {3, 255};
  ASSERT_TRUE(WriteTestPng(dir / "g16.png", grey16));
  EXPECT_EQ(velumbra::ReadMaterialIdPng(dir / "g16.png").values, (std::vector<UBYTE>{3, 255}));
}

TEST(PngIds, RefusesWhatIsNotAnIdImage) {
  TempDir dir;
  PngSpec wide;
  wide.width = 3;
  wide.height = 2;
  wide.colorType = PNG_COLOR_TYPE_GRAY;
  wide.bitDepth = 16;
  wide.samples = {0, 1, 2, 3, 4, 256};
  ASSERT_TRUE(WriteTestPng(dir / "wide.png", wide));
  const std::string e = ErrorOf([&] { velumbra::ReadMaterialIdPng(dir / "wide.png"); });
  EXPECT_NE(e.find("wide.png"), std::string::npos) << e;
  EXPECT_NE(e.find("256 at pixel (2, 1)"), std::string::npos) << e;

  for (int type : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_GRAY_ALPHA}) {
    PngSpec s;
    s.colorType = type;
    s.samples.assign(Channels(type), 1);
    ASSERT_TRUE(WriteTestPng(dir / "colour.png", s));
    const std::string msg = ErrorOf([&] { velumbra::ReadObjectIdPng(dir / "colour.png"); });
    EXPECT_NE(msg.find("colour.png: an ID image must be a grey PNG"), std::string::npos) << msg;
  }
}

// --- damaged and hostile files --------------------------------------------------------

void ExpectInputError(const std::filesystem::path& file, const std::string& fragment) {
  bool thrown = false;
  try {
    velumbra::ReadPngRgba(file);
  } catch (const InputError& e) {
    thrown = true;
    const std::string what = e.what();
    EXPECT_NE(what.find(file.string()), std::string::npos) << what;
    EXPECT_NE(what.find(fragment), std::string::npos) << what;
  }
  EXPECT_TRUE(thrown) << file;
}

std::string ValidPngBytes(const TempDir& dir) {
  const int w = 32, h = 32;
  const auto px = RandomPixels(size_t(w) * h, 4);
  velumbra::WritePngRgba(dir / "valid.png", w, h, px.data(), 16);
  return ReadAll(dir / "valid.png");
}

TEST(PngRead, RejectsFilesThatAreNotPng) {
  TempDir dir;
  WriteAll(dir / "text.png", "this is not a picture, just some text\n");
  ExpectInputError(dir / "text.png", "not a PNG file");
  WriteAll(dir / "empty.png", "");
  ExpectInputError(dir / "empty.png", "not a PNG file");
  ExpectInputError(dir / "missing.png", "No such file");
}

TEST(PngRead, RejectsTruncatedFilesAtEveryStage) {
  TempDir dir;
  const std::string bytes = ValidPngBytes(dir);
  // Inside the signature, the header, the image data, and the missing end.
  for (size_t length : {size_t(4), size_t(8), size_t(20), size_t(40), bytes.size() / 2, bytes.size() - 1}) {
    SCOPED_TRACE(length);
    WriteAll(dir / "cut.png", bytes.substr(0, length));
    ExpectInputError(dir / "cut.png", length < 8 ? "not a PNG" : "");
  }
}

TEST(PngRead, RejectsBadChecksums) {
  TempDir dir;
  std::string bytes = ValidPngBytes(dir);
  const size_t idat = bytes.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  bytes[idat + 10] ^= 0x40;  // a data byte; the chunk's CRC no longer matches
  WriteAll(dir / "crc.png", bytes);
  ExpectInputError(dir / "crc.png", "damaged or truncated PNG");
}

void PutBE32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (24 - 8 * i));
}

TEST(PngRead, SizeLimitCheckedBeforeAllocating) {
  TempDir dir;
  // A small file whose header claims 60000 x 60000 pixels (3.6 billion): it
  // must be refused from the header, not by trying to allocate 28 GiB.
  std::string bytes = ValidPngBytes(dir);
  ASSERT_EQ(bytes.substr(12, 4), "IHDR");
  PutBE32(bytes, 16, 60000);
  PutBE32(bytes, 20, 60000);
  const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17));
  PutBE32(bytes, 29, crc);
  WriteAll(dir / "huge.png", bytes);
  ExpectInputError(dir / "huge.png", "60000 x 60000 pixels is more than the limit of 268435456");

  // The limit is configurable and inclusive.
  const BMM_Color_64 px[12] = {};
  velumbra::WritePngRgba(dir / "small.png", 4, 3, px, 8);
  EXPECT_NO_THROW(velumbra::ReadPngRgba(dir / "small.png", {12}));
  EXPECT_THROW(velumbra::ReadPngRgba(dir / "small.png", {11}), InputError);
  EXPECT_THROW(velumbra::ReadObjectIdPng(dir / "small.png", {11}), InputError);
}

TEST(PngWrite, FailureLeavesTheExistingFileAndNamesIt) {
  TempDir dir;
  const auto target = dir / "out.png";
  WriteAll(target, "previous contents");
  const int w = 256, h = 256;
  const auto px = RandomPixels(size_t(w) * h, 5);  // about 512 KiB of noise
  std::string message;
  {
    FileSizeLimit limit(4096);
    try {
      velumbra::WritePngRgba(target, w, h, px.data(), 16);
    } catch (const SystemError& e) {
      message = e.what();
    }
  }
  EXPECT_NE(message.find(target.string()), std::string::npos) << message;
  EXPECT_NE(message.find("File too large"), std::string::npos) << message;
  EXPECT_EQ(ReadAll(target), "previous contents");
  EXPECT_EQ(CountEntries(dir.Path()), 1) << "a temporary file was left behind";
}

}  // namespace
