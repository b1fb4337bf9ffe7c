// The star loop of a render pass: every star's drawing calls, in index
// order, with Progress every 256 stars.
//
// Two ways to run it, with the same result to the bit:
//
// - the straightforward serial loop (the reference): star i is placed and
//   drawn, then, when i is a multiple of 256, Progress(i, count) is asked
//   whether to go on;
// - the parallel loop: stars are taken in batches. The batch's stars are
//   placed on all cores, each recording its drawing calls; Progress is then
//   asked, in order, for the batch's multiples of 256, and the batch is drawn
//   up to and including the first star at which the answer was "stop". The
//   image is cut into bands of rows, each drawn by one worker, which applies
//   the recorded calls in star order clipped to its rows: every pixel sees
//   the same operations in the same order as in the serial loop, so images
//   and G-buffers are identical.
//
// No exception leaves the loop. The parallel loop gets its memory before it
// places a batch and allocates inside a parallel region only where a failure
// is caught there; where it cannot get memory, the serial loop takes over
// from the first star not yet drawn, before that star's batch has asked
// Progress, so the result and the progress calls are the serial loop's.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include "plugin/host.h"
#include "raster/pixel_target.h"


// A sink takes a star's drawing calls: Splat, Capsule and Trail as the
// PixelTarget draws them, and the same three by the star's light
// (LightSplat, LightCapsule, LightTrail with the gain of red, green and
// blue; PixelTarget::DrawLightSplat and its kin).

// Hands drawing calls straight to a PixelTarget.
struct TargetSink {
  PixelTarget& target;
  void Splat(Point2 c, BMM_Color_64 colour, float r) { target.DrawSplat(c, colour, r); }
  void Capsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) { target.DrawCapsule(a, b, colour, r); }
  void Trail(Point2 a, Point2 b, BMM_Color_64 colour, float r) { target.DrawTrail(a, b, colour, r); }
  void LightSplat(Point2 c, BMM_Color_64 colour, float r, float gain) { target.DrawLightSplat(c, colour, r, gain); }
  void LightCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
    target.DrawLightCapsule(a, b, colour, r, gain);
  }
  void LightTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
    target.DrawLightTrail(a, b, colour, r, gain);
  }
};

// One recorded drawing call.
using DrawOp = PixelTarget::Call;

// Takes a pass's drawing calls instead of the image (see StarLoopOptions).
class DrawCallObserver {
 public:
  virtual ~DrawCallObserver() = default;
  virtual void Call(const DrawOp& op) = 0;
};

class ParallelStarLoop;
class CellBatches;

// How one star loop runs; given with the loop by the pass that runs it.
struct StarLoopOptions {
  // 0 runs the serial reference loop on the calling thread (no thread is
  // started); n >= 1 the parallel loop on n threads, the calling one among
  // them.
  int threads = 0;
  // Set: the loop draws nothing and hands every drawing call it would make,
  // in order, to the observer (serially; progress is still reported). For
  // benchmarks and tools that need a pass's geometry. Null: draws.
  DrawCallObserver* observer = nullptr;
  // Optional: the parallel loop's memory, kept by the caller from one pass
  // to the next. Null: the loop gets its own for this pass.
  ParallelStarLoop* memory = nullptr;
  // Optional: likewise the batches of the loop over a field laid out by
  // cell (render/cell_star_loop.h).
  CellBatches* cellMemory = nullptr;
};

// How a star loop ran.
enum class StarLoopRun {
  kAsAsked,
  // The parallel loop could not get its memory; the serial loop drew (the
  // same result).
  kSerialAfterFailure,
  // The loop over a field laid out by cell could not get its batches'
  // memory: nothing was drawn.
  kNoMemory,
};

// A sink that hands drawing calls to an observer.
struct ObserverSink {
  DrawCallObserver& observer;
  std::uint32_t star = 0;
  void Splat(Point2 c, BMM_Color_64 colour, float r) { observer.Call({c, c, colour, r, star, DrawOp::kSplat}); }
  void Capsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
    observer.Call({a, b, colour, r, star, DrawOp::kCapsule});
  }
  void Trail(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
    observer.Call({a, b, colour, r, star, DrawOp::kTrail});
  }
  void LightSplat(Point2 c, BMM_Color_64 colour, float r, float gain) {
    observer.Call({c, c, colour, r, star, DrawOp::kLightSplat, gain});
  }
  void LightCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
    observer.Call({a, b, colour, r, star, DrawOp::kLightCapsule, gain});
  }
  void LightTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
    observer.Call({a, b, colour, r, star, DrawOp::kLightTrail, gain});
  }
};

