#include "host/app/image/exr_io.h"

#include <OpenEXR/Iex.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfMatrixAttribute.h>
#include <OpenEXR/ImfRgba.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfVersion.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "host/app/base/app_error.h"

namespace velumbra {

namespace {

// Rows read per band: a multiple of every scan-line chunk height (1, 16 or
// 32 lines), counted from the data window's top, so no chunk is decoded
// twice; enough chunks per band to keep the library's threads busy.
constexpr int kBandRows = 256;

// Samples of an ID channel this close to a whole number are that number.
constexpr float kIdTolerance = 0.001f;

std::string FormatFloat(float v) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, result.ptr);
}

std::string ChannelList(const std::vector<std::string>& channels) {
  if (channels.empty()) return "no channels";
  constexpr size_t kShown = 24;
  std::string text = "channels ";
  for (size_t i = 0; i < channels.size() && i < kShown; ++i) text += (i ? ", " : "") + channels[i];
  if (channels.size() > kShown) text += ", ... (" + std::to_string(channels.size()) + " in all)";
  return text;
}

// Runs `fn`, turning OpenEXR's exceptions into an InputError naming the file.
template <class Fn>
auto Translated(const std::filesystem::path& file, Fn&& fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const Iex::BaseExc& e) {
    // The library's message says what is wrong (often naming the file again).
    throw InputError(file.string() + ": cannot read the OpenEXR image (" + e.what() + ")");
  }
}

std::uint64_t WindowPixels(const Imath::Box2i& box) {
  const std::int64_t w = std::int64_t{box.max.x} - box.min.x + 1;
  const std::int64_t h = std::int64_t{box.max.y} - box.min.y + 1;
  return w > 0 && h > 0 ? static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) : 0;
}

template <class M>
ExrMatrix ToMatrix(const M& m) {
  ExrMatrix out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out.m[i][j] = static_cast<float>(m[i][j]);
  return out;
}

std::optional<ExrMatrix> MatrixAttribute(const Imf::Header& header, const char* name) {
  if (const auto* a = header.findTypedAttribute<Imf::M44fAttribute>(name)) return ToMatrix(a->value());
  if (const auto* a = header.findTypedAttribute<Imf::M44dAttribute>(name)) return ToMatrix(a->value());
  return std::nullopt;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The colour channels a file is read from.
enum class ColourMode { Rgb, Luminance, LuminanceChroma };
struct ColourSource {
  std::string prefix;  // "" or "Layer." (with its dot)
  ColourMode mode = ColourMode::Rgb;
};

bool IsPreferredLayer(const std::string& prefix) {
  // The last name of the prefix, without its dot.
  const std::string_view p(prefix.data(), prefix.size() - 1);
  const size_t dot = p.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? p : p.substr(dot + 1);
  return EqualIgnoringCase(last, "Combined") || EqualIgnoringCase(last, "beauty") ||
         EqualIgnoringCase(last, "rgba");
}

std::optional<ColourSource> ChooseColour(const Imf::ChannelList& list,
                                         const std::vector<std::string>& channels) {
  const auto has = [&](const std::string& name) { return list.findChannel(name) != nullptr; };
  // Prefixes P ("" or ending in '.') for which P + `last` exists, the top
  // level first, then preferred layers, then the rest, each in name order.
  const auto prefixesOf = [&](const char* last) {
    std::vector<std::string> top, preferred, other;
    const size_t n = std::strlen(last);
    for (const std::string& c : channels) {
      if (c.size() < n || c.compare(c.size() - n, n, last) != 0) continue;
      const std::string prefix = c.substr(0, c.size() - n);
      if (prefix.empty()) top.push_back(prefix);
      else if (prefix.back() != '.') continue;
      else (IsPreferredLayer(prefix) ? preferred : other).push_back(prefix);
    }
    top.insert(top.end(), preferred.begin(), preferred.end());
    top.insert(top.end(), other.begin(), other.end());
    return top;
  };
  for (const std::string& p : prefixesOf("R"))
    if (has(p + "G") && has(p + "B")) return ColourSource{p, ColourMode::Rgb};
  const std::vector<std::string> luminance = prefixesOf("Y");
  if (luminance.empty()) return std::nullopt;
  const std::string& p = luminance.front();
  return ColourSource{p, has(p + "RY") && has(p + "BY") ? ColourMode::LuminanceChroma : ColourMode::Luminance};
}

struct Span {
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive, file coordinates
  bool Empty() const { return x0 > x1 || y0 > y1; }
};

}  // namespace

