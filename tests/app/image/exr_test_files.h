// EXR test inputs written with the OpenEXR library directly, so that the
// reader under test is checked against files it did not write.
#pragma once

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfTileDescriptionAttribute.h>
#include <OpenEXR/ImfTiledOutputFile.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/app/base/app_error.h"
#include <vector>

struct TestChannel {
  std::string name;
  Imf::PixelType type = Imf::FLOAT;
  std::vector<float> values;         // HALF and FLOAT channels, data window order
  std::vector<std::uint32_t> uints;  // UINT channels
};

struct TestExr {
  Imath::Box2i display{Imath::V2i(0, 0), Imath::V2i(3, 2)};
  Imath::Box2i data{Imath::V2i(0, 0), Imath::V2i(3, 2)};
  bool tiled = false;
  Imf::Compression compression = Imf::ZIP_COMPRESSION;
  std::vector<TestChannel> channels;
  Imf::Header extra;  // attributes copied into the file's header

  int DataWidth() const { return data.max.x - data.min.x + 1; }
  int DataHeight() const { return data.max.y - data.min.y + 1; }
  size_t Count() const { return size_t(DataWidth()) * DataHeight(); }
};

inline void WriteTestExr(const std::filesystem::path& file, const TestExr& layout) {
  Imf::Header header(layout.display, layout.data);
  header.compression() = layout.compression;
  for (auto it = layout.extra.begin(); it != layout.extra.end(); ++it)
    if (header.find(it.name()) == header.end()) header.insert(it.name(), it.attribute());
  Imf::FrameBuffer fb;
  std::vector<std::vector<half>> halves;  // the library writes a slice of the channel's own type
  halves.reserve(layout.channels.size());
  for (const TestChannel& c : layout.channels) {
    header.channels().insert(c.name, Imf::Channel(c.type));
    const void* data = c.type == Imf::UINT ? static_cast<const void*>(c.uints.data()) : c.values.data();
    size_t size = 4;
    if (c.type == Imf::HALF) {
      halves.emplace_back(c.values.begin(), c.values.end());
      data = halves.back().data();
      size = 2;
    }
    fb.insert(c.name, Imf::Slice::Make(c.type, data, layout.data, size, size * size_t(layout.DataWidth())));
  }
  if (layout.tiled) {
    header.setTileDescription(Imf::TileDescription(3, 2, Imf::ONE_LEVEL));
    Imf::TiledOutputFile out(file.c_str(), header);
    out.setFrameBuffer(fb);
    out.writeTiles(0, out.numXTiles() - 1, 0, out.numYTiles() - 1);
  } else {
    Imf::OutputFile out(file.c_str(), header);
    out.setFrameBuffer(fb);
    out.writePixels(layout.DataHeight());
  }
}

// A channel of `count` samples, all `v`.
inline TestChannel Filled(const std::string& name, size_t count, float v, Imf::PixelType type = Imf::FLOAT) {
  return {name, type, std::vector<float>(count, v), {}};
}

// The message of the InputError `fn` throws ("" when it throws none).
template <class Fn>
std::string InputErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const velumbra::InputError& e) {
    return e.what();
  }
  return "";
}