class OpRecorder {
 public:
  void Splat(Point2 c, BMM_Color_64 colour, float r) { Record(DrawOp::kSplat, c, c, colour, r); }
  void Capsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) { Record(DrawOp::kCapsule, a, b, colour, r); }
  void Trail(Point2 a, Point2 b, BMM_Color_64 colour, float r) { Record(DrawOp::kTrail, a, b, colour, r); }
  void LightSplat(Point2 c, BMM_Color_64 colour, float r, float gain) {
    Record(DrawOp::kLightSplat, c, c, colour, r, gain);
  }
  void LightCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
    Record(DrawOp::kLightCapsule, a, b, colour, r, gain);
  }
  void LightTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
    Record(DrawOp::kLightTrail, a, b, colour, r, gain);
  }

  std::uint32_t star = 0;  // the star whose calls are being recorded

 private:
  friend class ParallelStarLoop;
  // Rows per band: small enough that both cores find work in any image,
  // large enough that most discs lie in one band.
  static constexpr int kBandRows = 32;

  // Called on a worker thread: a failed allocation is caught here and marks
  // the recorder failed (the call is not recorded). Inline, so that a
  // star's emitting code records without a call.
  void Record(DrawOp::Kind kind, Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain = 1.0f);
  void Reset();

  int maxX_ = -1, maxY_ = -1;
  bool failed_ = false;
  // Per band of rows: the calls that can touch it, in order, each copied
  // into every band it reaches (most reach one), so that a band is drawn
  // from memory read in order.
  std::vector<std::vector<DrawOp>> bands_;
};

class ParallelStarLoop {
 public:
  // An empty loop, to be prepared.
  ParallelStarLoop() = default;
  // Gets the loop's memory: the recorders, their band lists and room for a
  // typical batch of calls of a pass over `stars` stars. Throws
  // std::bad_alloc when it cannot.
  ParallelStarLoop(const PixelTarget& target, int threads, int opsPerStar, std::uint32_t stars);

  // Makes the loop ready for a pass on `target`, keeping the memory an
  // earlier pass left (so a pass does not fault in fresh pages for its
  // recordings). Throws std::bad_alloc when it cannot get what is missing;
  // the loop may then be prepared again.
  void Prepare(const PixelTarget& target, int threads, int opsPerStar, std::uint32_t stars);

  int threads() const { return threads_; }
  int chunks() const { return static_cast<int>(recorders_.size()); }
  std::uint32_t batchStars() const { return batch_; }
  // The stars of a batch of stars that make at most `opsPerStar` calls
  // each: whole multiples of 256, so each batch holds its own progress
  // points, and at least one multiple.
  static std::uint32_t BatchStarsFor(int opsPerStar);
  // The most memory a batch's recordings take, in bytes, whatever the image,
  // for a pass over `stars` stars that make at most `opsPerStar` calls
  // each: its calls, with a third again for the calls copied into a second
  // band and the bands' spare capacity (48 MiB at most).
  static std::uint64_t BatchBytes(std::uint64_t stars, int opsPerStar);

  // Starts a batch: every recorder empty (keeping its memory).
  void BeginBatch();
  OpRecorder& Recorder(int chunk) { return recorders_[static_cast<size_t>(chunk)]; }
  // True when a recorder of this batch could not record a call: the batch
  // cannot be drawn from the recordings.
  bool BatchFailed() const;
  // Draws the batch's recorded calls of the stars below `limit`.
  void DrawBatch(std::uint32_t limit);

 private:
  PixelTarget target_{nullptr, 0};
  int threads_ = 1;
  int bands_ = 1;
  std::uint32_t batch_ = 256;
  std::vector<OpRecorder> recorders_;
};

