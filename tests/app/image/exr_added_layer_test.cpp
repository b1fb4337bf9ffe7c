// The float layer an OpenEXR output can carry beside the colour (the star
// light, stars.R .G .B .A): every writer, read back by OpenEXR's own reader.
#include <gtest/gtest.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/app/image/exr_io.h"
#include "support/temp_dir.h"

namespace {

using velumbra::ExrColourType;
using velumbra::ExrCompression;
using velumbra::ExrIdType;
using velumbra::ExrWriteOptions;
using velumbra::FloatRgba;

// Channel `name` of `file` read as FLOAT (w x h from the origin).
std::vector<float> ReadFloats(const std::filesystem::path& file, const std::string& name, int w, int h) {
  Imf::InputFile in(file.c_str());
  std::vector<float> v(size_t(w) * size_t(h), -1.0f);
  Imf::FrameBuffer fb;
  fb.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(v.data()), sizeof(float), sizeof(float) * size_t(w)));
  in.setFrameBuffer(fb);
  in.readPixels(0, h - 1);
  return v;
}

std::vector<std::pair<std::string, Imf::PixelType>> ChannelsOf(const std::filesystem::path& file) {
  Imf::InputFile in(file.c_str());
  std::vector<std::pair<std::string, Imf::PixelType>> out;
  for (auto it = in.header().channels().begin(); it != in.header().channels().end(); ++it)
    out.emplace_back(it.name(), it.channel().type);
  return out;
}

// Light of a star layer's kind: mostly 0, a few points, some far above 1
// (a bright star's core), some tiny (a faint star's rim).
struct LightFrame {
  int width = 37, height = 41;  // a zip chunk is 16 lines: the last one is short
  std::vector<FloatRgba> colour, light;
  std::vector<WORD> objectIds;
  std::vector<UBYTE> materialIds;
  LightFrame() {
    const size_t n = size_t(width) * size_t(height);
    colour.resize(n);
    light.resize(n);
    objectIds.assign(n, 3);
    materialIds.assign(n, 9);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (size_t i = 0; i < n; i += 7) colour[i] = {u(rng), u(rng), u(rng), 1.0f};
    for (size_t i = 3; i < n; i += 11) light[i] = {40.0f * u(rng), 1e-6f * u(rng), u(rng), u(rng)};
  }
};

TEST(ExrAddedLayer, EveryCompressionWritesTheLayerAsExactFloatsBesideAnUnchangedColour) {
  TempDir dir;
  const LightFrame f;
  for (const ExrCompression c : {ExrCompression::Zip, ExrCompression::Zips, ExrCompression::None,
                                 ExrCompression::Rle, ExrCompression::Piz, ExrCompression::Dwaa}) {
    for (const ExrColourType colour : {ExrColourType::Float, ExrColourType::Half}) {
      for (const bool ids : {true, false}) {
        SCOPED_TRACE("compression " + std::to_string(int(c)) + " colour " + std::to_string(int(colour)) +
                     (ids ? " with IDs" : " without IDs"));
        ExrWriteOptions options;
        options.compression = c;
        options.colour = colour;
        options.ids = ExrIdType::Uint;
        const auto plain = dir / "plain.exr", layered = dir / "layered.exr";
        velumbra::WriteExr(plain, f.width, f.height, f.colour.data(), ids ? f.objectIds.data() : nullptr,
                           ids ? f.materialIds.data() : nullptr, options);
        options.addedLayer = "stars";
        std::atomic<int> rowsAsked = 0;  // rows are filled on several threads
        options.addedLayerRows = [&](int y, FloatRgba* row) {
          ++rowsAsked;
          std::copy_n(f.light.data() + size_t(y) * size_t(f.width), f.width, row);
        };
        velumbra::WriteExr(layered, f.width, f.height, f.colour.data(), ids ? f.objectIds.data() : nullptr,
                           ids ? f.materialIds.data() : nullptr, options);
        EXPECT_EQ(rowsAsked.load(), f.height);

        std::vector<std::pair<std::string, Imf::PixelType>> expected = ChannelsOf(plain);
        for (const char* name : {"stars.A", "stars.B", "stars.G", "stars.R"}) expected.emplace_back(name, Imf::FLOAT);
        EXPECT_EQ(ChannelsOf(layered), expected);
        // The layer is exact but where the user asked for lossy colour:
        // dwaa treats stars.R .G .B as colour channels, as it does R G B
        // (lossy by a DCT, so that only the alpha is checked there).
        const char* components[] = {"R", "G", "B", "A"};
        for (int k = 0; k < 4; ++k) {
          const std::vector<float> read = ReadFloats(layered, std::string("stars.") + components[k], f.width, f.height);
          for (size_t i = 0; i < read.size(); ++i) {
            const float want = k == 0 ? f.light[i].r : k == 1 ? f.light[i].g : k == 2 ? f.light[i].b : f.light[i].a;
            if (c != ExrCompression::Dwaa || k == 3) ASSERT_EQ(read[i], want) << components[k] << " pixel " << i;
          }
          // The colour and IDs come back as without the layer (dwaa's
          // lossy colour depends on the channels beside it).
          if (c != ExrCompression::Dwaa)
            EXPECT_EQ(ReadFloats(layered, components[k], f.width, f.height),
                      ReadFloats(plain, components[k], f.width, f.height));
        }
        if (ids)
          EXPECT_EQ(ReadFloats(layered, "ObjectID", f.width, f.height), ReadFloats(plain, "ObjectID", f.width, f.height));
      }
    }
  }
}

TEST(ExrAddedLayer, TheFastWriterRefusesALayerThatWouldSortAmongTheColour) {
  // Its channels are laid out after R in every line; a name sorting before
  // R would put them elsewhere in the file's order.
  TempDir dir;
  const LightFrame f;
  ExrWriteOptions options;
  options.addedLayer = "Aux";
  options.addedLayerRows = [&](int, FloatRgba* row) { std::fill_n(row, f.width, FloatRgba{}); };
  EXPECT_THROW(velumbra::WriteExr(dir / "x.exr", f.width, f.height, f.colour.data(), nullptr, nullptr, options),
               std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.exr"));
}

}  // namespace
