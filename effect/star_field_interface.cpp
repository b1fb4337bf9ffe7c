#include "effect/star_field_interface.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "effect/qe_velumbra.h"
#include "effect/param_value.h"
#include "effect/qe_velumbra_params.h"
#include "effect/sky_catalogue.h"
#include "effect/sky_field.h"
#include "effect/sky_fill_in.h"
#include "plugin/strings.h"
#include "render/cell_star_loop.h"
#include "render/cell_visibility.h"
#include "render/motion_blur.h"
#include "render/star_loop.h"
#include "resources/resource.h"
#include "sky/vec3.h"
#include "starfield/star_record.h"
#include "starfield/visibility_index.h"

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Saturating arithmetic: an absurd request gives UINT64_MAX, never a small
// number that wrapped.
std::uint64_t Add(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }
std::uint64_t Mul(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kMax / b ? kMax : a * b; }

bool CatalogueAt(IParamBlock2* pb, TimeValue t) {
  return pb && ParamValueAt(pb, pb_starsource, t, 0) == starsource_catalogue;
}

// Right ascension in [0, 2 pi) and declination of an ICRS direction.
void RaDecOf(const sky::Vec3& v, double& ra, double& dec) {
  ra = std::atan2(v[1], v[0]);
  if (ra < 0) ra += sky::kTwoPi;
  dec = std::atan2(v[2], std::hypot(v[0], v[1]));
}

// The catalogue a listing or estimate at t reads: the effect's own while it
// holds the file's current version, else `local`, read now (the effect's
// cache stays as it is). Null, with `error`, when the file cannot be had.
const SkyCatalogue* CatalogueFor(const Qe_Velumbra& effect, const SkyParams& p, SkyCatalogue& local,
                                 std::string& error) {
  if (effect.skyCatalogue.IsCurrent(p.catalogFile.c_str())) return &effect.skyCatalogue;
  return local.Refresh(p.catalogFile.c_str(), error) ? &local : nullptr;
}

// Writes what the user must fix to the host's log, as the render pass does.
void LogBadInput(const std::string& error) {
  const MCHAR* name = GetString(IDS_CLASS_NAME);
  GetHostLog()->LogEntry(SYSLOG_ERROR | SYSLOG_INPUT, NO_DIALOG, name ? name : "", "%s", error.c_str());
}

}  // namespace

StarFieldParams StarFieldParamsAt(IParamBlock2* pb, TimeValue t) {
  StarFieldParams p;
  if (!pb) return p;
  p.starsCount = ParamValueAt(pb, pb_starscount, t, 0);
  p.seed = ParamValueAt(pb, pb_seed, t, 0);
  p.brightColor = ParamValueAt(pb, pb_brightstarscolor, t, Color());
  p.dimColor = ParamValueAt(pb, pb_dimstarscolor, t, Color());
  p.colorVariancePercent = ParamValueAt(pb, pb_colorvariance, t, 0.0f);
  p.brightDimBalance = ParamValueAt(pb, pb_brightdimbalance, t, 0.0f);
  p.brightSize = ParamValueAt(pb, pb_brightstarssize, t, 0.0f);
  p.dimSize = ParamValueAt(pb, pb_dimstarssize, t, 0.0f);
  p.starsAlphaFlag = ParamValueAt(pb, pb_starsalphaflag, t, 0) != 0;
  p.starsAlpha = ParamValueAt(pb, pb_starsalpha, t, 0);
  return p;
}

BaseInterface* Qe_Velumbra::GetInterface(Interface_ID id) {
  return id == STAR_FIELD_INTERFACE ? &starFieldInterface_ : nullptr;
}

