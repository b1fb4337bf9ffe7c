#include "effect/sky_fill_in.h"

#include <algorithm>
#include <cmath>

#include "sky/vec3.h"

namespace {

// Draw k as a number in [0, 1).
double Uniform(const Random& rng, std::uint64_t k) {
  return static_cast<double>(rng.Draw(k)) / (static_cast<double>(Random::s_rand_max) + 1.0);
}

}  // namespace

void SkyFillIn::Fit(const SkyCatalogue& catalogue) {
  if (version_ == catalogue.version() && version_ != 0) return;
  const std::vector<SkyCatalogueStar>& stars = catalogue.stars();
  std::vector<float> magnitudes(stars.size());
  for (std::size_t i = 0; i < stars.size(); ++i) magnitudes[i] = stars[i].magnitude;
  counts_ = sky::FitMagnitudeCounts(magnitudes);
  fill_ = sky::FillInCounts(counts_, magnitudes);
  density_ = {};
  if (counts_.valid) {
    // The window's stars where the catalogue places them (its epoch; proper
    // motion moves none of them by a measurable part of the sky).
    std::vector<float> latitudes;
    latitudes.reserve(counts_.windowEnd - counts_.windowFirst);
    for (std::size_t i = counts_.windowFirst; i < counts_.windowEnd; ++i)
      latitudes.push_back(static_cast<float>(sky::AbsSinGalacticLatitude(stars[i].vector.position)));
    density_ = sky::FitLatitudeDensity(latitudes);
  }
  version_ = catalogue.version();
  seeded_ = false;
  stars_.clear();
}

FillInStar SkyFillIn::Make(const Random& rng, std::uint64_t k) const {
  const std::uint64_t d = kFillInStream + k * kFillInDrawsPerStar;
  FillInStar s;
  s.magnitude = static_cast<float>(fill_.MagnitudeAt(static_cast<double>(k) + Uniform(rng, d)));
  const double l = sky::kTwoPi * Uniform(rng, d + 1);
  const double sinB = sky::SampleAbsSinLatitude(density_, Uniform(rng, d + 2)) * (Uniform(rng, d + 3) < 0.5 ? -1.0 : 1.0);
  const sky::Vec3 v = sky::GalacticToIcrs(l, std::asin(sinB));
  s.x = static_cast<float>(v[0]);
  s.y = static_cast<float>(v[1]);
  s.z = static_cast<float>(v[2]);
  const std::size_t window = counts_.windowEnd - counts_.windowFirst;
  const std::size_t pick = std::min(window - 1, static_cast<std::size_t>(Uniform(rng, d + 4) * static_cast<double>(window)));
  s.colourOf = static_cast<std::uint32_t>(counts_.windowFirst + pick);
  return s;
}

std::size_t SkyFillIn::BoundTo(float limit) const {
  if (!counts_.valid || !(limit > counts_.completeMagnitude)) return 0;
  return static_cast<std::size_t>(std::floor(fill_.CountTo(limit))) + 1;
}

void SkyFillIn::Refresh(const SkyCatalogue& catalogue, int seed, float limit) {
  Fit(catalogue);
  if (!seeded_ || seed != seed_) {
    stars_.clear();
    seed_ = seed;
    seeded_ = true;
  }
  // Star k exists while k + u < Total(); those down to the limit have
  // k <= F(limit).
  const double total = fill_.Total();
  const std::size_t wanted = std::min(BoundTo(limit), static_cast<std::size_t>(std::ceil(total)));
  if (wanted <= stars_.size()) return;
  Random rng;
  rng.srand(static_cast<unsigned>(seed));
  stars_.reserve(wanted);
  for (std::size_t k = stars_.size(); k < wanted; ++k) {
    if (!(static_cast<double>(k) + Uniform(rng, kFillInStream + k * kFillInDrawsPerStar) < total)) break;
    stars_.push_back(Make(rng, k));
  }
}

std::span<const FillInStar> SkyFillIn::StarsTo(float limit) const {
  const auto end = std::partition_point(stars_.begin(), stars_.end(),
                                        [&](const FillInStar& s) { return s.magnitude <= limit; });
  return {stars_.data(), static_cast<std::size_t>(end - stars_.begin())};
}