void EnableExrThreads() {
  static std::once_flag once;
  std::call_once(once, [] {
    const unsigned n = std::thread::hardware_concurrency();
    if (n > 1) Imf::setGlobalThreadCount(static_cast<int>(std::min(n, 64u)));
  });
}

// --- the 8.8 mapping ------------------------------------------------------------------

WORD FloatTo16(float f) {
  if (!(f > 0.0f)) return 0;  // zero, negative, NaN
  // The product of a float and 65280 is exact in double; rounded once.
  const double v = std::round(static_cast<double>(f) * 65280.0);
  return v >= 65535.0 ? WORD{65535} : static_cast<WORD>(v);
}

BMM_Color_64 FloatRgbaTo16(const FloatRgba& c) {
  return {FloatTo16(c.r), FloatTo16(c.g), FloatTo16(c.b), FloatTo16(c.a)};
}

// --- ID channel discovery -------------------------------------------------------------

std::optional<std::string> FindIdChannel(const std::vector<std::string>& channels, IdKind kind) {
  static constexpr const char* kObjectNames[] = {"ObjectID", "IndexOB", "Object Index"};
  static constexpr const char* kMaterialNames[] = {"MaterialID", "IndexMA", "Material Index"};
  static constexpr const char* kComponents[] = {"X", "V", "Y", "R"};
  const auto& names = kind == IdKind::Object ? kObjectNames : kMaterialNames;

  // Rank of a match, smaller is better: (case, form, name, component).
  using Rank = std::array<int, 4>;
  std::optional<Rank> best;
  std::string bestChannel;
  for (const std::string& channel : channels) {
    const std::string_view c = channel;
    for (int folded = 0; folded < 2; ++folded) {
      const auto same = [&](std::string_view a, std::string_view b) {
        return folded ? EqualIgnoringCase(a, b) : a == b;
      };
      for (int n = 0; n < 3; ++n) {
        const std::string_view name = names[n];
        // The channel without its component (when it has a known one), then
        // without a layer prefix.
        for (int comp = -1; comp < 4; ++comp) {
          std::string_view body = c;
          if (comp >= 0) {
            const std::string_view suffix = kComponents[comp];
            if (body.size() < suffix.size() + 1 || body[body.size() - suffix.size() - 1] != '.' ||
                !same(body.substr(body.size() - suffix.size()), suffix))
              continue;
            body.remove_suffix(suffix.size() + 1);
          }
          int layered = -1;
          if (same(body, name)) {
            layered = 0;
          } else if (body.size() > name.size() + 1 && body[body.size() - name.size() - 1] == '.' &&
                     same(body.substr(body.size() - name.size()), name)) {
            layered = 1;
          }
          if (layered < 0) continue;
          const int form = layered * 2 + (comp >= 0 ? 1 : 0);
          const Rank rank{folded, form, n, comp};
          if (!best || rank < *best || (rank == *best && channel < bestChannel)) {
            best = rank;
            bestChannel = channel;
          }
        }
      }
    }
  }
  if (!best) return std::nullopt;
  return bestChannel;
}

// --- reading --------------------------------------------------------------------------

namespace {

// Where a file's samples go: the display window is the image (row 0 its
// top), the data window is what the file holds.
struct Geometry {
  std::filesystem::path file;
  Imath::Box2i display;
  Imath::Box2i data;
  int width = 0;  // of the display window
  int height = 0;

  int DataWidth() const { return data.max.x - data.min.x + 1; }

  // The part of the data window inside the display window.
  Span Overlap() const {
    return {std::max(data.min.x, display.min.x), std::max(data.min.y, display.min.y),
            std::min(data.max.x, display.max.x), std::min(data.max.y, display.max.y)};
  }

  // Indices of file pixel (x, y) in the image, and in a band starting at row r0.
  size_t ImageIndex(int x, int y) const { return size_t(y - display.min.y) * size_t(width) + size_t(x - display.min.x); }
  size_t BandIndex(int x, int y, int r0) const { return size_t(y - r0) * size_t(DataWidth()) + size_t(x - data.min.x); }
  // Samples of one band: never more than the data window holds, so a wide,
  // short window stays within the pixel limit.
  size_t BandSize() const {
    const Span s = Overlap();
    return s.Empty() ? 0 : size_t(DataWidth()) * size_t(std::min(kBandRows, s.y1 - s.y0 + 1));
  }

