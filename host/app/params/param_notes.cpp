#include "host/app/params/param_notes.h"

#include <array>
#include <utility>

namespace velumbra {

namespace {

// Colours are display values (as a colour picker shows them; the host
// converts them into a linear plate's space, colour_plan.h), components
// 0..1; 1 is the effect's full intensity (file white).
constexpr std::array<std::pair<std::string_view, std::string_view>, 60> kNotes{{
    {"starscount",
     "Number of stars generated on the sky (a unit ball of directions, or the 3D domain). Only the stars in "
     "view are drawn: with a 45 degree lens about 3 % of them. 0 draws nothing. Changing it regenerates the "
     "field."},
    {"seed",
     "Seed of the generated field: the same seed and count give the same stars on every machine. Changing "
     "it regenerates the field."},
    {"useobjoriginflag",
     "On: the field is centred on, and turns with, the node `objectorigin` names (its world transform at "
     "each time); off, or with no node named: the world origin. A moving origin blurs the stars like a "
     "moving camera."},
    {"objectorigin", "The node (any kind) whose transform places the field while `useobjoriginflag` is on."},
    {"velumbralimit",
     "Flattening of the field along the origin's z axis, 0..1: 1 keeps the sky a full sphere; small values "
     "squeeze it into a band around the origin's xy plane (a Milky-Way-like strip; a disc in the 3D domain)."},
    {"starsdomain3dflag",
     "Off (default): stars are directions at infinity, they do not move when the camera moves, only when it "
     "turns. On: stars are points in a ball of radius `starsdomain3dradius` around the origin, so a camera "
     "moving through them gives parallax."},
    {"starsdomain3dradius",
     "Radius of the 3D domain, in world units (used while `starsdomain3dflag` is on). Also scales "
     "`hyperspacedepth` in the 3D domain."},
    {"radialdensitybalance",
     "How the stars of the 3D domain spread between its centre and its rim, 0..1: 0.5 fills the ball "
     "uniformly, smaller values crowd them towards the centre, larger ones towards the rim."},
    {"brightstarscolor",
     "Colour of the brightest star, [r, g, b] each 0..1 (1 = full intensity); the stars grade from it to "
     "`dimstarscolor`."},
    {"dimstarscolor", "Colour of the dimmest star, [r, g, b] each 0..1."},
    {"colorvariance",
     "Random variation of each star's colour, in percent: 0 gives exactly the graded colours, 100 scales each "
     "channel by a random factor of 0..2 (held at full intensity)."},
    {"brightdimbalance",
     "Bias of the grading from the brightest to the dimmest star, 0..1: 0.5 grades sizes and colours "
     "linearly, smaller values make most stars dim, 1 makes every star as bright as the first."},
    {"brightstarssize", "Radius of the brightest star's splat, in pixels."},
    {"dimstarssize", "Radius of the dimmest star's splat, in pixels."},
    {"starsalphaflag",
     "On: the stars carry the alpha `starsalpha` and add it to the image's alpha (so stars on a transparent "
     "background are visible in straight-alpha files). Off: the stars' alpha is 255 but the image's alpha is "
     "left as it is (light without coverage, see docs/velumbra.md)."},
    {"starsalpha", "Alpha of the stars, 0..255 (8-bit), used while `starsalphaflag` is on."},
    {"starsobjectidflag",
     "On: pixels where a star is at least half opaque get the object ID `starsobjectid` in the G-buffer "
     "(written with `--ids` or to an OpenEXR output)."},
    {"starsobjectid", "Object ID stamped at star pixels, 0..255 (while `starsobjectidflag` is on)."},
    {"starsmaterialidflag", "On: pixels where a star is at least half opaque get the material ID `starsmaterialid`."},
    {"starsmaterialid", "Material ID stamped at star pixels, 0..15 (while `starsmaterialidflag` is on)."},
    {"usecameraflag",
     "On: the stars are seen from the camera `camera` names, whatever view renders (a camera that moves "
     "blurs them). Off (default): the stars follow the render view; `camera` is then only a hint to "
     "recognise which scene camera renders (the effect compares it with the view and writes the camera it "
     "recognised back into `camera`), so a `camera` given with the flag off is ignored when it is not the "
     "render camera. Set the flag to 1 whenever you name a camera."},
    {"camera",
     "A camera node: the view of the stars while `usecameraflag` is on; otherwise the effect's memory of the "
     "render camera (see `usecameraflag`)."},
    {"duration",
     "Motion blur: length of the shutter interval, in frames. A frame at time t sees the stars over "
     "[t - duration, t], so a camera turning during that interval draws each star as a streak from where it "
     "was `duration` frames ago to where it is now. 0 gives sharp stars."},
    {"durationsubdivisions",
     "Number of straight segments the shutter interval is cut into, 1..1000: 1 draws a straight streak, more "
     "follow a curved path (a camera that turns and moves) at that many times the drawing cost."},
    {"starsdimming",
     "Dimming of streaks, per pixel of streak length: a segment of length L pixels is divided by "
     "(`durationsubdivisions` x starsdimming x L + 1), so long streaks fade as light spread over a longer "
     "path does. 0 does not dim: streaks as bright as the still star (a much brighter, busier picture). "
     "The hyperspace streaks are dimmed the same way, which is why they need a low value to be seen."},
    {"starsdimmingfilter",
     "Per-channel weight of `starsdimming`, [r, g, b] each 0..1: a channel at 1 is not dimmed, at 0 (the "
     "default, black) fully; (1, 0, 0) keeps streaks red while green and blue fade."},
    {"bakobjectidflag", "On: stars are drawn only over pixels whose object ID in the G-buffer is `bakobjectid`."},
    {"bakobjectid", "The object ID that `bakobjectidflag` draws over, 0..255."},
    {"bakmaterialidflag", "On: stars are drawn only over pixels whose material ID is `bakmaterialid`."},
    {"bakmaterialid", "The material ID that `bakmaterialidflag` draws over, 0..15."},
    {"drawmode",
     "How a star pixel is laid into the image (the apply method; an index or its name). Additive With "
     "Alpha adds the star where the image is transparent and fades it out over opaque areas (stars behind "
     "a rendered object). Additive With Inverse Alpha adds it only in proportion to the image's opacity "
     "(stars on the object). Simple Additive adds the star light everywhere. Simple Apply lays the star over "
     "the image by its own alpha. Apply As Filter multiplies the image by the star's colour. Over an OpenEXR "
     "plate the light is added to (or, for the filter, scales) the plate's own floats, also above 1.0."},
    {"hyperspaceflag",
     "On: every star is stretched into a streak, as seen when travelling fast (with `hyperspacedepth`, "
     "`hyperspacedirection`). Works in the main pass only (not with scintillation). On its own it changes "
     "nothing: `hyperspacedepth` is 0 by default. A visible warp needs the flag, `hyperspacedepth` about "
     "0.5 and `starsdimming` about 0.005 (scenes/hyperspace.json)."},
    {"hyperspacedepth",
     "Length of the hyperspace displacement, -1..1, as a fraction of the sky's unit radius (of "
     "`starsdomain3dradius` in the 3D domain): positive streaks point away from the image centre, negative "
     "ones towards it. Streaks are dimmed by `starsdimming`: at its default 0.3 a depth of 0.5 peaks near "
     "47/255, so a visible warp wants `starsdimming` about 0.005."},
    {"hyperspacedirection",
     "Direction of travel of the hyperspace streaks: along the view axis (streaks radiate from the image "
     "centre) or along the +X axis of `hsdirectionobject`."},
    {"hsdirectionobject", "The node whose +X axis gives the hyperspace direction when `hyperspacedirection` is 1."},
    {"scintillationflag",
     "On: the stars twinkle (jitter in position and brightness over time) instead of being motion-blurred; "
     "motion blur and hyperspace are off while it is on."},
    {"scintillationseed", "Seed of the twinkle: the same seed gives the same twinkle in every render."},
    {"scintillationfrequency",
     "Twinkle keys per second, in hertz (0.001..4800), on the host's clock of 4800 ticks a second. At an "
     "NTSC frame rate (23.976 ...) frames take the ticks of the whole rate (24 ...), so the twinkle runs "
     "0.1 % faster than the real clock of the footage."},
    {"scintillationdx", "Amplitude of the horizontal jitter, in pixels of the output image."},
    {"scintillationlockdxyflag",
     "Lock: the vertical jitter follows `scintillationdx` (and the effect writes that value into "
     "`scintillationdy`); UnLock: `scintillationdy` is free."},
    {"scintillationdy", "Amplitude of the vertical jitter, in pixels (used while unlocked)."},
    {"scintillationmultiplier",
     "Lowest brightness factor of the twinkle, 0..1: each star's brightness swings between this fraction and "
     "full."},
    {"scintillationdimmer",
     "Largest amount subtracted from each colour channel by the twinkle, in 8-bit units (0..255; 255 can "
     "turn a star fully off)."},
    // The sky (docs/sky.md).
    {"starsource",
     "Where the stars come from: 0 the seeded field (the Stars Creation rollout), 1 a star catalogue "
     "(`catalogfile`), each star where it is seen and as bright as its magnitude (docs/sky.md). While it is 0 "
     "the other Sky parameters change nothing. With 1 an OpenEXR output also gets the stars.* layer of the "
     "star light alone and keeps light above 1.0."},
    {"catalogfile",
     "The catalogue: KStars' stars.dat (Debian package kstars-data; the default) or the Yale Bright Star "
     "Catalogue as xplanet ships it (/usr/share/xplanet/stars/BSC); the format is told from the file. A "
     "relative name is taken from the scene file's folder, and a '#' is part of the name. A missing file is "
     "an error naming the package that brings it, a damaged line one naming the file and line."},
    {"magnitudelimit",
     "The faintest V magnitude drawn; fainter stars are left out (KStars' catalogue reaches about 9, the "
     "Yale catalogue 6.5, the naked eye about 6)."},
    {"magnitudezero",
     "m0 of the brightness contract: a star of magnitude m carries the light 10^(-0.4 (m - m0)), the sum of "
     "its pixels' luminance in frame units (1.0 = full value), however it is drawn. A star of magnitude m0 "
     "carries exactly full value; five magnitudes are a factor of 100."},
    {"starminsize",
     "The smallest radius a catalogue star is drawn with, in pixels: a star fainter than the light such a "
     "disc holds at full value keeps this size and is dimmer (not smaller), as planetarium programs show the "
     "faintest stars."},
    {"stargrowth",
     "How a brighter catalogue star's disc grows, an exponent 0..0.5: its radius is `starminsize` x (L / "
     "Lmin)^stargrowth, Lmin being the light of the smallest disc at full value (at most 100 px). 0 draws "
     "every star at the smallest size (bright cores clip in the 16-bit frame); 0.5 grows the area with the "
     "light. Its light stays what its magnitude gives."},
    {"skyframe",
     "The world frame of the catalogue's stars: 0 celestial (the ICRS axes: +X to RA 0h Dec 0, +Z to the "
     "north celestial pole; proper motion to `observertime`), 1 observer (the local horizon at the place and "
     "time: +X east, +Y north, +Z up, so the default camera looks at the northern horizon)."},
    {"observertime",
     "The UTC date and time of frame 0, ISO 8601 text such as 2021-01-15T22:00:00Z; each frame adds its "
     "render time (frame n: n / fps seconds later). The epoch the proper motions are taken to, and the "
     "observer's moment. Text, not animatable (a float cannot hold a date to the second)."},
    {"ut1minusutc",
     "UT1 - UTC in seconds (IERS Bulletin A gives it; it stays within 0.9 s). The Earth turns 15 arcseconds "
     "a second: 1 s of it turns the observer's sky by 15 arcseconds."},
    {"observerheight", "The observer's height above the WGS84 ellipsoid, in metres."},
    {"observerlatitude", "The observer's geodetic latitude in degrees, north positive."},
    {"observerlongitude", "The observer's longitude in degrees, east positive (west is negative)."},
    {"refractionflag",
     "On: stars are lifted by the atmosphere's refraction (Saemundsson's formula at `refractionpressure` "
     "and `refractiontemperature`; about half a degree at the horizon). Off (the default): the airless "
     "sky, as astronomical catalogues and astropy's AltAz at pressure 0 give it."},
    {"refractionpressure", "Air pressure for the refraction, in hPa (0 turns it off)."},
    {"refractiontemperature", "Air temperature for the refraction, in degrees Celsius."},
    {"belowhorizonflag",
     "On: stars below the observer's horizon are drawn too (as if the Earth were transparent). Off (the "
     "default): they are not."},
    {"fillinflag",
     "On (catalogue stars only): seeded stars fainter than the catalogue's own limit fill the sky down to "
     "`magnitudelimit` (raise it past the catalogue's limit, about 9 for KStars' stars.dat, 6.5 for the Yale "
     "catalogue, to see any). Their count per magnitude continues the catalogue's (the slope of its last two "
     "well-populated magnitudes), they crowd towards the Milky Way as the catalogue's faint stars do, and "
     "take those stars' colours; `seed` chooses them, and they turn with the sky. At most 10 million "
     "(KStars' file reaches that near magnitude 13). See docs/sky.md."},
}};

constexpr std::array<ParamAdvice, 1> kAdvice{{
    {"hyperspaceflag",
     "A visible warp needs three settings together: the flag (hyperspaceflag 1), a depth of about 0.5 "
     "(hyperspacedepth; 0 by default, which leaves the image as it is without the flag) and a low dimming of "
     "about 0.005 (starsdimming, in Motion Blur; at its default 0.3 the long streaks fade to almost nothing). "
     "The defaults stay as they are for the scenes saved with them; scenes/hyperspace.json sets all three."},
}};

}  // namespace

std::span<const ParamAdvice> ParamAdvices() { return kAdvice; }

std::string_view ParamNote(std::string_view internalName) {
  for (const auto& [name, note] : kNotes)
    if (name == internalName) return note;
  return {};
}

}  // namespace velumbra
