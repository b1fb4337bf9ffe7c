// SkyField: the catalogue's stars as one render draws them.
//
// How catalogue stars meet the pass. Each star down to the magnitude limit
// becomes a StarRecord like a generated star's: its apparent direction at
// the frame's time, a unit vector in the world frame (sky::SkyTransform:
// ICRS axes in the celestial frame, the local horizon x east, y north, z up
// in the observer's), is the record's position on the unit sphere. From
// there the pass treats it as it treats a generated star: StarToCamera
// (the band limit, the 3D domain and the origin object apply as they do to
// the generated field; at their defaults a direction stays itself, and
// outside the 3D domain the view drops its translation, so the stars are at
// infinity), the motion-blur samples, hyperspace, scintillation, the masks,
// alpha and ID writes, the star loop's threads. What differs is the light:
// a catalogue star is drawn by light calls (PixelTarget::DrawLightSplat and
// kin) whose gain gives it exactly its light (render/light_path.h).
//
// With fillinflag the seeded stars fainter than the catalogue's limit
// (effect/sky_fill_in.h) follow the catalogue's records, down to the same
// magnitude limit: directions in the celestial frame placed by the same
// transform, drawn by the same rules.
//
// The frame's time is observertime plus the render time (t / 4800 s): a
// shot's frames follow the sky. Directions are computed once per render at
// that time; within one motion-blur interval the sky turns by a quarter of
// an arc second, and the camera's motion is what blurs.
//
// Brightness. A star of V magnitude m carries the light
//   L = 10^(-0.4 (m - m0))      (sky::MagnitudeLight, m0 = magnitudezero)
// in frame units (1.0 = 65280): the sum over its pixels of the luminance
// 0.2126 R + 0.7152 G + 0.0722 B of what it adds, however it is drawn, its
// colour the B-V colour scaled to that luminance.
//
// Size. A star is a disc of radius r pixels (a disc of radius r - 1 with a
// one-pixel soft rim). Let Lmin be the light a disc of the minimum radius
// r0 = starminsize holds at full value, the coverage integral
// pi (r0^2 - r0 + 1/3) (pi r0^3 / 3 below radius 1). A star with L <= Lmin
// keeps the radius r0 and dims, as planetariums draw faint stars: the
// faintest stay visible points rather than shrinking below a pixel. A
// brighter star grows: r = r0 (L / Lmin)^g, g = stargrowth (0: all stars
// the same size, their cores clipping in the 16-bit frame; 0.5: the area
// grows with the light, the core stays near full value), at most 100
// pixels. Sizes are in pixels of the output image: the same star has the
// same size and the same light at any frame size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "effect/sky_catalogue.h"
#include "effect/sky_fill_in.h"
#include "plugin/host.h"
#include "sky/sky_time.h"
#include "starfield/star_record.h"

// The sky's settings as the block holds them at a time (units as the
// parameters': degrees, metres, seconds, hPa, degrees Celsius, pixels).
struct SkyParams {
  std::string catalogFile;
  int frame = 0;  // skyframe: 0 celestial, 1 observer
  std::string observerTime;
  double latitudeDeg = 0, longitudeDeg = 0, heightM = 0, ut1MinusUtc = 0;
  float magnitudeLimit = 0, magnitudeZero = 0;
  bool refraction = false;
  double pressureHpa = 0, temperatureC = 0;
  bool belowHorizon = false;
  float minSize = 0, growth = 0;
  // Fill-in below the catalogue's limit (fillinflag) and its seed (the
  // effect's `seed`; 0 while fill-in is off, so that the seed alone does
  // not place the stars again).
  bool fillIn = false;
  int seed = 0;

  bool operator==(const SkyParams&) const = default;
};

// Reads the settings at t (the parameters of the Sky rollout but
// starsource).
SkyParams SkyParamsAt(IParamBlock2* pb, TimeValue t);

// The instant `seconds` after `t` (before, when negative), on the calendar
// of 86400-second days: a shot that crosses a leap second is off by that
// second after it. 0 gives `t` itself, a leap second's 23:59:60 included.
sky::UtcInstant AddSeconds(const sky::UtcInstant& t, double seconds);

// The largest radius a star grows to, in pixels.
inline constexpr float kMaxStarRadius = 100.0f;

// The radius of a star of light L by the rule above.
float StarRadius(double light, float minSize, float growth);

// The alpha of a star drawn with gain `gain` (its hue's largest channel
// becomes 65280 x gain): the star alpha (alpha16) while the star's core is
// at or above full value, in proportion below, so that a faint star does
// not cover the plate with more alpha than it has light.
WORD StarAlpha(int alpha16, float gain);

class SkyField;

// The stars a render at t draws from `catalogue` (refreshed already):
// `fillIn` brought to p.seed and the magnitude limit when p.fillIn, then
// `field` placed. False with `error` as SkyField::Refresh.
bool PlaceSkyStars(const SkyCatalogue& catalogue, SkyFillIn& fillIn, SkyField& field, const SkyParams& p,
                   TimeValue t, int alpha16, std::string& error);

class SkyField {
 public:
  // Places the stars of `catalogue` down to the magnitude limit for the
  // render time t: records on the unit sphere, brightest first, then the
  // stars of `fillIn` down to the same limit (null: none; made by
  // SkyFillIn::Refresh for this catalogue, p.seed and the limit) in their
  // order; in the observer frame the stars below the horizon are left out
  // unless asked for. The stars are placed on the threads the host grants
  // (RenderThreadsGranted), the same records as on one. Reuses the records
  // while the catalogue's version,
  // the settings, the instant and alpha16 are the same. False with `error`
  // when observertime is not an ISO 8601 UTC time. Throws std::bad_alloc
  // when memory runs out.
  bool Refresh(const SkyCatalogue& catalogue, const SkyFillIn* fillIn, const SkyParams& p, TimeValue t, int alpha16,
               std::string& error);

  const StarRecord* stars() const { return records_.data(); }
  std::uint32_t count() const { return static_cast<std::uint32_t>(records_.size()); }
  // Per record: its light L (frame units).
  const std::vector<float>& light() const { return light_; }
  // Per record: L x 65280 / the hue's luminance: divided by the coverage sum
  // of the star's drawing calls, the gain that lays down exactly L.
  const std::vector<float>& lightScale() const { return scale_; }
  // Per record: the catalogue index of its star, or for fill-in star k the
  // catalogue's size + k.
  const std::vector<std::uint32_t>& source() const { return source_; }
  // The memory the records take (their arrays' capacity), bytes.
  std::size_t Bytes() const;
  // The bytes a record takes in those arrays.
  static constexpr std::size_t kBytesPerRecord =
      sizeof(StarRecord) + sizeof(float) + sizeof(float) + sizeof(std::uint32_t);
  // The instant the records were placed for.
  const sky::UtcInstant& instant() const { return key_.instant; }

 private:
  struct Key {
    std::uint64_t version = 0;
    SkyParams params;
    sky::UtcInstant instant;
    int alpha16 = -1;
    bool operator==(const Key& o) const {
      const sky::UtcInstant& a = instant;
      const sky::UtcInstant& b = o.instant;
      return version == o.version && params == o.params && alpha16 == o.alpha16 && a.year == b.year &&
             a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
             a.second == b.second;
    }
  };
  Key key_;
  bool placed_ = false;
  std::vector<StarRecord> records_;
  std::vector<float> light_;
  std::vector<float> scale_;
  std::vector<std::uint32_t> source_;
};
