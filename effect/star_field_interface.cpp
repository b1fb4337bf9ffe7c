#include "effect/star_field_interface.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "render/cell_star_loop.h"
#include "render/cell_visibility.h"
#include "render/motion_blur.h"
#include "render/star_loop.h"
#include "starfield/star_record.h"
#include "starfield/visibility_index.h"

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Saturating arithmetic: an absurd request gives UINT64_MAX, never a small
// number that wrapped.
std::uint64_t Add(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }
std::uint64_t Mul(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kMax / b ? kMax : a * b; }

template <typename T>
T ValueAt(IParamBlock2* pb, ParamID id, TimeValue t, T fallback) {
  T v = fallback;
  Interval valid = FOREVER;
  pb->GetValue(id, t, v, valid);
  return v;
}

}  // namespace

StarFieldParams StarFieldParamsAt(IParamBlock2* pb, TimeValue t) {
  StarFieldParams p;
  if (!pb) return p;
  p.starsCount = ValueAt(pb, pb_starscount, t, 0);
  p.seed = ValueAt(pb, pb_seed, t, 0);
  p.brightColor = ValueAt(pb, pb_brightstarscolor, t, Color());
  p.dimColor = ValueAt(pb, pb_dimstarscolor, t, Color());
  p.colorVariancePercent = ValueAt(pb, pb_colorvariance, t, 0.0f);
  p.brightDimBalance = ValueAt(pb, pb_brightdimbalance, t, 0.0f);
  p.brightSize = ValueAt(pb, pb_brightstarssize, t, 0.0f);
  p.dimSize = ValueAt(pb, pb_dimstarssize, t, 0.0f);
  p.starsAlphaFlag = ValueAt(pb, pb_starsalphaflag, t, 0) != 0;
  p.starsAlpha = ValueAt(pb, pb_starsalpha, t, 0);
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

// The figures are the effect's own buffers: the star array and its
// visibility index (kept between frames); while Apply runs, the motion path
// and the generation's peak (the stars' cells and the index build's counts,
// on workers with the parallel reading's scratch, or later the scratch of
// the arrangement by cell); and the pass's buffers, which the effect keeps
// for the next pass: the kept cells' flags and stars' bitmap, the
// visibility test's scratch, the batches of a field by cell and, on
// workers, the star loop's recorded batch.
StarFieldMemory QeStarFieldInterface::RenderMemory(const TimeValue* times, int count, int workers) {
  std::uint64_t stars = 0;
  std::uint64_t subdivisions = 1;
  for (int i = 0; effect_.pblock && times && i < count; ++i) {
    const int n = ValueAt(effect_.pblock, pb_starscount, times[i], 0);
    const int s = ValueAt(effect_.pblock, pb_durationsubdivisions, times[i], 1);
    stars = std::max<std::uint64_t>(stars, static_cast<std::uint64_t>(std::max(n, 0)));
    subdivisions = std::max<std::uint64_t>(subdivisions, static_cast<std::uint64_t>(std::max(s, 1)));
  }
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(stars, std::numeric_limits<std::uint32_t>::max()));
  StarFieldMemory m;
  // An empty field is still an array of one record.
  m.records = Add(Mul(std::max<std::uint64_t>(stars, 1), sizeof(StarRecord)), VisibilityIndex::Bytes(n));
  const std::uint64_t cells = Mul(std::max<std::uint64_t>(stars, 1), sizeof(std::uint32_t));
  const std::uint64_t generation =
      std::max(Add(cells, std::max(VisibilityIndex::BuildScratchBytes(workers),
                                   workers != 0 ? StarField::ParallelScratchBytes(n) : 0)),
               StarField::ArrangeScratchBytes(n));
  // A field by cell gets its batches; their buffer is largest at one call a
  // star.
  std::uint64_t pass = Add((stars + 63) / 64 * sizeof(std::uint64_t),
                           VisibilityIndex::kCells + VisibleCellsScratchBytes());
  if (StarField::ArrangeScratchBytes(n) != 0) pass = Add(pass, CellBatches::Bytes(n, ParallelStarLoop::BatchStarsFor(1)));
  // The recorded calls of a batch, its stars' calls at most.
  if (workers != 0)
    pass = Add(pass, ParallelStarLoop::BatchBytes(stars, static_cast<int>(std::min<std::uint64_t>(subdivisions, 1u << 30))));
  m.working = Add(Add(Mul(subdivisions + 1, MotionBlurPath::kSampleBytes + sizeof(CellSample)), generation), pass);
  return m;
}