StarRecordsResult QeStarFieldInterface::EnumStarRecords(TimeValue t, StarRecordSink& sink,
                                                        CheckAbortCallback* progress) {
  // No exception crosses into the host: what the generation cannot allocate
  // is reported as such.
  try {
    if (CatalogueAt(effect_.pblock, t)) return EnumSkyStars(t, sink);
    sink.BeginStars(STAR_RECORDS_GENERATED);
    StarField field;
    field.SetCellOrderFrom(std::numeric_limits<std::uint32_t>::max());  // the records go out by index
    if (!field.RefreshStarField(MakeStarFieldKey(StarFieldParamsAt(effect_.pblock, t)), progress))
      return field.outOfMemory() ? STAR_RECORDS_NO_MEMORY : STAR_RECORDS_ABORTED;
    std::vector<StarFieldRecord> run(std::min<std::size_t>(kRecordsPerCall, field.count()));
    for (std::uint32_t first = 0; first < field.count();) {
      const std::size_t n = std::min<std::size_t>(kRecordsPerCall, field.count() - first);
      for (std::size_t k = 0; k < n; ++k) {
        const StarRecord& s = field.stars()[first + k];
        run[k] = StarFieldRecord{s.pos, s.color, s.size};
      }
      if (!sink.TakeStars(first, run.data(), n)) return STAR_RECORDS_STOPPED;
      first += static_cast<std::uint32_t>(n);
    }
    return STAR_RECORDS_DONE;
  } catch (const std::bad_alloc&) {
    return STAR_RECORDS_NO_MEMORY;
  }
}

StarRecordsResult QeStarFieldInterface::EnumSkyStars(TimeValue t, StarRecordSink& sink) {
  const SkyParams p = SkyParamsAt(effect_.pblock, t);
  const int alpha16 = MakeStarFieldKey(StarFieldParamsAt(effect_.pblock, t)).alpha16;
  std::string error;
  SkyCatalogue local;
  const SkyCatalogue* catalogue = CatalogueFor(effect_, p, local, error);
  SkyFillIn fillIn;
  SkyField field;
  if (!catalogue || !PlaceSkyStars(*catalogue, fillIn, field, p, t, alpha16, error)) {
    LogBadInput(error);
    return STAR_RECORDS_BAD_INPUT;
  }
  sink.BeginStars(STAR_RECORDS_SKY);
  const std::vector<SkyCatalogueStar>& stars = catalogue->stars();
  const std::span<const FillInStar> faint = fillIn.StarsTo(p.magnitudeLimit);
  std::vector<StarFieldRecord> run(std::min<std::size_t>(kRecordsPerCall, field.count()));
  std::vector<SkyStarRecord> sky(run.size());
  for (std::uint32_t first = 0; first < field.count();) {
    const std::size_t n = std::min<std::size_t>(kRecordsPerCall, field.count() - first);
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint32_t i = first + static_cast<std::uint32_t>(k);
      const StarRecord& r = field.stars()[i];
      run[k] = StarFieldRecord{r.pos, r.color, r.size};
      SkyStarRecord& d = sky[k];
      d.light = field.light()[i];
      const std::size_t source = field.source()[i];
      if (source < stars.size()) {
        const SkyCatalogueStar& c = stars[source];
        d.magnitude = c.magnitude;
        d.bv = c.bv;
        d.name = catalogue->NameOf(c);
        d.fillIn = false;
        RaDecOf(c.vector.position, d.ra, d.dec);
      } else {
        const FillInStar& f = faint[source - stars.size()];
        d.magnitude = f.magnitude;
        d.bv = stars[f.colourOf].bv;
        d.name = "";
        d.fillIn = true;
        RaDecOf({f.x, f.y, f.z}, d.ra, d.dec);
      }
    }
    if (!sink.TakeSkyStars(first, run.data(), sky.data(), n)) return STAR_RECORDS_STOPPED;
    first += static_cast<std::uint32_t>(n);
  }
  return STAR_RECORDS_DONE;
}

