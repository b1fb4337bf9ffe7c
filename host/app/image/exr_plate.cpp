#include "host/app/image/exr_plate.h"

#include <Imath/half.h>
#include <OpenEXR/Iex.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfMatrixAttribute.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/ImfThreading.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <cstring>
#include <stdexcept>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/image/exr_memory_stream.h"

namespace velumbra {

struct ExrPlate::Impl {
  Imf::Header header;
  std::string cannotCarry;
  std::vector<std::string> names;
  // One plane per channel (names' order), data-window rows top to bottom,
  // samples of the channel's own size (2 bytes HALF, 4 FLOAT or UINT).
  std::vector<std::vector<char>> planes;
  std::vector<Imf::PixelType> types;
  int width = 0, height = 0;          // display window
  int dataWidth = 0, dataHeight = 0;  // data window
};

namespace {

size_t SampleSize(Imf::PixelType t) { return t == Imf::HALF ? 2 : 4; }

// Writes v as a sample of `type` at `p` (UINT: rounded and clamped).
void StoreSample(Imf::PixelType type, char* p, float v) {
  if (type == Imf::HALF) {
    const half h(v);
    std::memcpy(p, &h, sizeof h);
  } else if (type == Imf::FLOAT) {
    std::memcpy(p, &v, sizeof v);
  } else {
    const double r = std::isfinite(v) ? std::round(static_cast<double>(v)) : 0.0;
    const std::uint32_t u = r <= 0 ? 0u : r >= 4294967295.0 ? 4294967295u : static_cast<std::uint32_t>(r);
    std::memcpy(p, &u, sizeof u);
  }
}

Imath::M44f ToImath(const ExrMatrix& m) {
  Imath::M44f out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i][j] = m.m[i][j];
  return out;
}

}  // namespace

ExrPlate ExrPlate::Read(const std::filesystem::path& file, const ImageReadOptions& options) {
  // The reader's checks first (a missing file, another kind of file, the
  // window limits), with its messages.
  ExrReader check(file, options);
  auto im = std::make_shared<Impl>();
  try {
    EnableExrThreads();
    Imf::InputFile in(file.c_str(), Imf::globalThreadCount());
    im->header = in.header();
    const Imath::Box2i display = im->header.displayWindow();
    const Imath::Box2i data = im->header.dataWindow();
    im->width = display.max.x - display.min.x + 1;
    im->height = display.max.y - display.min.y + 1;
    im->dataWidth = data.max.x - data.min.x + 1;
    im->dataHeight = data.max.y - data.min.y + 1;
    const Imf::ChannelList& list = im->header.channels();
    for (auto it = list.begin(); it != list.end(); ++it) {
      im->names.emplace_back(it.name());
      im->types.push_back(it.channel().type);
      if (im->cannotCarry.empty() && (it.channel().xSampling != 1 || it.channel().ySampling != 1))
        im->cannotCarry = "the channel " + std::string(it.name()) + " is subsampled (" +
                          std::to_string(it.channel().xSampling) + " x " + std::to_string(it.channel().ySampling) + ")";
    }
    if (im->header.hasType() && Imf::isDeepData(im->header.type())) im->cannotCarry = "it holds deep data";
    if (!im->cannotCarry.empty()) {
      ExrPlate plate;
      plate.impl_ = std::move(im);
      return plate;
    }
    const std::uint64_t pixels = std::uint64_t(im->dataWidth) * std::uint64_t(im->dataHeight);
    if (pixels * im->names.size() > options.maxPixels * 32)
      throw InputError(file.string() + ": " + std::to_string(im->names.size()) + " channels of " +
                       std::to_string(pixels) + " samples are more than the image limit allows to carry through");
    Imf::FrameBuffer fb;
    im->planes.resize(im->names.size());
    for (size_t c = 0; c < im->names.size(); ++c) {
      const size_t size = SampleSize(im->types[c]);
      im->planes[c].assign(pixels * size, 0);
      fb.insert(im->names[c], Imf::Slice::Make(im->types[c], im->planes[c].data(), data, size,
                                               size * static_cast<size_t>(im->dataWidth)));
    }
    in.setFrameBuffer(fb);
    in.readPixels(data.min.y, data.max.y);
  } catch (const Iex::BaseExc& e) {
    throw InputError(file.string() + ": cannot read the OpenEXR image (" + e.what() + ")");
  }
  ExrPlate plate;
  plate.impl_ = std::move(im);
  return plate;
}

const std::string& ExrPlate::CannotCarry() const { return impl_->cannotCarry; }
const std::vector<std::string>& ExrPlate::Channels() const { return impl_->names; }
int ExrPlate::Width() const { return impl_->width; }
int ExrPlate::Height() const { return impl_->height; }

