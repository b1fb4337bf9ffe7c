#include "effect/sky_catalogue.h"

#include <algorithm>
#include <cmath>

#include "raster/channel.h"
#include "sky/catalogue.h"
#include "sky/star_light.h"

namespace {

// The catalogues Debian ships, by the folder they live in.
struct KnownCatalogue {
  std::string_view folder;
  std::string_view package;
};
constexpr KnownCatalogue kKnown[] = {
    {"/usr/share/kstars/", "kstars-data"},
    {"/usr/share/xplanet/", "xplanet"},
};

// The colour as a hue with its largest channel at full value (the most
// precision a 16-bit channel holds), and that hue's luminance.
void HueOf(const sky::LinearRgb& c, BMM_Color_64& hue, float& luminance) {
  const double top = std::max({c.r, c.g, c.b});
  const auto channel = [&](double v) {
    return static_cast<WORD>(std::lround(std::clamp(v / top, 0.0, 1.0) * kFullChannel));
  };
  hue = {channel(c.r), channel(c.g), channel(c.b), 0};
  luminance = 0.2126f * static_cast<float>(hue.r) + 0.7152f * static_cast<float>(hue.g) +
              0.0722f * static_cast<float>(hue.b);
}

// The heap bytes a string holds beyond its object: none while the text
// fits the object itself; else its buffer, rounded up to the allocator's
// 16 bytes with its 8-byte header.
std::uint64_t HeapBytes(const std::string& s) {
  if (s.capacity() <= std::string().capacity()) return 0;
  return (static_cast<std::uint64_t>(s.capacity()) + 1 + 8 + 15) / 16 * 16;
}

}  // namespace

std::string_view PackageProviding(std::string_view path) {
  for (const KnownCatalogue& k : kKnown)
    if (path.substr(0, k.folder.size()) == k.folder) return k.package;
  return {};
}

bool SkyCatalogue::IsCurrent(const MCHAR* name) const {
  if (version_ == 0 || !name || !*name) return false;
  FileStamp stamp;
  std::string error;
  return GetFileService()->Stamp(name, stamp, error) == FILE_OK && stamp == stamp_;
}

std::uint64_t SkyCatalogue::KeptBytes() const {
  return static_cast<std::uint64_t>(stars_.capacity()) * sizeof(SkyCatalogueStar) + names_.capacity() + 1;
}

std::size_t SkyCatalogue::CountTo(float limit) const {
  // NaN limits take nothing.
  const auto end = std::partition_point(stars_.begin(), stars_.end(),
                                        [&](const SkyCatalogueStar& s) { return s.magnitude <= limit; });
  return static_cast<std::size_t>(end - stars_.begin());
}

bool SkyCatalogue::Refresh(const MCHAR* name, std::string& error) {
  if (!name || !*name) {
    error = "catalogfile is empty: name a star catalogue (KStars' stars.dat or the Yale Bright Star Catalogue "
            "as xplanet ships it)";
    return false;
  }
  FileService& files = *GetFileService();
  const auto missing = [&](FileResult r, const std::string& what) {
    error = "star catalogue " + what;
    const std::string path = files.Resolve(name);
    if (r == FILE_NOT_FOUND) {
      const std::string_view package = PackageProviding(path);
      if (!package.empty())
        error += "; Debian's " + std::string(package) + " package provides it (apt-get install " +
                 std::string(package) + ")";
    }
    return false;
  };
  FileStamp stamp;
  std::string what;
  if (const FileResult r = files.Stamp(name, stamp, what); r != FILE_OK) return missing(r, what);
  if (version_ != 0 && stamp == stamp_) return true;

  std::string bytes;
  if (const FileResult r = files.Read(name, bytes, stamp, what); r != FILE_OK) return missing(r, what);
  sky::Catalogue parsed;
  try {
    parsed = sky::ParseCatalogue(bytes);
  } catch (const sky::CatalogueError& e) {
    error = stamp.path + ":" + std::to_string(e.line) + ": " + e.message;
    return false;
  }
  std::vector<SkyCatalogueStar> stars(parsed.stars.size());
  sky::StarColourCache colours;
  std::uint64_t nameBytes = 0;  // the parsed names' own buffers
  std::size_t nameChars = 1;
  for (const sky::CatalogueStar& c : parsed.stars) {
    nameBytes += HeapBytes(c.name);
    if (!c.name.empty()) nameChars += c.name.size() + 1;
  }
  std::string names;
  names.reserve(nameChars);
  names.push_back('\0');
  for (std::size_t i = 0; i < stars.size(); ++i) {
    const sky::CatalogueStar& c = parsed.stars[i];
    SkyCatalogueStar& s = stars[i];
    s.vector = sky::MakeStarVector(c);
    s.magnitude = c.magnitude;
    s.bv = c.bv;
    HueOf(colours(c.bv), s.hue, s.hueLuminance);
    if (!c.name.empty()) {
      s.name = static_cast<std::uint32_t>(names.size());
      names.append(c.name).push_back('\0');
    }
  }
  // A magnitude that is not a number (none the parser lets through) sorts
  // last, so the order stays a strict weak one.
  const auto key = [](const SkyCatalogueStar& s) {
    return std::isnan(s.magnitude) ? HUGE_VALF : s.magnitude;
  };
  std::stable_sort(stars.begin(), stars.end(),
                   [&](const SkyCatalogueStar& a, const SkyCatalogueStar& b) { return key(a) < key(b); });
  // What this load held at its most beside the stars kept (the previous
  // version's until the end): the file, the parsed catalogue with its
  // names, the colour cache's entries (a node of the key, the colour and
  // links, and a bucket), the new stars with their names, and the stable
  // sort's buffer (at most as large as the stars).
  const std::uint64_t starBytes = static_cast<std::uint64_t>(stars.capacity()) * sizeof(SkyCatalogueStar);
  loadBytes_ = static_cast<std::uint64_t>(bytes.capacity()) +
               static_cast<std::uint64_t>(parsed.stars.capacity()) * sizeof(sky::CatalogueStar) + nameBytes +
               static_cast<std::uint64_t>(colours.size()) * 80 + 2 * starBytes + names.capacity();
  stars_ = std::move(stars);
  names_ = std::move(names);
  epoch_ = parsed.epochJulianYear;
  stamp_ = stamp;
  ++version_;
  return true;
}
