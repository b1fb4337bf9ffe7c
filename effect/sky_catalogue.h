// SkyCatalogue: the star catalogue a render draws from, read through the
// host's file service (the effect never opens a file) and parsed once per
// version of the file, as the generated field is generated once per key.
//
// A version is the file's stamp: its resolved name, size and modification
// time. Each render asks the service for the stamp (one stat) and reads and
// parses the file again only when the stamp changed; the 126k-star KStars
// file then costs its parse once, not once a frame.
//
// What a frame needs of each star is made here once: its direction and
// motion as vectors (sky::StarVector, no trigonometry per frame), its V
// magnitude, and its colour from B-V (sky::StarColour) as a 16-bit hue whose
// largest channel is full value, with the hue's luminance. Stars are kept
// brightest first (file order among equals), so the stars down to a
// magnitude limit are a prefix, and index order is brightness order as in
// the generated field. What the star listing (`velumbra stars`) shows of a
// star is kept too: its B-V and its name (in one pool of text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/host.h"
#include "sky/astrometry.h"

struct SkyCatalogueStar {
  sky::StarVector vector;    // ICRS direction at the catalogue epoch, motion, parallax
  float magnitude = 0.0f;    // V
  BMM_Color_64 hue;          // the B-V colour; its largest channel 65280, alpha 0
  float hueLuminance = 0.0f; // 0.2126 r + 0.7152 g + 0.0722 b of `hue`, 16-bit units (> 0)
  float bv = 0.0f;           // B-V as the catalogue gives it; NaN when it gives none
  std::uint32_t name = 0;    // where its name starts in the catalogue's names (NameOf); 0: none
};

class SkyCatalogue {
 public:
  // Brings the catalogue up to the file `name` names (a catalogfile value):
  // unchanged while its stamp is, read and parsed when it changed. False,
  // keeping what it held, with `error` saying what is wrong for the user:
  // the file and line of a malformed line ("/x/stars.dat:812: column 21:
  // ..."), a missing file with the Debian package that ships it, an empty
  // name. Throws std::bad_alloc when memory runs out.
  bool Refresh(const MCHAR* name, std::string& error);
  // True when the catalogue holds the version of the file `name` names
  // that is on disk now (one stat): Refresh would keep it.
  bool IsCurrent(const MCHAR* name) const;

  // Brightest first.
  const std::vector<SkyCatalogueStar>& stars() const { return stars_; }
  // The number of stars of magnitude at most `limit` (a prefix of stars()).
  std::size_t CountTo(float limit) const;
  double epochJulianYear() const { return epoch_; }
  // Changes (counting up from 1) each time a file version is parsed; 0
  // before the first.
  std::uint64_t version() const { return version_; }
  const FileStamp& stamp() const { return stamp_; }
  // The name of one of stars(), empty when it has none.
  const char* NameOf(const SkyCatalogueStar& s) const { return names_.c_str() + s.name; }

  // Memory, in bytes. Kept: the stars and their names. Loading: the most
  // the latest Refresh that parsed held at once beside what is kept (the
  // file's bytes, the parsed catalogue, the stars being made with their
  // names and their sort's buffer), measured as it parsed: an upper bound of
  // what reading this version again takes.
  std::uint64_t KeptBytes() const;
  std::uint64_t LoadBytes() const { return loadBytes_; }

 private:
  std::vector<SkyCatalogueStar> stars_;
  std::string names_;  // names, each ended by a NUL; offset 0 is the empty name
  std::uint64_t loadBytes_ = 0;
  double epoch_ = 2000.0;
  FileStamp stamp_;
  std::uint64_t version_ = 0;
};

// The Debian package that ships the catalogue at `path`, or empty when none
// is known: kstars-data for /usr/share/kstars/..., xplanet for
// /usr/share/xplanet/....
std::string_view PackageProviding(std::string_view path);