  // A slice over a band buffer holding rows r0..r1 of the whole data width.
  Imf::Slice BandSlice(Imf::PixelType type, const void* first, size_t xStride, int r0, int r1,
                       double fill = 0.0) const {
    return Imf::Slice::Make(type, first, Imath::V2i(data.min.x, r0), DataWidth(), r1 - r0 + 1, xStride,
                            xStride * size_t(DataWidth()), 1, 1, fill);
  }

  // Calls fn(r0, r1) for the overlap's rows in bands aligned to the data
  // window's top.
  template <class Fn>
  void ForEachBand(Fn&& fn) const {
    const Span s = Overlap();
    if (s.Empty()) return;
    const std::int64_t top = data.min.y;
    for (std::int64_t y = top + (std::int64_t{s.y0} - top) / kBandRows * kBandRows; y <= s.y1; y += kBandRows)
      fn(static_cast<int>(std::max<std::int64_t>(y, s.y0)),
         static_cast<int>(std::min<std::int64_t>(y + kBandRows - 1, s.y1)));
  }
};

// One result filled band by band: adds its slices to the band's frame
// buffer, then takes the overlap's part of the rows read.
class BandPart {
 public:
  virtual ~BandPart() = default;
  virtual void Insert(Imf::FrameBuffer& fb, int r0, int r1) = 0;
  virtual void Take(int r0, int r1) = 0;
};

class ColourPart final : public BandPart {
 public:
  ColourPart(const Geometry& g, const ColourSource& source, std::vector<FloatRgba>& out)
      : g_(g), prefix_(source.prefix), rgb_(source.mode == ColourMode::Rgb), out_(out), band_(g.BandSize()) {}

  void Insert(Imf::FrameBuffer& fb, int r0, int r1) override {
    constexpr size_t kStride = sizeof(FloatRgba);
    if (rgb_) {
      fb.insert(prefix_ + "R", g_.BandSlice(Imf::FLOAT, &band_[0].r, kStride, r0, r1));
      fb.insert(prefix_ + "G", g_.BandSlice(Imf::FLOAT, &band_[0].g, kStride, r0, r1));
      fb.insert(prefix_ + "B", g_.BandSlice(Imf::FLOAT, &band_[0].b, kStride, r0, r1));
    } else {
      fb.insert(prefix_ + "Y", g_.BandSlice(Imf::FLOAT, &band_[0].r, kStride, r0, r1));
    }
    // Without an A channel the library fills the slice: opaque.
    fb.insert(prefix_ + "A", g_.BandSlice(Imf::FLOAT, &band_[0].a, kStride, r0, r1, 1.0));
  }

  void Take(int r0, int r1) override {
    const Span s = g_.Overlap();
    const size_t n = size_t(s.x1 - s.x0 + 1);
    for (int y = r0; y <= r1; ++y) {
      const FloatRgba* from = band_.data() + g_.BandIndex(s.x0, y, r0);
      FloatRgba* to = out_.data() + g_.ImageIndex(s.x0, y);
      if (rgb_) {
        std::copy(from, from + n, to);
      } else {
        for (size_t i = 0; i < n; ++i) to[i] = {from[i].r, from[i].r, from[i].r, from[i].a};
      }
    }
  }

 private:
  const Geometry& g_;
  std::string prefix_;
  bool rgb_;
  std::vector<FloatRgba>& out_;
  std::vector<FloatRgba> band_;
};

template <class T>
class IdPart final : public BandPart {
 public:
  IdPart(const Geometry& g, std::string channel, Imf::PixelType type, IdKind kind, std::vector<T>& out)
      : g_(g), channel_(std::move(channel)), uint_(type == Imf::UINT), object_(kind == IdKind::Object),
        maxId_(object_ ? 65535 : 255), out_(out) {
    (uint_ ? uintBand_.resize(g.BandSize()) : floatBand_.resize(g.BandSize()));
  }

  void Insert(Imf::FrameBuffer& fb, int r0, int r1) override {
    if (uint_) fb.insert(channel_, g_.BandSlice(Imf::UINT, uintBand_.data(), sizeof(std::uint32_t), r0, r1));
    else fb.insert(channel_, g_.BandSlice(Imf::FLOAT, floatBand_.data(), sizeof(float), r0, r1));
  }

