#include "host/app/image/exr_header_weight.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <fstream>
#include <string>

namespace velumbra {

namespace {

constexpr std::uint32_t kMultiPartFlag = 0x1000;
constexpr std::uint32_t kLongNamesFlag = 0x400;

std::uint32_t Le32(const unsigned char* b) {
  return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
}

// A NUL-terminated name of at most `maxLength` characters; nullopt at the
// file's end or for a longer one.
std::optional<std::string> ReadName(std::istream& in, std::size_t maxLength) {
  std::string name;
  for (int c = in.get(); c != 0; c = in.get()) {
    if (c == EOF || name.size() >= maxLength) return std::nullopt;
    name += static_cast<char>(c);
  }
  return name;
}

// A box2i's width times height (0 for an empty or inverted box).
std::uint64_t BoxPixels(const unsigned char* v, std::uint64_t* width = nullptr, std::uint64_t* height = nullptr) {
  const auto at = [&](int i) { return static_cast<std::int64_t>(static_cast<std::int32_t>(Le32(v + 4 * i))); };
  const std::int64_t w = at(2) - at(0) + 1, h = at(3) - at(1) + 1;
  if (width) *width = w > 0 ? static_cast<std::uint64_t>(w) : 0;
  if (height) *height = h > 0 ? static_cast<std::uint64_t>(h) : 0;
  return w > 0 && h > 0 ? static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) : 0;
}

// The bytes the library reads for a value of a fixed-size type, whatever
// size the header declares (0: it reads the declared size).
std::uint32_t FixedSize(const std::string& type) {
  static const std::pair<const char*, std::uint32_t> kSizes[] = {
      {"box2i", 16},  {"box2f", 16}, {"chromaticities", 32}, {"compression", 1}, {"double", 8}, {"envmap", 1},
      {"float", 4},   {"int", 4},    {"keycode", 28},        {"lineOrder", 1},   {"m33f", 36},  {"m33d", 72},
      {"m44f", 64},   {"m44d", 128}, {"rational", 8},        {"tiledesc", 9},    {"timecode", 8}, {"v2i", 8},
      {"v2f", 8},     {"v2d", 16},   {"v3i", 12},            {"v3f", 12},        {"v3d", 24},   {"deepImageState", 1},
  };
  for (const auto& [name, size] : kSizes)
    if (type == name) return size;
  return 0;
}

}  // namespace

std::optional<ExrHeaderWeight> WeighExrHeader(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char start[8];
  if (!in.read(reinterpret_cast<char*>(start), sizeof start) || Le32(start) != 20000630) return std::nullopt;
  const std::uint32_t flags = Le32(start + 4);
  const std::size_t maxName = (flags & kLongNamesFlag) ? 255 : 31;
  ExrHeaderWeight w;
  for (int part = 0;; ++part) {
    bool empty = true;
    for (;;) {
      const std::optional<std::string> name = ReadName(in, maxName);
      if (!name) return std::nullopt;
      if (name->empty()) break;
      empty = false;
      const std::optional<std::string> type = ReadName(in, maxName);
      unsigned char sizeBytes[4];
      if (!type || !in.read(reinterpret_cast<char*>(sizeBytes), 4)) return std::nullopt;
      const auto declared = static_cast<std::int32_t>(Le32(sizeBytes));
      if (declared < 0) return std::nullopt;
      // The library reads a channel list up to its terminating NUL and a
      // value of a fixed-size type at that size, whatever the header
      // declares: the walk follows it, or it would see other attributes.
      if (*type == "chlist") {
        std::uint64_t bytes = 0, listBytes = 0;
        for (;;) {
          const std::optional<std::string> channel = ReadName(in, maxName);
          if (!channel) return std::nullopt;
          if (channel->empty()) break;
          unsigned char fields[16];
          if (!in.read(reinterpret_cast<char*>(fields), sizeof fields)) return std::nullopt;
          bytes += Le32(fields) == 1 ? 2 : 4;
          listBytes += channel->size() + 17;
        }
        w.attributeBytes += listBytes;
        if (part == 0 && *name == "channels") w.bytesPerDataPixel = bytes;
        continue;
      }
      std::uint64_t size = static_cast<std::uint64_t>(declared);
      if (const std::uint32_t fixed = FixedSize(*type)) size = fixed;
      if (*type == "preview") {  // width and height, then 4 bytes a pixel
        unsigned char wh[8];
        if (!in.read(reinterpret_cast<char*>(wh), sizeof wh)) return std::nullopt;
        size = std::uint64_t{Le32(wh)} * Le32(wh + 4) * 4;
        w.attributeBytes += size + 8;
        in.seekg(static_cast<std::streamoff>(std::min<std::uint64_t>(size, INT64_MAX)), std::ios::cur);
        if (!in) return std::nullopt;
        continue;
      }
      w.attributeBytes += size;
      if (part == 0 && *type == "box2i" && (*name == "dataWindow" || *name == "displayWindow")) {
        unsigned char v[16];
        if (!in.read(reinterpret_cast<char*>(v), sizeof v)) return std::nullopt;
        if (*name == "dataWindow") w.dataPixels = BoxPixels(v);
        else BoxPixels(v, &w.displayWidth, &w.displayHeight);
        continue;
      }
      in.seekg(static_cast<std::streamoff>(size), std::ios::cur);
      if (!in) return std::nullopt;
    }
    if (!(flags & kMultiPartFlag) || empty) break;
  }
  return w;
}

}  // namespace velumbra