namespace {

// Lossy compressions change samples the render did not touch each time a
// file is written again (a DWAA plate of no stars: 2,142 of 3,072 samples;
// B44: every alpha sample): a plate read from one is written ZIP unless the
// output's compression is asked for.
bool IsLossy(Imf::Compression c) {
  return c == Imf::DWAA_COMPRESSION || c == Imf::DWAB_COMPRESSION || c == Imf::B44_COMPRESSION ||
         c == Imf::B44A_COMPRESSION || c == Imf::PXR24_COMPRESSION;
}

}  // namespace

void WriteExrOverPlate(const std::filesystem::path& file, const ExrPlate& plate, const PlateEdits& edits) {
  if (!plate.CannotCarry().empty())
    throw std::invalid_argument("WriteExrOverPlate: the plate cannot be carried: " + plate.CannotCarry());
  const ExrPlate::Impl& im = *plate.impl_;
  const size_t count = size_t(im.width) * size_t(im.height);
  if (edits.input16.size() != count || edits.output16.size() != count)
    throw std::invalid_argument("WriteExrOverPlate: the pixels are not the plate's size");
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw SystemError("cannot write " + file.string() + ": it exists and is not a regular file");

  const auto indexOf = [&](const std::string& name) -> long {
    for (size_t c = 0; c < im.names.size(); ++c)
      if (im.names[c] == name) return static_cast<long>(c);
    return -1;
  };
  // The planes written: copies of the plate's, changed where the effect
  // changed a pixel.
  std::vector<std::vector<char>> planes = im.planes;
  const Imath::Box2i display = im.header.displayWindow();
  const Imath::Box2i data = im.header.dataWindow();
  // Display pixel (x, y) is sample (x + dx, y + dy) of the data window.
  const int dx = display.min.x - data.min.x, dy = display.min.y - data.min.y;
  const auto forEachInData = [&](auto&& fn) {
    for (int y = 0; y < im.height; ++y) {
      const int sy = y + dy;
      if (sy < 0 || sy >= im.dataHeight) continue;
      for (int x = 0; x < im.width; ++x) {
        const int sx = x + dx;
        if (sx < 0 || sx >= im.dataWidth) continue;
        fn(size_t(y) * size_t(im.width) + size_t(x), size_t(sy) * size_t(im.dataWidth) + size_t(sx));
      }
    }
  };

  const char* const components[] = {"R", "G", "B", "A"};
  long colour[4] = {-1, -1, -1, -1};
  for (int c = 0; c < (edits.hasAlpha ? 4 : 3); ++c) {
    colour[c] = indexOf(edits.colourLayer + components[c]);
    if (colour[c] < 0)
      throw std::invalid_argument("WriteExrOverPlate: no channel " + edits.colourLayer + components[c]);
  }
  forEachInData([&](size_t pixel, size_t sample) {
    const BMM_Color_64& o = edits.output16[pixel];
    // With floats every pixel is written from them: they hold the input's
    // own floats where nothing changed (so those samples come back bit for
    // bit) and carry light added to values beyond the 16-bit range, which
    // the 16-bit frame cannot show.
    if (edits.outputFloats.empty() && o == edits.input16[pixel]) return;
    const WORD values[4] = {o.r, o.g, o.b, o.a};
    for (int c = 0; c < 4; ++c) {
      if (colour[c] < 0) continue;
      const auto t = im.types[size_t(colour[c])];
      const FloatRgba* fl = edits.outputFloats.empty() ? nullptr : &edits.outputFloats[pixel];
      const float f = fl ? (c == 0 ? fl->r : c == 1 ? fl->g : c == 2 ? fl->b : fl->a) : Float16ToFloat(values[c]);
      StoreSample(t, planes[size_t(colour[c])].data() + sample * SampleSize(t), f);
    }
  });

  // The input's attributes but those of tiles and parts (and the camera,
  // when it is replaced), copied into a fresh header: Header::erase of the
  // library in Debian 12 (OpenEXR 3.1) drops an attribute without freeing it.
  const std::set<std::string> dropped = edits.camera
      ? std::set<std::string>{"tiles", "type", "chunkCount", "worldToCamera", "worldToNDC"}
      : std::set<std::string>{"tiles", "type", "chunkCount"};
  Imf::Header header(display, data);
  for (auto it = im.header.begin(); it != im.header.end(); ++it)
    if (!dropped.count(it.name())) header.insert(it.name(), it.attribute());
  if (header.lineOrder() == Imf::RANDOM_Y) header.lineOrder() = Imf::INCREASING_Y;
  if (edits.compression) header.compression() = ImfCompressionOf(*edits.compression);
  else if (IsLossy(header.compression())) header.compression() = Imf::ZIP_COMPRESSION;

  // IDs: into their own channel where changed, or added at the top level.
  std::vector<std::vector<char>> added;
  std::vector<std::pair<std::string, Imf::PixelType>> addedNames;
  const auto ids = [&](const std::string& channel, const auto* in, const auto* out, const char* addName) {
    if (!out) return;
    if (!channel.empty()) {
      const long c = indexOf(channel);
      if (c < 0) throw std::invalid_argument("WriteExrOverPlate: no ID channel " + channel);
      const auto t = im.types[size_t(c)];
      forEachInData([&](size_t pixel, size_t sample) {
        if (in && in[pixel] == out[pixel]) return;
        StoreSample(t, planes[size_t(c)].data() + sample * SampleSize(t), static_cast<float>(out[pixel]));
      });
      return;
    }
    if (indexOf(addName) >= 0) return;  // the file's own channel of that name stays as it was
    const Imf::PixelType t = edits.addedIdType == ExrIdType::Uint ? Imf::UINT : Imf::FLOAT;
    std::vector<char> plane(size_t(im.dataWidth) * size_t(im.dataHeight) * SampleSize(t), 0);
    forEachInData([&](size_t pixel, size_t sample) {
      StoreSample(t, plane.data() + sample * SampleSize(t), static_cast<float>(out[pixel]));
    });
    added.push_back(std::move(plane));
    addedNames.emplace_back(addName, t);
  };
  ids(edits.objectChannel, edits.objectIn, edits.objectOut, "ObjectID");
  ids(edits.materialChannel, edits.materialIn, edits.materialOut, "MaterialID");

  // The added layer: FLOAT planes over the data window, in place of the
  // plate's own channels of its names.
  std::vector<std::string> layerNames;
  std::vector<std::vector<char>> layerPlanes;
  if (edits.addedLayerRows) {
    for (const char* c : components) layerNames.push_back(edits.addedLayer + "." + c);
    layerPlanes.assign(4, std::vector<char>(size_t(im.dataWidth) * size_t(im.dataHeight) * sizeof(float), 0));
    std::vector<FloatRgba> row(size_t(im.width));
    for (int y = 0; y < im.height; ++y) {
      const int sy = y + dy;
      if (sy < 0 || sy >= im.dataHeight) continue;
      edits.addedLayerRows(y, row.data());
      for (int x = 0; x < im.width; ++x) {
        const int sx = x + dx;
        if (sx < 0 || sx >= im.dataWidth) continue;
        const FloatRgba& f = row[size_t(x)];
        const float values[4] = {f.r, f.g, f.b, f.a};
        const size_t sample = size_t(sy) * size_t(im.dataWidth) + size_t(sx);
        for (int c = 0; c < 4; ++c)
          StoreSample(Imf::FLOAT, layerPlanes[size_t(c)].data() + sample * sizeof(float), values[c]);
      }
    }
    Imf::ChannelList kept;
    for (auto it = im.header.channels().begin(); it != im.header.channels().end(); ++it)
      if (std::find(layerNames.begin(), layerNames.end(), it.name()) == layerNames.end())
        kept.insert(it.name(), it.channel());
    header.channels() = kept;
  }

  ExrMemoryStream encoded(file.string());
  try {
    EnableExrThreads();
    Imf::FrameBuffer fb;
    for (size_t c = 0; c < im.names.size(); ++c) {
      if (std::find(layerNames.begin(), layerNames.end(), im.names[c]) != layerNames.end()) continue;
      const size_t size = SampleSize(im.types[c]);
      fb.insert(im.names[c], Imf::Slice::Make(im.types[c], planes[c].data(), data, size,
                                              size * static_cast<size_t>(im.dataWidth)));
    }
    for (size_t a = 0; a < added.size(); ++a) {
      const auto& [name, type] = addedNames[a];
      header.channels().insert(name, Imf::Channel(type));
      const size_t size = SampleSize(type);
      fb.insert(name, Imf::Slice::Make(type, added[a].data(), data, size, size * static_cast<size_t>(im.dataWidth)));
    }
    for (size_t c = 0; c < layerPlanes.size(); ++c) {
      header.channels().insert(layerNames[c], Imf::Channel(Imf::FLOAT));
      fb.insert(layerNames[c], Imf::Slice::Make(Imf::FLOAT, layerPlanes[c].data(), data, sizeof(float),
                                                sizeof(float) * static_cast<size_t>(im.dataWidth)));
    }
    if (edits.camera) {
      if (edits.camera->worldToCamera)
        header.insert("worldToCamera", Imf::M44fAttribute(ToImath(*edits.camera->worldToCamera)));
      if (edits.camera->worldToNDC)
        header.insert("worldToNDC", Imf::M44fAttribute(ToImath(*edits.camera->worldToNDC)));
    }
    Imf::OutputFile out(encoded, header, Imf::globalThreadCount());
    out.setFrameBuffer(fb);
    out.writePixels(im.dataHeight);
  } catch (const Iex::BaseExc& e) {
    throw SystemError("cannot write " + file.string() + ": " + e.what());
  }
  encoded.CommitTo(file);
}

}  // namespace velumbra