  void Take(int r0, int r1) override {
    const Span s = g_.Overlap();
    for (int y = r0; y <= r1; ++y) {
      const size_t from = g_.BandIndex(s.x0, y, r0);
      T* to = out_.data() + g_.ImageIndex(s.x0, y);
      for (int x = s.x0, i = 0; x <= s.x1; ++x, ++i) {
        unsigned id = 0;
        if (uint_) {
          id = uintBand_[from + i];
          if (id > maxId_) Fail(x, y, std::to_string(id), Range());
        } else {
          const float v = floatBand_[from + i];
          if (std::isnan(v)) Fail(x, y, "NaN", "is not a number");
          const float rounded = std::round(v);
          if (!(rounded >= 0.0f && rounded <= static_cast<float>(maxId_))) Fail(x, y, FormatFloat(v), Range());
          if (std::fabs(v - rounded) > kIdTolerance) Fail(x, y, FormatFloat(v), "is not a whole number");
          id = static_cast<unsigned>(rounded);
        }
        to[i] = static_cast<T>(id);
      }
    }
  }

 private:
  std::string Range() const {
    return "is outside 0.." + std::to_string(maxId_) +
           (object_ ? " (object IDs are 16-bit)" : " (material IDs are 8-bit)");
  }

  [[noreturn]] void Fail(int x, int y, const std::string& value, const std::string& problem) const {
    throw InputError(g_.file.string() + ": channel \"" + channel_ + "\": " + (object_ ? "object" : "material") +
                     " ID " + value + " at pixel (" + std::to_string(x - g_.display.min.x) + ", " +
                     std::to_string(y - g_.display.min.y) + ") " + problem);
  }

  const Geometry& g_;
  std::string channel_;
  bool uint_;
  bool object_;
  unsigned maxId_;
  std::vector<T>& out_;
  std::vector<std::uint32_t> uintBand_;
  std::vector<float> floatBand_;
};

}  // namespace

struct ExrReader::Impl {
  Geometry g;
  std::unique_ptr<Imf::InputFile> in;
  std::vector<std::string> channels;
  ExrCamera camera;

  const Imf::Channel& FullResolution(const std::string& name) const {
    const Imf::Channel* c = in->header().channels().findChannel(name);
    if (!c) throw std::logic_error(g.file.string() + ": channel " + name + " vanished");
    if (c->xSampling != 1 || c->ySampling != 1)
      throw InputError(g.file.string() + ": channel \"" + name + "\" is subsampled (" +
                       std::to_string(c->xSampling) + " x " + std::to_string(c->ySampling) +
                       "); only full-resolution channels are read");
    return *c;
  }

  template <class T>
  std::unique_ptr<BandPart> IdsFrom(const std::string& channel, IdKind kind, std::optional<IdImage<T>>& image) {
    if (std::find(channels.begin(), channels.end(), channel) == channels.end())
      throw InputError(g.file.string() + ": no channel named \"" + channel + "\" for the " +
                       (kind == IdKind::Object ? "object" : "material") + " IDs; it has " + ChannelList(channels));
    const Imf::Channel& c = FullResolution(channel);
    image.emplace();
    image->width = g.width;
    image->height = g.height;
    image->fileBitDepth = c.type == Imf::HALF ? 16 : 32;
    image->values.assign(size_t(g.width) * size_t(g.height), T{0});
    return std::make_unique<IdPart<T>>(g, channel, c.type, kind, image->values);
  }

  // Reads the colour (when asked) and the ID channels given (nullptr: not
  // read).
  ExrFrame Read(bool colour, const std::string* objectChannel, const std::string* materialChannel);
  void ReadLuminanceChroma(const std::string& prefix, std::vector<FloatRgba>& floats) const;
};