// The stars a loop may draw: every star 0..count-1 (`drawn` null), or those
// whose bit is set in `drawn` (bit i % 64 of word i / 64; bits at and beyond
// count are 0). A star left out must be one whose emit would make no call:
// the loop then runs as if it had been visited, Progress included.
struct StarSet {
  std::uint32_t count = 0;
  const std::uint64_t* drawn = nullptr;
  // Optional: star i's data, `recordBytes` bytes at records + i x
  // recordBytes, which the loop asks the processor to fetch a few stars
  // ahead of emitting them (stars of a sparse set lie far apart in memory).
  const void* records = nullptr;
  std::size_t recordBytes = 0;
};

// Runs the star loop over `stars`: emit(i, sink) makes star i's drawing
// calls on `sink` (a TargetSink-like object with Splat, Capsule and Trail)
// and must not throw. `opsPerStar` bounds the calls a star makes (sizes the
// batches). Never throws.
template <typename Emit>
StarLoopRun RunStarLoop(StarSet stars, PixelTarget& target, CheckAbortCallback* cb, int opsPerStar,
                        const StarLoopOptions& options, Emit&& emit);

// --- implementation -------------------------------------------------------

inline void OpRecorder::Record(DrawOp::Kind kind, Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
  // Calls that cannot touch a pixel are dropped here, as the drawing
  // operations would drop them: no positive radius, or (for the bands) a box
  // wholly outside the image. The box is the ends' box widened by r + 2,
  // more than the drawing's own margin of trunc(r + 1) pixels; NaN or
  // infinite ends go to every band and are left to the drawing.
  if (!(r > 0.0f) || failed_) return;
  const double margin = static_cast<double>(r) + 2.0;
  const double xlo = std::min(a.x, b.x) - margin, xhi = std::max(a.x, b.x) + margin;
  const double ylo = std::min(a.y, b.y) - margin, yhi = std::max(a.y, b.y) + margin;
  int first = 0, last = static_cast<int>(bands_.size()) - 1;
  if (!std::isnan(xlo) && !std::isnan(xhi) && !std::isnan(ylo) && !std::isnan(yhi)) {
    if (xhi < 0.0 || xlo > maxX_ || yhi < 0.0 || ylo > maxY_) return;
    // Both rows lie in 0..maxY here: the quotients are the bands.
    first = static_cast<int>(std::max(0.0, ylo)) / kBandRows;
    last = static_cast<int>(std::min(static_cast<double>(maxY_), yhi)) / kBandRows;
  }
  // A capsule of no length is the disc at its end (ends that reach here
  // are finite): drawn as one, without the capsule's length test.
  if (a.x == b.x && a.y == b.y) {
    if (kind == DrawOp::kCapsule) kind = DrawOp::kSplat;
    if (kind == DrawOp::kLightCapsule) kind = DrawOp::kLightSplat;
  }
  const DrawOp op{a, b, colour, r, star, kind, gain};
  try {
    for (int band = first; band <= last; ++band) bands_[static_cast<size_t>(band)].push_back(op);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
}

// Calls f(i) for every star of `stars` in lo..hi-1, ascending.
template <typename F>
void ForEachStar(const StarSet& stars, std::uint32_t lo, std::uint32_t hi, F&& f) {
  if (!stars.drawn) {
    for (std::uint32_t i = lo; i < hi; ++i) f(i);
    return;
  }
  if (lo >= hi) return;
  // The stars of the word two ahead are fetched while this word's are
  // emitted (a hint only: it changes no result).
  const auto* records = static_cast<const char*>(stars.records);
  const std::uint32_t words = (stars.count + 63) >> 6;
  for (std::uint32_t w = lo >> 6, last = (hi - 1) >> 6; w <= last; ++w) {
    if (records && w + 2 < words) {
      for (std::uint64_t ahead = stars.drawn[w + 2]; ahead; ahead &= ahead - 1) {
        const char* r = records + (((w + 2) << 6) + static_cast<std::uint32_t>(__builtin_ctzll(ahead))) * stars.recordBytes;
        __builtin_prefetch(r);
        __builtin_prefetch(r + stars.recordBytes - 1);
      }
    }
    std::uint64_t bits = stars.drawn[w];
    const std::uint32_t base = w << 6;
    if (base < lo) bits &= ~std::uint64_t{0} << (lo - base);
    if (hi - base < 64) bits &= (std::uint64_t{1} << (hi - base)) - 1;
    while (bits) {
      f(base + static_cast<std::uint32_t>(__builtin_ctzll(bits)));
      bits &= bits - 1;
    }
  }
}

template <typename Emit>
StarLoopRun RunStarLoop(StarSet stars, PixelTarget& target, CheckAbortCallback* cb, int opsPerStar,
                        const StarLoopOptions& options, Emit&& emit) {
  const std::uint32_t count = stars.count;
  const int total = static_cast<int>(count);  // counts come from an int parameter
  // The straightforward loop from star `first`, drawing (the reference) or
  // handing the calls to an observer: star i, then Progress when i is a
  // multiple of 256. Stars left out of the set are skipped, their progress
  // points are not.
  const auto serial = [&](auto& sink, std::uint32_t first) {
    const auto one = [&](std::uint32_t i) {
      if constexpr (requires { sink.star; }) sink.star = i;
      emit(i, sink);
    };
    for (std::uint32_t lo = first; lo < count;) {
      // Up to and including the next progress point.
      const std::uint32_t point = (lo + 0xFF) & ~std::uint32_t{0xFF};
      if (point >= count) {
        ForEachStar(stars, lo, count, one);
        return;
      }
      ForEachStar(stars, lo, point + 1, one);
      if (cb && cb->Progress(static_cast<int>(point), total)) return;
      lo = point + 1;
    }
  };
  if (options.observer) {
    ObserverSink sink{*options.observer};
    serial(sink, 0);
    return StarLoopRun::kAsAsked;
  }
  TargetSink direct{target};
  if (options.threads <= 0) {
    serial(direct, 0);
    return StarLoopRun::kAsAsked;
  }

  std::optional<ParallelStarLoop> own;
  ParallelStarLoop* ready = options.memory;
  try {
    if (ready)
      ready->Prepare(target, options.threads, opsPerStar, count);
    else
      ready = &own.emplace(target, options.threads, opsPerStar, count);
  } catch (const std::bad_alloc&) {
    serial(direct, 0);
    return StarLoopRun::kSerialAfterFailure;
  }
  ParallelStarLoop& loop = *ready;
  const std::uint32_t batch = loop.batchStars();
  const int chunks = loop.chunks();
  for (std::uint32_t start = 0; start < count;) {
    // A batch holds about `batch` stars of the set: with a set, whole words
    // of its bitmap until that many are counted.
    std::uint32_t end;
    if (!stars.drawn) {
      end = count - start < batch ? count : start + batch;
    } else {
      std::uint64_t held = 0;
      std::uint32_t w = start >> 6;
      const std::uint32_t words = (count + 63) >> 6;
      while (w < words && held < batch) held += static_cast<std::uint64_t>(__builtin_popcountll(stars.drawn[w++]));
      end = std::min<std::uint64_t>(count, std::uint64_t{w} << 6);
    }
    loop.BeginBatch();
    const std::uint32_t span = end - start;
#pragma omp parallel for num_threads(loop.threads()) schedule(dynamic, 1)
    for (int c = 0; c < chunks; ++c) {
      const std::uint32_t lo = start + static_cast<std::uint32_t>(static_cast<std::uint64_t>(span) * c / chunks);
      const std::uint32_t hi =
          start + static_cast<std::uint32_t>(static_cast<std::uint64_t>(span) * (c + 1) / chunks);
      OpRecorder& rec = loop.Recorder(c);
      ForEachStar(stars, lo, hi, [&](std::uint32_t i) {
        rec.star = i;
        emit(i, rec);
      });
    }
    if (loop.BatchFailed()) {
      // Nothing of this batch is drawn and none of its progress asked yet.
      serial(direct, start);
      return StarLoopRun::kSerialAfterFailure;
    }
    // Progress for the batch's multiples of 256, in order, on this thread;
    // the batch is drawn up to the star whose report asked to stop.
    std::uint32_t limit = end;
    bool stop = false;
    if (cb) {
      for (std::uint32_t i = (start + 0xFF) & ~std::uint32_t{0xFF}; i < end; i += 256) {
        if (cb->Progress(static_cast<int>(i), total)) {
          limit = i + 1;
          stop = true;
          break;
        }
      }
    }
    loop.DrawBatch(limit);
    if (stop) return StarLoopRun::kAsAsked;
    start = end;
  }
  return StarLoopRun::kAsAsked;
}
