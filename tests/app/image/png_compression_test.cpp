// Every PNG compression writes the same pixels; only size and speed differ.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "host/app/image/png_io.h"
#include "support/temp_dir.h"

namespace {

using velumbra::PngCompression;

// A frame like the command writes: mostly transparent black, with sparse
// stars of every value and a few busy rows.
std::vector<BMM_Color_64> StarFrame(int w, int h) {
  std::vector<BMM_Color_64> px(static_cast<size_t>(w) * h);
  std::uint32_t s = 12345;
  const auto next = [&] { return s = s * 1664525u + 1013904223u; };
  for (int i = 0; i < w * h / 50; ++i) {
    BMM_Color_64& p = px[next() % px.size()];
    p = {static_cast<WORD>(next() >> 16), static_cast<WORD>(next() >> 16), static_cast<WORD>(next() >> 16),
         static_cast<WORD>(next() >> 16)};
  }
  for (int x = 0; x < w; ++x) px[static_cast<size_t>(3 * w + x)] = {static_cast<WORD>(x * 97), 65280, 0, 65535};
  return px;
}

TEST(PngCompression, EveryChoiceDecodesToTheSamePixels) {
  TempDir dir;
  const int w = 173, h = 61;
  const std::vector<BMM_Color_64> px = StarFrame(w, h);
  for (const int depth : {8, 16}) {
    std::vector<BMM_Color_64> reference;
    for (const char* name : {"fast", "default", "small", "none"}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(depth) + " bits");
      const auto compression = velumbra::ParsePngCompression(name);
      ASSERT_TRUE(compression.has_value());
      const auto file = dir.Path() / (std::string(name) + ".png");
      velumbra::PngWriteOptions options;
      options.bitDepth = depth;
      options.compression = *compression;
      options.alpha = velumbra::PngAlpha::Premultiplied;  // the frame's values as they are
      velumbra::WritePngRgba(file, w, h, px.data(), options);
      velumbra::ImageReadOptions read;
      read.alpha = velumbra::PngAlpha::Premultiplied;
      const auto image = velumbra::ReadPngRgba(file, read);
      if (reference.empty()) reference = image.pixels;
      else EXPECT_EQ(image.pixels, reference);
      // Through memory, for a pipe or the browser: the same file.
      const std::string bytes = velumbra::EncodePngRgba(w, h, px.data(), options);
      EXPECT_EQ(bytes.size(), std::filesystem::file_size(file));
    }
  }
  EXPECT_FALSE(velumbra::ParsePngCompression("zip").has_value());
  // Stored rows are far larger than run-length compressed ones.
  EXPECT_GT(std::filesystem::file_size(dir.Path() / "none.png"), 3 * std::filesystem::file_size(dir.Path() / "fast.png"));
}

}  // namespace
