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

}  // namespace

std::string_view PackageProviding(std::string_view path) {
  for (const KnownCatalogue& k : kKnown)
    if (path.substr(0, k.folder.size()) == k.folder) return k.package;
  return {};
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
  for (std::size_t i = 0; i < stars.size(); ++i) {
    const sky::CatalogueStar& c = parsed.stars[i];
    SkyCatalogueStar& s = stars[i];
    s.vector = sky::MakeStarVector(c);
    s.magnitude = c.magnitude;
    HueOf(colours(c.bv), s.hue, s.hueLuminance);
  }
  // A magnitude that is not a number (none the parser lets through) sorts
  // last, so the order stays a strict weak one.
  const auto key = [](const SkyCatalogueStar& s) {
    return std::isnan(s.magnitude) ? HUGE_VALF : s.magnitude;
  };
  std::stable_sort(stars.begin(), stars.end(),
                   [&](const SkyCatalogueStar& a, const SkyCatalogueStar& b) { return key(a) < key(b); });
  stars_ = std::move(stars);
  epoch_ = parsed.epochJulianYear;
  stamp_ = stamp;
  ++version_;
  return true;
}
