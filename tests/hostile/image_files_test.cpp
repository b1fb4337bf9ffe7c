// Hostile image files: sizes beyond the limit (and the limit's setting),
// empty images, and damaged or cut-short PNG and EXR files. Every one is
// an InputError naming the file, and nothing is allocated for a size the
// limit refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "hostile/hostile_support.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/hdr_merge.h"
#include "host/app/image/image_limits.h"
#include "host/app/image/png_io.h"
#include "host/app/scene/scene_file.h"

namespace {

using velumbra::kMaxPixelsVariable;

void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

std::string Chunk(const char* type, const std::string& data) {
  std::string c;
  Put32(c, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  c += body;
  Put32(c, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return c;
}

// A PNG of the given header and an empty IDAT: enough for the reader to
// judge the size, which it must do before reading the data.
std::string PngHeaderOnly(std::uint32_t width, std::uint32_t height, int depth = 8, int colourType = 6) {
  std::string ihdr;
  Put32(ihdr, width);
  Put32(ihdr, height);
  ihdr += static_cast<char>(depth);
  ihdr += static_cast<char>(colourType);
  ihdr += std::string(3, '\0');
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", "") + Chunk("IEND", "");
}

std::vector<BMM_Color_64> Gradient(int width, int height) {
  std::vector<BMM_Color_64> px(size_t(width) * height);
  for (size_t i = 0; i < px.size(); ++i)
    px[i] = {WORD(i * 977), WORD(i * 331), WORD(65280 - i * 7), WORD(i % 2 ? 65280 : 30000)};
  return px;
}

class HostileImages : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(HostileImages, TheSizeLimitIsCheckedBeforeAllocatingAndCanBeSet) {
  const auto huge = dir / "huge.png";
  WriteAll(huge, PngHeaderOnly(100000, 100000));
  {
    ScopedEnv unset(kMaxPixelsVariable, std::nullopt);
    EXPECT_EQ(velumbra::MaxImagePixels(), velumbra::kDefaultMaxImagePixels);
    ExpectInputError([&] { velumbra::ReadPngRgba(huge); },
                     {huge.string(), "100000 x 100000 pixels is more than the limit of 268435456", kMaxPixelsVariable});
    ExpectInputError([&] { velumbra::ReadObjectIdPng(huge); }, {huge.string(), "more than the limit"});
  }

  // A 20 x 10 image, and a limit of 199 or 200 pixels.
  const auto small = dir / "small.png";
  const std::vector<BMM_Color_64> px = Gradient(20, 10);
  velumbra::PngWriteOptions asIs;
  asIs.alpha = velumbra::PngAlpha::Premultiplied;
  velumbra::WritePngRgba(small, 20, 10, px.data(), asIs);
  std::vector<BMM_Color_64> clamped = px;  // a PNG holds values up to full
  for (BMM_Color_64& p : clamped)
    p = {std::min<WORD>(p.r, 65280), std::min<WORD>(p.g, 65280), std::min<WORD>(p.b, 65280), std::min<WORD>(p.a, 65280)};
  const auto exr = dir / "small.exr";
  const std::vector<velumbra::FloatRgba> floats = velumbra::FloatsFrom16(px);
  velumbra::ExrWriteOptions exact;
  exact.colour = velumbra::ExrColourType::Float;  // every 16-bit value survives
  velumbra::WriteExr(exr, 20, 10, floats.data(), nullptr, nullptr, exact);
  {
    ScopedEnv limit(kMaxPixelsVariable, "199");
    ExpectInputError([&] { velumbra::ReadPngRgba(small); }, {small.string(), "20 x 10 pixels is more than the limit of 199"});
    ExpectInputError([&] { velumbra::ReadExrRgba(exr); }, {exr.string(), "20 x 10 pixels is more than the limit of 199"});
    ExpectInputError([] { velumbra::ParseScene(R"({"render": {"width": 20, "height": 10},
        "nodes": [{"name": "c", "type": "camera"}]})", "s.json", ""); },
                     {"s.json: /render: 20 x 10 pixels is more than the limit of 199 pixels (VELUMBRA_MAX_PIXELS"});
  }
  {
    ScopedEnv limit(kMaxPixelsVariable, "200");
    velumbra::ImageReadOptions premultiplied;  // the limit as the variable says now
    premultiplied.alpha = velumbra::PngAlpha::Premultiplied;
    EXPECT_EQ(velumbra::ReadPngRgba(small, premultiplied).pixels, clamped);
    EXPECT_EQ(velumbra::ReadExrRgba(exr).pixels, px);
  }
  // Values that are not a whole number of pixels name the variable.
  for (const char* bad : {"", "0", "-5", "12abc", "1e6", "99999999999999999999", "4611686018427387905"}) {
    SCOPED_TRACE(bad);
    ScopedEnv limit(kMaxPixelsVariable, bad);
    ExpectInputError([] { velumbra::MaxImagePixels(); }, {kMaxPixelsVariable, "expected a whole number of pixels"});
    ExpectInputError([&] { velumbra::ReadPngRgba(small); }, {kMaxPixelsVariable});
  }
}

TEST_F(HostileImages, ZeroSizedImagesAreRefused) {
  for (const auto& [w, h] : {std::pair{0u, 5u}, std::pair{5u, 0u}, std::pair{0u, 0u}}) {
    const auto file = dir / ("zero" + std::to_string(w) + "x" + std::to_string(h) + ".png");
    WriteAll(file, PngHeaderOnly(w, h));
    ExpectInputError([&] { velumbra::ReadPngRgba(file); }, {file.string()});
    ExpectInputError([&] { velumbra::ReadMaterialIdPng(file); }, {file.string()});
  }
  // An EXR whose data window is empty (max below min), made by editing the
  // header of a good file.
  const auto exr = dir / "empty.exr";
  const std::vector<velumbra::FloatRgba> px(6);
  velumbra::WriteExr(exr, 3, 2, px.data(), nullptr, nullptr);
  std::string bytes = ReadAll(exr);
  const std::string attribute("dataWindow\0box2i\0", 17);
  const size_t at = bytes.find(attribute);
  ASSERT_NE(at, std::string::npos);
  const size_t box = at + attribute.size() + 4;  // after the size: xMin, yMin, xMax, yMax
  const std::int32_t xMax = -1;
  std::memcpy(&bytes[box + 8], &xMax, 4);
  WriteAll(exr, bytes);
  ExpectInputError([&] { velumbra::ReadExrRgba(exr); }, {exr.string()});
  // The same edit making the window enormous instead.
  const std::int32_t wide = 2000000000;
  std::memcpy(&bytes[box + 8], &wide, 4);
  WriteAll(exr, bytes);
  ExpectInputError([&] { velumbra::ReadExrRgba(exr); }, {exr.string()});
}

// Prefixes of a good file are refused, and so is the file with one byte
// inverted unless the reader can still read it whole (an inverted byte of
// an ancillary field); nothing else escapes, and under the sanitizers
// nothing is read out of bounds.
TEST_F(HostileImages, CutShortAndDamagedPngFilesAreRefused) {
  const auto good = dir / "good.png";
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    const std::vector<BMM_Color_64> px = Gradient(7, 5);
    velumbra::WritePngRgba(good, 7, 5, px.data(), depth);
    const std::string bytes = ReadAll(good);
    const auto bad = dir / "bad.png";
    for (size_t n = 0; n < bytes.size(); ++n) {
      WriteAll(bad, bytes.substr(0, n));
      ExpectInputError([&] { velumbra::ReadPngRgba(bad); }, {bad.string()});
    }
    int refused = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
      std::string damaged = bytes;
      damaged[i] = static_cast<char>(~damaged[i]);
      WriteAll(bad, damaged);
      try {
        const velumbra::RgbaImage image = velumbra::ReadPngRgba(bad);
        EXPECT_EQ(image.pixels.size(), size_t(image.width) * image.height);
      } catch (const velumbra::InputError& e) {
        ++refused;
        EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
      }
    }
    // Every chunk is covered by its CRC: nearly every inversion is caught.
    EXPECT_GE(refused, static_cast<int>(bytes.size()) - 8);
  }
}

TEST_F(HostileImages, CutShortAndDamagedExrFilesAreRefused) {
  const auto good = dir / "good.exr";
  const std::vector<BMM_Color_64> px = Gradient(9, 6);
  const std::vector<velumbra::FloatRgba> floats = velumbra::FloatsFrom16(px);
  std::vector<WORD> ids(px.size());
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = WORD(i);
  velumbra::WriteExr(good, 9, 6, floats.data(), ids.data(), nullptr);
  const std::string bytes = ReadAll(good);
  const auto bad = dir / "bad.exr";
  // Every length through the magic number and version, then every 7th
  // (each read of an OpenEXR file is slow under the sanitizers; the
  // exr_reader fuzz target covers the rest).
  for (size_t n = 0; n < bytes.size(); n += n < 64 ? 1 : 7) {
    WriteAll(bad, bytes.substr(0, n));
    ExpectInputError([&] { velumbra::ReadExrRgba(bad); }, {bad.string()});
  }
  // OpenEXR has no checksums: an inverted byte of pixel data may read as
  // other pixels. Whatever is read must be whole; anything else an
  // InputError naming the file.
  for (size_t i = 0; i < bytes.size(); i += 5) {
    std::string damaged = bytes;
    damaged[i] = static_cast<char>(~damaged[i]);
    WriteAll(bad, damaged);
    try {
      velumbra::ExrReader reader(bad);
      const velumbra::ExrFrame frame = reader.ReadFrame(reader.FindIdChannel(velumbra::IdKind::Object).value_or(""), "");
      EXPECT_EQ(frame.image.pixels.size(), size_t(reader.Width()) * reader.Height());
    } catch (const velumbra::InputError& e) {
      EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
    }
  }
}

}  // namespace
