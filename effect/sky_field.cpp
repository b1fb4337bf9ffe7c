#include "effect/sky_field.h"

#include <algorithm>
#include <cmath>

#include "effect/param_value.h"
#include "effect/qe_velumbra_params.h"
#include "raster/channel.h"
#include "raster/coverage.h"
#include "sky/astrometry.h"
#include "sky/star_light.h"

namespace {

std::string Text(IParamBlock2* pb, ParamID id, TimeValue t) {
  const MCHAR* s = pb->GetStr(id, t);
  return s ? std::string(s) : std::string();
}

// Days from 1970-01-01 of a proleptic Gregorian date, and back (the civil
// calendar's well-known integer forms).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

SkyParams SkyParamsAt(IParamBlock2* pb, TimeValue t) {
  // The block holds every one of them (its descriptor gives the defaults);
  // the zeros only stand for a value it could not give.
  SkyParams p;
  if (!pb) return p;
  p.catalogFile = Text(pb, pb_catalogfile, t);
  p.frame = ParamValueAt<int>(pb, pb_skyframe, t, 0);
  p.observerTime = Text(pb, pb_observertime, t);
  p.latitudeDeg = ParamValueAt<float>(pb, pb_observerlatitude, t, 0.0f);
  p.longitudeDeg = ParamValueAt<float>(pb, pb_observerlongitude, t, 0.0f);
  p.heightM = ParamValueAt<float>(pb, pb_observerheight, t, 0.0f);
  p.ut1MinusUtc = ParamValueAt<float>(pb, pb_ut1minusutc, t, 0.0f);
  p.magnitudeLimit = ParamValueAt<float>(pb, pb_magnitudelimit, t, 0.0f);
  p.magnitudeZero = ParamValueAt<float>(pb, pb_magnitudezero, t, 0.0f);
  p.refraction = ParamValueAt<int>(pb, pb_refractionflag, t, 0) != 0;
  p.pressureHpa = ParamValueAt<float>(pb, pb_refractionpressure, t, 0.0f);
  p.temperatureC = ParamValueAt<float>(pb, pb_refractiontemperature, t, 0.0f);
  p.belowHorizon = ParamValueAt<int>(pb, pb_belowhorizonflag, t, 0) != 0;
  p.minSize = ParamValueAt<float>(pb, pb_starminsize, t, 0.0f);
  p.growth = ParamValueAt<float>(pb, pb_stargrowth, t, 0.0f);
  p.fillIn = ParamValueAt<int>(pb, pb_fillinflag, t, 0) != 0;
  p.seed = p.fillIn ? ParamValueAt<int>(pb, pb_seed, t, 0) : 0;
  return p;
}

sky::UtcInstant AddSeconds(const sky::UtcInstant& t, double seconds) {
  if (seconds == 0.0) return t;
  const double day = 86400.0;
  // Seconds of the day (a leap second's 60.x counts as the next minute's).
  double s = t.hour * 3600.0 + t.minute * 60.0 + t.second + seconds;
  long long days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
  const double whole = std::floor(s / day);
  days += static_cast<long long>(whole);
  s -= whole * day;
  if (s >= day) {  // rounding at the day's end
    s -= day;
    ++days;
  }
  sky::UtcInstant out;
  CivilFromDays(days, out.year, out.month, out.day);
  out.hour = static_cast<int>(s / 3600.0);
  s -= out.hour * 3600.0;
  out.minute = static_cast<int>(s / 60.0);
  out.second = s - out.minute * 60.0;
  if (out.minute > 59) out.minute = 59;  // rounding guards: the second takes the rest
  if (out.hour > 23) out.hour = 23;
  return out;
}

float StarRadius(double light, float minSize, float growth) {
  const double r0 = std::clamp(static_cast<double>(minSize), 0.01, static_cast<double>(kMaxStarRadius));
  const double full = raster::DiscIntegral(r0);
  if (!(light > full) || !(growth > 0.0f)) return static_cast<float>(r0);
  const double r = r0 * std::pow(light / full, static_cast<double>(growth));
  return static_cast<float>(std::min(r, static_cast<double>(kMaxStarRadius)));
}

WORD StarAlpha(int alpha16, float gain) {
  const float a = static_cast<float>(std::clamp(alpha16, 0, kFullChannel));
  return ToChannel(gain >= 1.0f ? a : a * gain);
}

bool PlaceSkyStars(const SkyCatalogue& catalogue, SkyFillIn& fillIn, SkyField& field, const SkyParams& p,
                   TimeValue t, int alpha16, std::string& error) {
  if (p.fillIn) fillIn.Refresh(catalogue, p.seed, p.magnitudeLimit);
  return field.Refresh(catalogue, p.fillIn ? &fillIn : nullptr, p, t, alpha16, error);
}

std::size_t SkyField::Bytes() const {
  return records_.capacity() * sizeof(StarRecord) + light_.capacity() * sizeof(float) +
         scale_.capacity() * sizeof(float) + source_.capacity() * sizeof(std::uint32_t);
}

bool SkyField::Refresh(const SkyCatalogue& catalogue, const SkyFillIn* fillIn, const SkyParams& p, TimeValue t,
                       int alpha16, std::string& error) {
  sky::UtcInstant start;
  if (!sky::ParseUtc(p.observerTime, start, error)) {
    error = "observertime \"" + p.observerTime + "\": " + error;
    return false;
  }
  Key key;
  key.version = catalogue.version();
  key.params = p;
  key.instant = AddSeconds(start, static_cast<double>(t) / 4800.0);
  key.alpha16 = alpha16;
  if (placed_ && key == key_) return true;

  sky::SkySettings settings;
  settings.frame = p.frame == 1 ? sky::SkyFrame::Observer : sky::SkyFrame::Celestial;
  settings.time = key.instant;
  settings.ut1MinusUtc = p.ut1MinusUtc;
  settings.latitudeDeg = p.latitudeDeg;
  settings.longitudeDeg = p.longitudeDeg;
  settings.heightM = p.heightM;
  settings.refraction = p.refraction;
  settings.pressureHpa = p.pressureHpa;
  settings.temperatureC = p.temperatureC;
  settings.catalogueEpochJulianYear = catalogue.epochJulianYear();
  const sky::SkyTransform transform(settings);
  const bool observer = settings.frame == sky::SkyFrame::Observer;

  const std::size_t n = catalogue.CountTo(p.magnitudeLimit);
  const std::span<const FillInStar> faint =
      fillIn ? fillIn->StarsTo(p.magnitudeLimit) : std::span<const FillInStar>();
  const std::size_t total = n + faint.size();
  // Exactly as many as asked (a resize alone may double).
  records_.reserve(total);
  light_.reserve(total);
  scale_.reserve(total);
  source_.reserve(total);
  records_.resize(total);
  light_.resize(total);
  scale_.resize(total);
  source_.resize(total);
  const std::vector<SkyCatalogueStar>& stars = catalogue.stars();
  // Star j of the catalogue's n and then the fill-in's, at its place j; one
  // that is not drawn is marked and the rest moved up after.
  constexpr std::uint32_t kLeftOut = UINT32_MAX;
  const auto place = [&](std::size_t j) {
    sky::StarVector fill;
    const sky::StarVector* v = &fill;
    float magnitude;
    const SkyCatalogueStar* colour;
    std::uint32_t source;
    if (j < n) {
      v = &stars[j].vector;
      magnitude = stars[j].magnitude;
      colour = &stars[j];
      source = static_cast<std::uint32_t>(j);
    } else {
      // The fill-in: directions without motion or parallax.
      const FillInStar& f = faint[j - n];
      fill.position = {f.x, f.y, f.z};
      magnitude = f.magnitude;
      colour = &stars[f.colourOf];
      source = static_cast<std::uint32_t>(stars.size() + (j - n));
    }
    source_[j] = kLeftOut;
    const sky::Vec3 d = transform.Direction(*v);
    if (observer && !p.belowHorizon && d[2] < 0.0) return;
    const double light = sky::MagnitudeLight(magnitude, p.magnitudeZero);
    if (!(light > 0.0) || !std::isfinite(light)) return;  // too faint for a float, or not a number
    StarRecord& r = records_[j];
    r.pos = Point3(static_cast<float>(d[0]), static_cast<float>(d[1]), static_cast<float>(d[2]));
    r.color = colour->hue;
    r.color.a = static_cast<WORD>(std::clamp(alpha16, 0, kFullChannel));
    r.size = StarRadius(light, p.minSize, p.growth);
    light_[j] = static_cast<float>(light);
    scale_[j] = static_cast<float>(light * kFullChannel / static_cast<double>(colour->hueLuminance));
    source_[j] = source;
  };
  // Each star on its own: the granted threads share them, the same records
  // as one thread makes.
  const int threads = std::max(1, RenderThreadsGranted());
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(total);
#pragma omp parallel for num_threads(threads) schedule(static, 8192) if (threads >= 2 && total >= 65536)
  for (std::ptrdiff_t j = 0; j < count; ++j) place(static_cast<std::size_t>(j));
  std::size_t kept = 0;
  for (std::size_t j = 0; j < total; ++j) {
    if (source_[j] == kLeftOut) continue;
    if (kept != j) {
      records_[kept] = records_[j];
      light_[kept] = light_[j];
      scale_[kept] = scale_[j];
      source_[kept] = source_[j];
    }
    ++kept;
  }
  records_.resize(kept);
  light_.resize(kept);
  scale_.resize(kept);
  source_.resize(kept);
  key_ = key;
  placed_ = true;
  return true;
}