// The figures are the effect's own buffers: the star array and its
// visibility index (kept between frames); while Apply runs, the motion path
// and the generation's peak (the stars' cells and the index build's counts,
// on workers with the parallel reading's scratch, or later the scratch of
// the arrangement by cell); and the pass's buffers, which the effect keeps
// for the next pass: the kept cells' flags and stars' bitmap, the
// visibility test's scratch, the batches of a field by cell and, on
// workers, the star loop's recorded batch.
//
// With catalogue stars (at any of the times) the catalogue is read as the
// render would read it (the effect's own when current), and counted: its
// stars and names (kept), the stars placed down to the largest magnitude
// limit with the fill-in's (kept), and the most its loading holds at once
// (working; with the fill-in's fit and the array it grows from). A
// catalogue that cannot be read counts nothing: the render fails on it.
StarFieldMemory QeStarFieldInterface::RenderMemory(const TimeValue* times, int count, int workers) {
  std::uint64_t stars = 0;
  std::uint64_t subdivisions = 1;
  bool generated = false;
  const TimeValue* sky = nullptr;  // the first time with catalogue stars
  float limit = -HUGE_VALF, fillInLimit = -HUGE_VALF;
  for (int i = 0; effect_.pblock && times && i < count; ++i) {
    const int s = ParamValueAt(effect_.pblock, pb_durationsubdivisions, times[i], 1);
    subdivisions = std::max<std::uint64_t>(subdivisions, static_cast<std::uint64_t>(std::max(s, 1)));
    if (CatalogueAt(effect_.pblock, times[i])) {
      const SkyParams p = SkyParamsAt(effect_.pblock, times[i]);
      if (!sky) sky = &times[i];
      limit = std::max(limit, p.magnitudeLimit);
      if (p.fillIn) fillInLimit = std::max(fillInLimit, p.magnitudeLimit);
      continue;
    }
    const int n = ParamValueAt(effect_.pblock, pb_starscount, times[i], 0);
    stars = std::max<std::uint64_t>(stars, static_cast<std::uint64_t>(std::max(n, 0)));
    generated = true;
  }
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(stars, std::numeric_limits<std::uint32_t>::max()));
  StarFieldMemory m;
  const int opsPerStar = static_cast<int>(std::min<std::uint64_t>(subdivisions, 1u << 30));
  // Calls a pass may record in a batch: a star's at most for each star.
  std::uint64_t drawn = stars;
  m.working = Mul(subdivisions + 1, MotionBlurPath::kSampleBytes + sizeof(CellSample));
  if (generated || !sky) {
    // An empty field is still an array of one record.
    m.records = Add(Mul(std::max<std::uint64_t>(stars, 1), sizeof(StarRecord)), VisibilityIndex::Bytes(n));
    const std::uint64_t cells = Mul(std::max<std::uint64_t>(stars, 1), sizeof(std::uint32_t));
    const std::uint64_t generation =
        std::max(Add(cells, std::max(VisibilityIndex::BuildScratchBytes(workers),
                                     workers != 0 ? StarField::ParallelScratchBytes(n) : 0)),
                 StarField::ArrangeScratchBytes(n));
    // A field by cell gets its batches; their buffer is largest at one call
    // a star.
    std::uint64_t pass = Add((stars + 63) / 64 * sizeof(std::uint64_t),
                             VisibilityIndex::kCells + VisibleCellsScratchBytes());
    if (StarField::ArrangeScratchBytes(n) != 0)
      pass = Add(pass, CellBatches::Bytes(n, ParallelStarLoop::BatchStarsFor(1)));
    m.working = Add(m.working, Add(generation, pass));
  }
  if (sky) {
    try {
      std::string error;
      SkyCatalogue local;
      const SkyCatalogue* catalogue = CatalogueFor(effect_, SkyParamsAt(effect_.pblock, *sky), local, error);
      if (catalogue) {
        SkyFillIn fillIn;
        std::uint64_t fill = 0;
        if (fillInLimit > -HUGE_VALF) {
          fillIn.Fit(*catalogue);
          fill = fillIn.BoundTo(fillInLimit);
        }
        const std::uint64_t placed = Add(catalogue->CountTo(limit), fill);
        drawn = std::max(drawn, placed);
        m.records = Add(m.records, Add(catalogue->KeptBytes(), Add(Mul(placed, SkyField::kBytesPerRecord),
                                                                   Mul(fill, sizeof(FillInStar)))));
        // Loading: the catalogue's, then the fill-in's fit (the magnitudes
        // and the window's latitudes, floats) and, growing its stars, the
        // array they are moved from.
        std::uint64_t load = catalogue->LoadBytes();
        if (fillInLimit > -HUGE_VALF)
          load = Add(load, Add(Mul(catalogue->stars().size(), 2 * sizeof(float)), Mul(fill, sizeof(FillInStar))));
        m.working = Add(m.working, load);
      }
    } catch (const std::bad_alloc&) {
      // Too large to read here: too large to render.
      return StarFieldMemory{UINT64_MAX, UINT64_MAX};
    }
  }
  // The recorded calls of a batch, its stars' calls at most.
  if (workers != 0) m.working = Add(m.working, ParallelStarLoop::BatchBytes(drawn, opsPerStar));
  return m;
}