// The star loop over a field laid out by cell (StarField::cellOrdered): the
// kept cells' records are read as runs of memory, and every star is still
// drawn in index order, with Progress every 256 stars, to the bit as the
// serial loop over the same field by index draws it (render/star_loop.h).
//
// A pass marks its kept stars in a bitmap by index (VisibilityIndex::
// MarkStars). A batch is a run of whole 256-star steps holding at most a
// batch's kept stars; counting the marks gives each kept star its rank in
// the batch, the number of kept stars of the batch before it. The kept
// cells are split into groups (one a thread, about equal in stars), and
// each group walks its cells' runs from where the last batch left them,
// copying each star (index and record) to its rank in the batch's buffer:
// the buffer then holds the batch's stars in index order, no two threads
// writing the same place. The batch is emitted from it: on the serial loop
// straight to the image, on the parallel loop into the recorders of
// ParallelStarLoop and drawn by bands, exactly as a batch of the loop by
// index. A pass that keeps every cell needs no marks: a star's rank is its
// index less the batch's first.
//
// Memory: the batches' buffer (a batch's stars, 32 bytes each), the ranks
// (4 bytes a word of the bitmap) and a cursor a kept cell, all had before
// the first star is drawn; without them nothing is drawn (kNoMemory).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include "render/star_loop.h"
#include "starfield/star_record.h"

// A field laid out by cell, as its VisibilityIndex groups it: records[j]
// is star order[j]; in block b (stars b x VisibilityIndex::kBlockStars on)
// cell c holds j = start[b][c] .. start[b][c + 1] - 1, ascending by star,
// start[b] being the kCells + 1 entries from `start` + b x (kCells + 1).
// `visible` flags the cells whose stars may draw (kCells entries) and
// `kept` marks their stars (bit i % 64 of word i / 64), both or neither:
// null, every star. A star of a cell left out must be one whose emit makes
// no call.
struct CellStarSet {
  std::uint32_t count = 0;  // stars 0..count-1
  const StarRecord* records = nullptr;
  const std::uint32_t* order = nullptr;
  const std::uint32_t* start = nullptr;
  const std::uint8_t* visible = nullptr;
  const std::uint64_t* kept = nullptr;
};

// One star of a batch, as the groups copy it.
struct alignas(32) KeptStar {
  std::uint32_t index;
  StarRecord record;
};

// The batches of a pass over a CellStarSet and their memory, which an
// effect keeps from one pass to the next (see StarLoopOptions::cellMemory).
class CellBatches {
 public:
  // Stars lo..hi-1 (lo a multiple of 256), `size` of them kept.
  struct Batch {
    std::uint32_t lo = 0, hi = 0;
    std::uint32_t size = 0;
  };

  // Plans a pass over `set`: its kept cells in `groups` groups (at least
  // one), batches of at most `batchStars` (at least 256) kept stars.
  // Throws std::bad_alloc when the memory cannot be had.
  void Plan(const CellStarSet& set, int groups, std::uint32_t batchStars);
  // The most memory the batches of a pass over `count` stars take: the
  // buffer (a batch, or every star when fewer), the ranks, the kept cells
  // and their cursors.
  static std::uint64_t Bytes(std::uint32_t count, std::uint32_t batchStars);
  // The next batch and its stars' ranks; false after the last. The batches
  // cover every star of the set, so that every progress point lies in one.
  bool Next(Batch& batch);
  // Copies the batch's kept stars into stars()[0..size-1], in index order:
  // the groups on as many threads (one: the calling thread), each from where
  // its cells' runs were left.
  void Gather(const Batch& batch);
  const KeptStar* stars() const { return stars_.data(); }
  // The most stars a batch of the pass holds.
  std::uint32_t bufferStars() const { return static_cast<std::uint32_t>(stars_.size()); }

 private:
  CellStarSet set_;
  int groups_ = 1;
  std::uint32_t batchStars_ = 256;
  std::uint32_t next_ = 0;                 // the first star of the next batch
  std::vector<std::uint32_t> kept_;        // the kept cells that hold stars
  std::vector<std::uint32_t> groupBegin_;  // group g: kept_[groupBegin_[g] .. groupBegin_[g + 1] - 1]
  // Per kept cell: its first star not yet copied in block cursorBlock_
  // (none yet: every cell from its block's beginning).
  std::vector<std::uint32_t> cursor_;
  std::uint32_t cursorBlock_ = 0;
  std::vector<std::uint32_t> rank_;        // per word of the batch: the batch's kept stars before it
  std::vector<KeptStar> stars_;            // the batch's buffer
};

