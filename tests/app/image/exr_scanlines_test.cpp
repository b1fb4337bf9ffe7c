// The zip, zips and none writer of host/app/image/exr_scanlines.cpp
// against OpenEXR's own reader and the library's writer for the other
// compressions.
#include "host/app/image/exr_scanlines.h"

#include <gtest/gtest.h>

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfMatrixAttribute.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {

using velumbra::ExrColourType;
using velumbra::ExrCompression;
using velumbra::ExrIdType;
using velumbra::ExrWriteOptions;
using velumbra::FloatRgba;

// The format's transform written the plain way: split, then differences
// from the back.
std::vector<std::uint8_t> PredictPlainly(const std::vector<std::uint8_t>& in) {
  std::vector<std::uint8_t> t;
  for (size_t i = 0; i < in.size(); i += 2) t.push_back(in[i]);
  for (size_t i = 1; i < in.size(); i += 2) t.push_back(in[i]);
  for (size_t i = t.size(); i-- > 1;) t[i] = static_cast<std::uint8_t>(t[i] - t[i - 1] + 128);
  return t;
}

TEST(ExrZipPredict, SplitsAndDifferencesLikeTheTwoStepTransformForEveryLength) {
  std::mt19937 rng(7);
  for (size_t n = 0; n <= 41; ++n) {
    std::vector<std::uint8_t> in(n);
    for (auto& b : in) b = static_cast<std::uint8_t>(rng());
    std::vector<std::uint8_t> out(n);
    velumbra::ExrZipPredict(in.data(), n, out.data());
    EXPECT_EQ(out, PredictPlainly(in)) << n;
  }
}

// A frame of a star field's kind: black, sparse points, one band of noise
// (incompressible: its chunks are stored raw), values beyond 1, and IDs.
struct Frame {
  int width = 53, height = 300;  // past one batch of 256 lines and not a whole number of zip chunks
  std::vector<FloatRgba> colour;
  std::vector<WORD> objectIds;
  std::vector<UBYTE> materialIds;
  Frame() {
    const size_t n = size_t(width) * size_t(height);
    colour.resize(n);
    objectIds.resize(n);
    materialIds.resize(n);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 4.0f);
    for (size_t i = 0; i < n; i += 37) colour[i] = {u(rng), u(rng), u(rng), 1.0f};
    for (int y = 100; y < 140; ++y)
      for (int x = 0; x < width; ++x) colour[size_t(y) * width + x] = {u(rng), u(rng), u(rng), u(rng)};
    for (size_t i = 0; i < n; ++i) {
      objectIds[i] = static_cast<WORD>(i % 70001);
      materialIds[i] = static_cast<UBYTE>(i / 7);
    }
  }
};

// Reads channel `name` as `type` samples.
template <class T>
std::vector<T> ReadChannel(Imf::InputFile& in, const char* name, Imf::PixelType type, int w, int h) {
  std::vector<T> v(size_t(w) * h);
  Imf::FrameBuffer fb;
  fb.insert(name, Imf::Slice(type, reinterpret_cast<char*>(v.data()), sizeof(T), sizeof(T) * size_t(w)));
  in.setFrameBuffer(fb);
  in.readPixels(0, h - 1);
  return v;
}

