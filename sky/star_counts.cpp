#include "sky/star_counts.h"

#include <algorithm>
#include <cmath>

namespace sky {
namespace {

// The bin of a magnitude: floor(m / 0.25).
long long BinOf(double m) { return static_cast<long long>(std::floor(m / kMagnitudeBin)); }
double EdgeOf(long long bin) { return static_cast<double>(bin) * kMagnitudeBin; }

// Stars of magnitude below m.
std::size_t CountBelow(std::span<const float> sorted, double m) {
  return static_cast<std::size_t>(
      std::partition_point(sorted.begin(), sorted.end(), [&](float v) { return static_cast<double>(v) < m; }) -
      sorted.begin());
}

// The |sin b| bounds of the two bins the plane/pole ratio compares.
constexpr double kPlaneBand = 0.2;
constexpr double kPoleBand = 0.8;
// The softening's search range: a ratio beyond the first's (about 24) is
// taken as it, one below the second's (1.00002) as uniform.
constexpr double kSofteningMin = 1e-3;
constexpr double kSofteningMax = 1e4;

}  // namespace

MagnitudeCounts FitMagnitudeCounts(std::span<const float> sortedMagnitudes) {
  MagnitudeCounts out;
  // The magnitudes in -30..30 (NaN sorts last; a damaged catalogue's
  // absurd magnitudes would ask for absurdly many bins).
  const auto below = [&](double limit) {
    return static_cast<std::size_t>(std::partition_point(sortedMagnitudes.begin(), sortedMagnitudes.end(),
                                                         [&](float v) { return v < limit; }) -
                                    sortedMagnitudes.begin());
  };
  const std::size_t from = below(-kFaintestFillIn);
  const std::span<const float> m = sortedMagnitudes.subspan(from, below(std::nextafter(kFaintestFillIn, 31.0)) - from);
  if (m.empty()) return out;

  // Quarter-magnitude counts and the fullest bin (the fainter one on a tie).
  const long long first = BinOf(m.front());
  const long long last = BinOf(m.back());
  std::vector<std::size_t> counts(static_cast<std::size_t>(last - first + 1), 0);
  for (float v : m) ++counts[static_cast<std::size_t>(BinOf(v) - first)];
  std::size_t peak = 0;
  for (std::size_t i = 0; i < counts.size(); ++i)
    if (counts[i] >= counts[peak]) peak = i;
  if (peak + 1 < static_cast<std::size_t>(kFitBins)) return out;
  for (int k = 0; k < kFitBins; ++k)
    if (counts[peak - static_cast<std::size_t>(k)] < kMinStarsPerBin) return out;

  // log10 N(<m) at the window's nine edges, fitted by least squares.
  const long long top = first + static_cast<long long>(peak) + 1;  // m_c's bin edge
  double x[kFitBins + 1], y[kFitBins + 1];
  double sx = 0, sy = 0;
  for (int j = 0; j <= kFitBins; ++j) {
    x[j] = EdgeOf(top - kFitBins + j);
    const std::size_t n = CountBelow(m, x[j]);
    if (n == 0) return out;  // the window starts the catalogue: no N(<m) to take the log of
    y[j] = std::log10(static_cast<double>(n));
    sx += x[j];
    sy += y[j];
  }
  const double mx = sx / (kFitBins + 1), my = sy / (kFitBins + 1);
  double sxy = 0, sxx = 0;
  for (int j = 0; j <= kFitBins; ++j) {
    sxy += (x[j] - mx) * (y[j] - my);
    sxx += (x[j] - mx) * (x[j] - mx);
  }
  out.slope = sxy / sxx;
  out.intercept = my - out.slope * mx;
  out.completeMagnitude = EdgeOf(top);
  out.windowFirst = from + CountBelow(m, x[0]);
  out.windowEnd = from + CountBelow(m, out.completeMagnitude);
  out.valid = out.slope > 0 && std::isfinite(out.slope) && std::isfinite(out.intercept);
  return out;
}

double PlanePoleRatio(double c) {
  return std::log((kPlaneBand + c) / c) / std::log((1.0 + c) / (kPoleBand + c));
}

LatitudeDensity FitLatitudeDensity(std::span<const float> absSinLatitudes) {
  LatitudeDensity out;
  std::size_t plane = 0, pole = 0;
  for (float s : absSinLatitudes) {
    if (s < kPlaneBand) ++plane;
    else if (s >= kPoleBand) ++pole;
  }
  if (plane == 0) return out;  // nothing (or nothing near the plane) to measure
  // The two bins have the same area: the ratio of counts is the ratio of
  // densities.
  out.planePoleRatio = pole == 0 ? HUGE_VAL : static_cast<double>(plane) / static_cast<double>(pole);
  if (!(out.planePoleRatio > PlanePoleRatio(kSofteningMax))) return out;
  out.uniform = false;
  if (out.planePoleRatio >= PlanePoleRatio(kSofteningMin)) {
    out.softening = kSofteningMin;
    return out;
  }
  // PlanePoleRatio falls as c grows: bisect on log c.
  double lo = std::log(kSofteningMin), hi = std::log(kSofteningMax);
  for (int i = 0; i < 100; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (PlanePoleRatio(std::exp(mid)) > out.planePoleRatio) lo = mid;
    else hi = mid;
  }
  out.softening = std::exp(0.5 * (lo + hi));
  return out;
}

double SampleAbsSinLatitude(const LatitudeDensity& d, double u) {
  if (d.uniform) return u;
  // CDF(s) = ln((s + c) / c) / ln((1 + c) / c), inverted.
  const double c = d.softening;
  return std::min(1.0, c * std::expm1(u * std::log1p(1.0 / c)));
}

FillInCounts::FillInCounts(const MagnitudeCounts& counts, std::span<const float> sortedMagnitudes) {
  if (!counts.valid) return;
  slope_ = counts.slope;
  const auto line = [&](double m) { return std::pow(10.0, counts.intercept + counts.slope * m); };
  double f = 0;
  double edge = counts.completeMagnitude;
  edges_.push_back(edge);
  cumulative_.push_back(0);
  std::size_t below = CountBelow(sortedMagnitudes, edge);
  for (long long bin = BinOf(edge + 0.5 * kMagnitudeBin); edge < kFaintestFillIn && f < kMaxFillInStars; ++bin) {
    const double next = EdgeOf(bin + 1);
    const std::size_t belowNext = CountBelow(sortedMagnitudes, next);
    // The line's stars of this bin less the catalogue's own.
    const double missing = (line(next) - line(edge)) - static_cast<double>(belowNext - below);
    f += std::max(0.0, missing);
    edges_.push_back(next);
    cumulative_.push_back(f);
    edge = next;
    below = belowNext;
  }
  total_ = std::min(f, static_cast<double>(kMaxFillInStars));
}

double FillInCounts::CountTo(double m) const {
  if (edges_.empty() || !(m > edges_.front())) return 0;
  if (m >= edges_.back()) return total_;
  const std::size_t i = static_cast<std::size_t>(std::upper_bound(edges_.begin(), edges_.end(), m) - edges_.begin()) - 1;
  const double lo = std::pow(10.0, slope_ * (m - edges_[i]));
  const double hi = std::pow(10.0, slope_ * (edges_[i + 1] - edges_[i]));
  const double f = cumulative_[i] + (cumulative_[i + 1] - cumulative_[i]) * (lo - 1.0) / (hi - 1.0);
  return std::min(f, total_);
}

double FillInCounts::MagnitudeAt(double t) const {
  if (edges_.empty() || !(t > 0)) return edges_.empty() ? kFaintestFillIn : edges_.front();
  // The bin whose count holds t: the first edge with a larger cumulative
  // count ends it (bins the catalogue fills hold none).
  const auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), t);
  if (it == cumulative_.end()) return edges_.back();
  const std::size_t i = static_cast<std::size_t>(it - cumulative_.begin()) - 1;
  const double x = (t - cumulative_[i]) / (cumulative_[i + 1] - cumulative_[i]);
  // 10^(b (m - lo)) = 1 + x (10^(b (hi - lo)) - 1).
  const double span = std::pow(10.0, slope_ * (edges_[i + 1] - edges_[i])) - 1.0;
  return edges_[i] + std::log10(1.0 + x * span) / slope_;
}

}  // namespace sky
