#include <cmath>
#include <numbers>
#include <string>
#include <string_view>

#include "fuzz/targets/fuzz_targets.h"
#include "sky/astrometry.h"
#include "sky/catalogue.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "catalogue";

std::size_t LineCount(std::string_view text) {
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  return lines;
}

}  // namespace

int FuzzCatalogue(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  sky::Catalogue catalogue;
  try {
    catalogue = sky::ParseCatalogue(bytes);
  } catch (const sky::CatalogueError& e) {
    // The error points at a line of the input and says something.
    if (e.line == 0 || e.line > LineCount(bytes)) Fault(kName, "an error line beyond the input: " + std::to_string(e.line));
    if (e.message.empty()) Fault(kName, "an error without a message");
    return 0;
  }
  if (catalogue.stars.empty()) Fault(kName, "a catalogue accepted with no stars");
  if (catalogue.stars.size() > LineCount(bytes)) Fault(kName, "more stars than lines");
  if (sky::DetectCatalogueFormat(bytes) != catalogue.format) Fault(kName, "detection and parsing disagree on the format");
  constexpr double kTwoPi = 2 * std::numbers::pi;
  for (const sky::CatalogueStar& s : catalogue.stars) {
    if (!(s.ra >= 0 && s.ra < kTwoPi)) Fault(kName, "a right ascension outside [0, 2 pi)");
    if (!(std::fabs(s.dec) <= std::numbers::pi / 2)) Fault(kName, "a declination beyond a pole");
    if (!std::isfinite(s.magnitude) || !std::isfinite(s.pmRa) || !std::isfinite(s.pmDec) || !std::isfinite(s.parallax))
      Fault(kName, "a value that is not finite");
    // Whatever the catalogue says, the star's vector is a direction.
    const sky::StarVector v = sky::MakeStarVector(s);
    const double length = std::sqrt(v.position[0] * v.position[0] + v.position[1] * v.position[1] +
                                    v.position[2] * v.position[2]);
    if (std::fabs(length - 1) > 1e-12) Fault(kName, "a star vector not of unit length");
  }
  return 0;
}

}  // namespace velumbra::fuzz
