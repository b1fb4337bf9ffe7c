#include "host/app/image/exr_header_weight.h"

#include <cstring>
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

// The bytes of one pixel's samples in a chlist value (subsampled channels
// counted at full resolution: an upper bound).
std::uint64_t ChannelBytes(const std::string& v) {
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < v.size() && v[i] != 0;) {
    const std::size_t end = v.find('\0', i);
    if (end == std::string::npos || end + 17 > v.size()) break;
    const std::uint32_t type = Le32(reinterpret_cast<const unsigned char*>(v.data() + end + 1));
    bytes += type == 1 ? 2 : 4;
    i = end + 17;
  }
  return bytes;
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
      const auto size = static_cast<std::int32_t>(Le32(sizeBytes));
      if (size < 0) return std::nullopt;
      w.attributeBytes += static_cast<std::uint64_t>(size);
      const bool keep = part == 0 && ((*type == "box2i" && size == 16 && (*name == "dataWindow" || *name == "displayWindow")) ||
                                      (*type == "chlist" && *name == "channels" && size <= (1 << 20)));
      if (!keep) {
        in.seekg(size, std::ios::cur);
        if (!in) return std::nullopt;
        continue;
      }
      std::string value(static_cast<std::size_t>(size), '\0');
      if (!in.read(value.data(), size)) return std::nullopt;
      const auto* v = reinterpret_cast<const unsigned char*>(value.data());
      if (*name == "dataWindow") w.dataPixels = BoxPixels(v);
      else if (*name == "displayWindow") BoxPixels(v, &w.displayWidth, &w.displayHeight);
      else w.bytesPerDataPixel = ChannelBytes(value);
    }
    if (!(flags & kMultiPartFlag) || empty) break;
  }
  return w;
}

}  // namespace velumbra
