// Star catalogues read from their bytes.
//
// The effect reads a catalogue file through the host and hands its bytes
// here; nothing in sky/ touches the file system. Two formats are recognised
// from the bytes themselves:
//
//   KStars `stars.dat` (Debian kstars-data, /usr/share/kstars/stars.dat):
//     '#' comment lines, one of which is the column header
//       "#  RA        DEC      pmRA     pmDEC  plx      mag  BV SpT b? dV   vper, genetive name, long name"
//     then one star per line in fixed columns (0-based byte offsets):
//       0-8    RA   hhmmss.ss          J2000 position at epoch J2000 (ICRS);
//                                    seconds may read 60.00 (rounded up: 12 stars)
//       10-18  Dec  sddmmss.s
//       20-28  pmRA s######.#  mas/yr, includes cos(Dec) (Hipparcos mu_alpha*)
//       29-37  pmDE s######.#  mas/yr
//       38-44  parallax #####.#  mas (0 when unknown)
//       46-50  V magnitude
//       51-55  B-V
//       56-57  spectral type, 59 multiplicity flag, 61-71 variability (ignored)
//       72-    ", genetive name[, long name]" (optional)
//     Polaris' pmRA of +44.2 mas/yr at Dec +89.3 shows the cos(Dec) factor is
//     already in (without it the value would be near 2,000 mas/yr).
//     The file Debian ships holds 125,982 stars.
//
//   Yale Bright Star Catalogue as xplanet ships it (Debian xplanet,
//   /usr/share/xplanet/stars/BSC): '#' comment lines and blank lines, then
//   whitespace-separated fields per star:
//       Dec (degrees, J2000)  RA (hours, J2000)  V magnitude  "name"  BSN  HD  SAO
//     e.g. `-16.7161  6.7525 -1.46 "  9Alp CMa" 2491  48915 151881`.
//     No proper motion, no parallax, no colour (B-V is NaN). 9,096 stars.
//     The name field is Flamsteed number, Bayer letter and constellation; it
//     is kept trimmed with a space after a leading Flamsteed number
//     ("9 Alp CMa"). The positions are given to 1e-4 hour in RA (5.4 arcsec
//     at the equator) and 1e-4 degree in Dec: that is the file's precision.
//
// Detection: a '#' line of the KStars column header (one containing "pmRA"
// and "pmDEC") before the first data line marks KStars, and so does a first
// data line in its columns (hhmmss.ss, a space, a signed Dec); a first data
// line of three numbers (optionally followed by a quoted name) marks the BSC
// (xplanet reads such lines, names are optional). Anything else is a
// CatalogueError on the first data line.
//
// Lines end in LF or CRLF; blank lines (only spaces/tabs) are skipped in both
// formats; a final line without a newline is read.
#pragma once

#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sky {

// One star as its catalogue gives it. Angles in radians, ICRS axes.
struct CatalogueStar {
  double ra = 0;        // right ascension [0, 2 pi), at the catalogue epoch
  double dec = 0;       // declination [-pi/2, pi/2]
  double pmRa = 0;      // proper motion in RA x cos(dec), radians per Julian year
  double pmDec = 0;     // proper motion in Dec, radians per Julian year
  double parallax = 0;  // arcseconds; 0 when unknown (then the star is at infinity)
  float magnitude = 0;  // V
  float bv = std::numeric_limits<float>::quiet_NaN();  // B-V; NaN when the catalogue has none
  std::string name;     // proper name if given, else the designation; may be empty
};

enum class CatalogueFormat { KStars, YaleBsc };

struct Catalogue {
  std::vector<CatalogueStar> stars;  // in file order
  double epochJulianYear = 2000.0;   // epoch of the positions (TT Julian year): both formats J2000
  CatalogueFormat format = CatalogueFormat::KStars;
};

// A malformed catalogue: `line` is 1-based, `message` says what is wrong and
// where on the line ("column 21: pmRA is not a number: '-00x546.0'"). The
// caller adds the file name. A std::exception too (what() is the message),
// so that a general handler at the module's boundary stops it as well.
struct CatalogueError : std::exception {
  CatalogueError() = default;
  CatalogueError(std::size_t atLine, std::string what) : line(atLine), message(std::move(what)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::size_t line = 0;
  std::string message;
};

// Recognises the format from the bytes and parses every star. Throws
// CatalogueError on the first malformed line, or on bytes in neither format
// (line = the first non-comment, non-blank line, or 1 for an empty input).
// A catalogue with no stars at all is an error too.
// Fast: one pass, no locale, no iostreams; decimals read to the same bits as
// std::from_chars (about 25 ms of one core for the KStars file here, a tenth
// of it spent finding the line ends; bench/bench_sky.cpp).
Catalogue ParseCatalogue(std::string_view bytes);

// The format the bytes are in, by the rule above; throws CatalogueError when
// neither.
CatalogueFormat DetectCatalogueFormat(std::string_view bytes);

}  // namespace sky