ExrReader::ExrReader(const std::filesystem::path& file, const ExrReadOptions& options)
    : impl_(std::make_unique<Impl>()) {
  Impl& im = *impl_;
  Geometry& g = im.g;
  g.file = file;
  {
    // Checked here for plain messages: a missing file, or one of another kind.
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) throw InputError("cannot open " + file.string() + ": " + std::strerror(errno));
    char magic[4] = {};
    const size_t n = std::fread(magic, 1, sizeof magic, f);
    const int error = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (error) throw InputError("cannot read " + file.string() + ": " + std::strerror(error));
    if (n < sizeof magic || !Imf::isImfMagic(magic))
      throw InputError(file.string() + ": not an OpenEXR file");
  }
  Translated(file, [&] {
    EnableExrThreads();
    im.in = std::make_unique<Imf::InputFile>(file.c_str());
    const Imf::Header& header = im.in->header();
    g.display = header.displayWindow();
    g.data = header.dataWindow();
    for (const auto& [what, box] : {std::pair{"display", g.display}, std::pair{"data", g.data}}) {
      const std::uint64_t pixels = WindowPixels(box);
      if (pixels == 0) throw InputError(file.string() + ": the " + what + " window is empty");
      if (pixels > options.maxPixels)
        throw InputError(file.string() + ": the " + what + " window of " +
                         TooManyPixels(std::int64_t{box.max.x} - box.min.x + 1,
                                       std::int64_t{box.max.y} - box.min.y + 1, options.maxPixels));
    }
    g.width = g.display.max.x - g.display.min.x + 1;
    g.height = g.display.max.y - g.display.min.y + 1;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
      im.channels.emplace_back(it.name());
    im.camera.worldToCamera = MatrixAttribute(header, "worldToCamera");
    im.camera.worldToNDC = MatrixAttribute(header, "worldToNDC");
  });
}

ExrReader::~ExrReader() = default;

const std::filesystem::path& ExrReader::File() const { return impl_->g.file; }
int ExrReader::Width() const { return impl_->g.width; }
int ExrReader::Height() const { return impl_->g.height; }
const std::vector<std::string>& ExrReader::Channels() const { return impl_->channels; }
const ExrCamera& ExrReader::Camera() const { return impl_->camera; }

ExrFrame ExrReader::Impl::Read(bool colour, const std::string* objectChannel, const std::string* materialChannel) {
  ExrFrame frame;
  std::vector<std::unique_ptr<BandPart>> parts;
  if (colour) {
    const Imf::ChannelList& list = in->header().channels();
    const std::optional<ColourSource> source = ChooseColour(list, channels);
    if (!source)
      throw InputError(g.file.string() +
                       ": no colour channels (R, G, B or Y, at the top level or in a layer); it has " +
                       ChannelList(channels));
    ExrRgbaImage& image = frame.image;
    image.width = g.width;
    image.height = g.height;
    image.fileBitDepth = 16;
    image.layer = source->prefix;
    image.hasAlpha = list.findChannel(source->prefix + "A") != nullptr;
    image.fromLuminance = source->mode != ColourMode::Rgb;
    image.camera = camera;
    image.floats.assign(size_t(g.width) * size_t(g.height), FloatRgba{});
    if (source->mode == ColourMode::LuminanceChroma) {
      image.sampleType = ExrColourType::Half;  // the library's luminance/chroma path is half only
      ReadLuminanceChroma(source->prefix, image.floats);
    } else {
      std::vector<std::string> names;
      if (source->mode == ColourMode::Rgb) names = {source->prefix + "R", source->prefix + "G", source->prefix + "B"};
      else names = {source->prefix + "Y"};
      if (image.hasAlpha) names.push_back(source->prefix + "A");
      bool wide = false;
      for (const std::string& name : names) wide |= FullResolution(name).type != Imf::HALF;
      image.sampleType = wide ? ExrColourType::Float : ExrColourType::Half;
      parts.push_back(std::make_unique<ColourPart>(g, *source, image.floats));
    }
  }
  if (objectChannel) parts.push_back(IdsFrom(*objectChannel, IdKind::Object, frame.objectIds));
  if (materialChannel) parts.push_back(IdsFrom(*materialChannel, IdKind::Material, frame.materialIds));

  // Every chunk of the file is decoded once for all parts.
  if (!parts.empty()) g.ForEachBand([&](int r0, int r1) {
    Imf::FrameBuffer fb;
    for (const auto& part : parts) part->Insert(fb, r0, r1);
    in->setFrameBuffer(fb);
    in->readPixels(r0, r1);
    for (const auto& part : parts) part->Take(r0, r1);
  });
  if (colour) {
    frame.image.pixels.resize(frame.image.floats.size());
    std::transform(frame.image.floats.begin(), frame.image.floats.end(), frame.image.pixels.begin(), FloatRgbaTo16);
  }
  return frame;
}