// Runs the star loop over `set` as RunStarLoop runs it over a set by index:
// emit(i, record, sink) makes star i's calls on `sink` and must not throw;
// `opsPerStar` bounds the calls a star makes. Never throws. kNoMemory, with
// nothing drawn, when the batches' memory cannot be had.
template <typename Emit>
StarLoopRun RunCellStarLoop(const CellStarSet& set, PixelTarget& target, CheckAbortCallback* cb, int opsPerStar,
                            const StarLoopOptions& options, Emit&& emit);

// --- implementation -------------------------------------------------------

template <typename Emit>
StarLoopRun RunCellStarLoop(const CellStarSet& set, PixelTarget& target, CheckAbortCallback* cb, int opsPerStar,
                            const StarLoopOptions& options, Emit&& emit) {
  const std::uint32_t count = set.count;
  const int total = static_cast<int>(count);  // counts come from an int parameter
  const bool parallel = options.threads > 0 && !options.observer;
  std::optional<CellBatches> ownBatches;
  CellBatches* batches = options.cellMemory;
  try {
    if (!batches) batches = &ownBatches.emplace();
    batches->Plan(set, std::max(1, options.threads), ParallelStarLoop::BatchStarsFor(opsPerStar));
  } catch (const std::bad_alloc&) {
    return StarLoopRun::kNoMemory;
  }
  std::optional<ParallelStarLoop> ownLoop;
  ParallelStarLoop* loop = nullptr;
  StarLoopRun run = StarLoopRun::kAsAsked;
  if (parallel) {
    try {
      loop = options.memory;
      if (loop)
        loop->Prepare(target, options.threads, opsPerStar, batches->bufferStars());
      else
        loop = &ownLoop.emplace(target, options.threads, opsPerStar, batches->bufferStars());
    } catch (const std::bad_alloc&) {
      loop = nullptr;
      run = StarLoopRun::kSerialAfterFailure;
    }
  }

  // The serial loop's progress: point p is asked once every star up to p
  // has been emitted, before any later one.
  std::uint32_t point = 0;
  const auto askUpTo = [&](std::uint32_t below) {  // true: stop
    for (; point < below && point < count; point += 256)
      if (cb && cb->Progress(static_cast<int>(point), total)) return true;
    return false;
  };
  // A gathered batch emitted in order on the calling thread; true: stop.
  const auto serialBatch = [&](const CellBatches::Batch& b, auto& sink) {
    const KeptStar* stars = batches->stars();
    for (std::uint32_t k = 0; k < b.size; ++k) {
      const std::uint32_t i = stars[k].index;
      if (askUpTo(i)) return true;
      if constexpr (requires { sink.star; }) sink.star = i;
      emit(i, stars[k].record, sink);
    }
    return askUpTo(b.hi);
  };

  TargetSink direct{target};
  std::optional<ObserverSink> observed;
  if (options.observer) observed.emplace(ObserverSink{*options.observer});
  CellBatches::Batch b;
  while (batches->Next(b)) {
    batches->Gather(b);
    if (!loop) {
      if (observed ? serialBatch(b, *observed) : serialBatch(b, direct)) return run;
      continue;
    }
    // The batch's stars in chunks of consecutive ranks, each recorded in
    // order.
    loop->BeginBatch();
    const int chunks = loop->chunks();
    const KeptStar* stars = batches->stars();
#pragma omp parallel for num_threads(loop->threads()) schedule(dynamic, 1)
    for (int c = 0; c < chunks; ++c) {
      OpRecorder& rec = loop->Recorder(c);
      const std::uint32_t first = static_cast<std::uint32_t>(static_cast<std::uint64_t>(b.size) * c / chunks);
      const std::uint32_t end = static_cast<std::uint32_t>(static_cast<std::uint64_t>(b.size) * (c + 1) / chunks);
      for (std::uint32_t k = first; k < end; ++k) {
        rec.star = stars[k].index;
        emit(stars[k].index, stars[k].record, rec);
      }
    }
    if (loop->BatchFailed()) {
      // Nothing of this batch is drawn and none of its progress asked yet:
      // the serial loop from here on.
      loop = nullptr;
      run = StarLoopRun::kSerialAfterFailure;
      if (serialBatch(b, direct)) return run;
      continue;
    }
    // Progress for the batch's multiples of 256, in order, on this thread;
    // the batch is drawn up to the star whose report asked to stop.
    std::uint32_t limit = b.hi;
    bool stop = false;
    for (; point < b.hi && point < count; point += 256) {
      if (cb && cb->Progress(static_cast<int>(point), total)) {
        limit = point + 1;
        stop = true;
        break;
      }
    }
    loop->DrawBatch(limit);
    if (stop) return run;
  }
  return run;
}
