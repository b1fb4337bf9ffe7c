// SkyFillIn: seeded stars fainter than the catalogue's limit (fillinflag),
// so that a long lens on a catalogue that stops at magnitude 9 does not
// show a sky too empty.
//
// The model is the catalogue's own (sky/star_counts.h): its count per
// magnitude continued past its completeness limit m_c along the slope of
// its last two well-populated magnitudes, and its density per galactic
// latitude fitted to the same stars. The fill-in adds the stars the
// continued count predicts and the catalogue lacks, down to magnitudelimit
// (none while the limit is brighter than m_c), at most kMaxFillInStars.
//
// Fill-in star k (k = 0, 1, ... in order of magnitude) is a pure function
// of the effect's `seed` and k, drawn from the host's counter-based Random
// at draws kFillInStream + 5k ... 5k + 4 of the seed (far beyond the draws
// the generated field of the same seed takes):
//   1. its magnitude: the m where the fill-in's cumulative count F(m)
//      equals k + u (u uniform in [0, 1)), so magnitudes grow with k and
//      the stars down to any limit are a prefix 0 .. about F(limit);
//   2. its galactic longitude, uniform;
//   3. |sin b| by the latitude density's inverse distribution;
//   4. the sign of b, north or south alike;
//   5. its colour: the B-V of a star drawn uniformly from the catalogue's
//      stars of the fit's two magnitudes (its faint-star colours as they
//      are; white, as the catalogue's own, where it has no B-V).
// The stars are directions in the celestial frame (ICRS, no proper motion,
// no parallax): they go through the same sky transform as catalogue stars
// and turn with the sky in the observer frame.
//
// Made once per catalogue version and seed, and extended, never remade,
// when the limit grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "effect/sky_catalogue.h"
#include "plugin/host.h"
#include "sky/star_counts.h"

// One fill-in star: 20 bytes.
struct FillInStar {
  float x = 0, y = 0, z = 0;   // ICRS unit direction
  float magnitude = 0;         // V
  std::uint32_t colourOf = 0;  // the catalogue star (index in SkyCatalogue::stars()) whose colour it takes
};

// Where fill-in star k's draws start in its seed's stream: 2^40, beyond
// the draws of any generated field (10 million stars take fewer than 2^30).
inline constexpr std::uint64_t kFillInStream = std::uint64_t{1} << 40;
inline constexpr std::uint64_t kFillInDrawsPerStar = 5;

class SkyFillIn {
 public:
  // Fits the model to `catalogue` when its version is not the one fitted,
  // and makes the stars of `seed` down to magnitude `limit` (keeping those
  // already made for this catalogue and seed). Throws std::bad_alloc when
  // memory runs out.
  void Refresh(const SkyCatalogue& catalogue, int seed, float limit);

  // The stars made of magnitude at most `limit`, brightest first.
  std::span<const FillInStar> StarsTo(float limit) const;
  // At least as many stars as Refresh makes for `limit`, from the model
  // alone (for the memory estimate): floor(F(limit)) + 1, 0 without a model.
  std::size_t BoundTo(float limit) const;

  // Fits the model without making stars (kept until the next Refresh or
  // Fit of another catalogue version).
  void Fit(const SkyCatalogue& catalogue);

  const sky::MagnitudeCounts& counts() const { return counts_; }
  const sky::LatitudeDensity& density() const { return density_; }
  const sky::FillInCounts& fillCounts() const { return fill_; }
  // The memory the made stars take (their array's capacity), bytes.
  std::size_t Bytes() const { return stars_.capacity() * sizeof(FillInStar); }

  // Star k of the seed `rng` was seeded with, under the fitted model.
  FillInStar Make(const Random& rng, std::uint64_t k) const;

 private:
  std::uint64_t version_ = 0;  // the catalogue version fitted; 0: none
  sky::MagnitudeCounts counts_;
  sky::LatitudeDensity density_;
  sky::FillInCounts fill_;
  bool seeded_ = false;
  int seed_ = 0;
  std::vector<FillInStar> stars_;
};