void ExrReader::Impl::ReadLuminanceChroma(const std::string& prefix, std::vector<FloatRgba>& floats) const {
  // The library reconstructs RGB from subsampled chroma (needing the rows
  // around each one, which it reads itself).
  std::string layer = prefix;
  if (!layer.empty()) layer.pop_back();
  Imf::RgbaInputFile rgbaIn(g.file.c_str(), layer, Imf::globalThreadCount());
  const Span s = g.Overlap();
  const int dataWidth = g.DataWidth();
  std::vector<Imf::Rgba> band(g.BandSize());
  g.ForEachBand([&](int r0, int r1) {
    // The base is the address pixel (0, 0) would have; the library only
    // touches the band's pixels.
    const std::ptrdiff_t origin = std::ptrdiff_t{g.data.min.x} + std::ptrdiff_t{r0} * dataWidth;
    auto* base = reinterpret_cast<Imf::Rgba*>(reinterpret_cast<std::uintptr_t>(band.data()) -
                                              static_cast<std::uintptr_t>(origin * std::ptrdiff_t(sizeof(Imf::Rgba))));
    rgbaIn.setFrameBuffer(base, 1, static_cast<size_t>(dataWidth));
    rgbaIn.readPixels(r0, r1);
    for (int y = r0; y <= r1; ++y) {
      const Imf::Rgba* from = band.data() + g.BandIndex(s.x0, y, r0);
      FloatRgba* to = floats.data() + g.ImageIndex(s.x0, y);
      for (int x = s.x0; x <= s.x1; ++x, ++from, ++to) *to = {from->r, from->g, from->b, from->a};
    }
  });
}

ExrFrame ExrReader::ReadFrame(const std::string& objectChannel, const std::string& materialChannel) {
  return Translated(impl_->g.file, [&] {
    return impl_->Read(true, objectChannel.empty() ? nullptr : &objectChannel,
                       materialChannel.empty() ? nullptr : &materialChannel);
  });
}

ExrRgbaImage ExrReader::ReadRgba() {
  return std::move(ReadFrame({}, {}).image);
}

IdImage<WORD> ExrReader::ReadObjectIds(const std::string& channel) {
  return Translated(impl_->g.file, [&] { return std::move(*impl_->Read(false, &channel, nullptr).objectIds); });
}

IdImage<UBYTE> ExrReader::ReadMaterialIds(const std::string& channel) {
  return Translated(impl_->g.file, [&] { return std::move(*impl_->Read(false, nullptr, &channel).materialIds); });
}

bool IsExrFile(const std::filesystem::path& file) {
  return EqualIgnoringCase(file.extension().string(), ".exr");
}

ExrRgbaImage ReadExrRgba(const std::filesystem::path& file, const ExrReadOptions& options) {
  ExrReader reader(file, options);
  return reader.ReadRgba();
}

namespace {

std::string ChooseIdChannel(const ExrReader& reader, const std::string& named, IdKind kind) {
  if (!named.empty()) return named;
  if (std::optional<std::string> found = reader.FindIdChannel(kind)) return *found;
  if (reader.Channels().size() == 1) return reader.Channels().front();
  const bool object = kind == IdKind::Object;
  throw InputError(reader.File().string() + ": no " + (object ? "object" : "material") +
                   " ID channel found (looked for " +
                   (object ? "ObjectID, IndexOB and \"Object Index\"" : "MaterialID, IndexMA and \"Material Index\"") +
                   ", also inside layers); name one as " + reader.File().filename().string() +
                   ":Channel; it has " + ChannelList(reader.Channels()));
}

}  // namespace

ExrIds<WORD> ReadExrObjectIds(const std::filesystem::path& file, const std::string& channel,
                              const ExrReadOptions& options) {
  ExrReader reader(file, options);
  ExrIds<WORD> ids;
  ids.channel = ChooseIdChannel(reader, channel, IdKind::Object);
  static_cast<IdImage<WORD>&>(ids) = reader.ReadObjectIds(ids.channel);
  return ids;
}

ExrIds<UBYTE> ReadExrMaterialIds(const std::filesystem::path& file, const std::string& channel,
                                 const ExrReadOptions& options) {
  ExrReader reader(file, options);
  ExrIds<UBYTE> ids;
  ids.channel = ChooseIdChannel(reader, channel, IdKind::Material);
  static_cast<IdImage<UBYTE>&>(ids) = reader.ReadMaterialIds(ids.channel);
  return ids;
}

}  // namespace velumbra