TEST(ExrScanlines, EveryCompressionTypeAndIdTypeReadsBackAsWritten) {
  TempDir dir;
  const Frame f;
  velumbra::ExrMatrix m;
  for (int i = 0; i < 4; ++i) m.m[i][i] = float(i + 2);
  const std::pair<ExrCompression, Imf::Compression> compressions[] = {
      {ExrCompression::Zip, Imf::ZIP_COMPRESSION}, {ExrCompression::Zips, Imf::ZIPS_COMPRESSION},
      {ExrCompression::None, Imf::NO_COMPRESSION}, {ExrCompression::Rle, Imf::RLE_COMPRESSION},
      {ExrCompression::Piz, Imf::PIZ_COMPRESSION}};
  for (const auto& [c, imfCompression] : compressions) {
    for (const ExrColourType colour : {ExrColourType::Float, ExrColourType::Half}) {
      for (const ExrIdType ids : {ExrIdType::Float, ExrIdType::Uint}) {
        SCOPED_TRACE(std::to_string(int(c)) + " colour " + std::to_string(int(colour)) + " ids " +
                     std::to_string(int(ids)));
        ExrWriteOptions options;
        options.compression = c;
        options.colour = colour;
        options.ids = ids;
        options.camera.worldToCamera = m;
        const auto file = dir / "f.exr";
        velumbra::WriteExr(file, f.width, f.height, f.colour.data(), f.objectIds.data(), f.materialIds.data(),
                           options);
        Imf::InputFile in(file.c_str());
        const Imf::Header& header = in.header();
        EXPECT_EQ(header.compression(), imfCompression);
        const Imath::Box2i window = header.dataWindow();
        ASSERT_EQ(window.max.x, f.width - 1);
        ASSERT_EQ(window.max.y, f.height - 1);
        int channels = 0;
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it) ++channels;
        EXPECT_EQ(channels, 6);
        const auto* camera = header.findTypedAttribute<Imf::M44fAttribute>("worldToCamera");
        ASSERT_NE(camera, nullptr);
        EXPECT_EQ(camera->value()[3][3], 5.0f);
        EXPECT_EQ(header.findTypedAttribute<Imf::M44fAttribute>("worldToNDC"), nullptr);
        const char* names[] = {"R", "G", "B", "A"};
        for (int ch = 0; ch < 4; ++ch) {
          ASSERT_EQ(header.channels().findChannel(names[ch])->type,
                    colour == ExrColourType::Half ? Imf::HALF : Imf::FLOAT);
          const auto want = [&](size_t i) { return (&f.colour[i].r)[ch]; };
          if (colour == ExrColourType::Half) {
            const auto got = ReadChannel<half>(in, names[ch], Imf::HALF, f.width, f.height);
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i].bits(), half(want(i)).bits()) << names[ch] << i;
          } else {
            const auto got = ReadChannel<float>(in, names[ch], Imf::FLOAT, f.width, f.height);
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want(i)) << names[ch] << i;
          }
        }
        const Imf::PixelType idType = ids == ExrIdType::Uint ? Imf::UINT : Imf::FLOAT;
        ASSERT_EQ(header.channels().findChannel("ObjectID")->type, idType);
        ASSERT_EQ(header.channels().findChannel("MaterialID")->type, idType);
        if (ids == ExrIdType::Uint) {
          const auto object = ReadChannel<std::uint32_t>(in, "ObjectID", Imf::UINT, f.width, f.height);
          const auto material = ReadChannel<std::uint32_t>(in, "MaterialID", Imf::UINT, f.width, f.height);
          for (size_t i = 0; i < object.size(); ++i) {
            ASSERT_EQ(object[i], f.objectIds[i]) << i;
            ASSERT_EQ(material[i], f.materialIds[i]) << i;
          }
        } else {
          const auto object = ReadChannel<float>(in, "ObjectID", Imf::FLOAT, f.width, f.height);
          const auto material = ReadChannel<float>(in, "MaterialID", Imf::FLOAT, f.width, f.height);
          for (size_t i = 0; i < object.size(); ++i) {
            ASSERT_EQ(object[i], float(f.objectIds[i])) << i;
            ASSERT_EQ(material[i], float(f.materialIds[i])) << i;
          }
        }
      }
    }
  }
}

TEST(ExrScanlines, ZipIsSmallerThanNoneAndAnEmptyFrameAlmostNothing) {
  TempDir dir;
  const int w = 640, h = 480;
  const std::vector<FloatRgba> black(size_t(w) * h);
  ExrWriteOptions options;
  options.colour = ExrColourType::Float;
  velumbra::WriteExr(dir / "zip.exr", w, h, black.data(), nullptr, nullptr, options);
  options.compression = ExrCompression::None;
  velumbra::WriteExr(dir / "none.exr", w, h, black.data(), nullptr, nullptr, options);
  EXPECT_GE(std::filesystem::file_size(dir / "none.exr"), size_t(w) * h * 16);
  EXPECT_LT(std::filesystem::file_size(dir / "zip.exr"), size_t{20000});
}

}  // namespace
