#include "render/star_loop.h"

#include <algorithm>
#include <cmath>

namespace {

// Recorded calls per batch, about 10 MB: bounds the memory of a pass
// whatever its number of stars and subdivisions.
constexpr std::uint64_t kOpsPerBatch = 1u << 18;

// Calls ahead of the one drawn whose pixels are fetched meanwhile.
constexpr size_t kPrefetchAhead = 6;

// Asks the processor to fetch the pixel rows (and the ID channels the pass
// reads or writes) of a disc call: stars lie at random, so nearly every row
// of a disc is a cache miss otherwise. A hint only: it changes no result.
// Streaks walk their columns in order and are left alone. Inlined always: a
// function that only prefetches has no effect GCC must keep, and it drops
// the calls to it.
[[gnu::always_inline]] inline void PrefetchPixels(const PixelTarget& t, const DrawOp& op) {
  if (op.kind == DrawOp::kTrail || (op.kind == DrawOp::kCapsule && !(op.a.x == op.b.x && op.a.y == op.b.y))) return;
  if (!(op.r > 0.0f && op.r < 8.0f) || !std::isfinite(op.a.x) || !std::isfinite(op.a.y)) return;
  const int x0 = std::clamp(static_cast<int>(op.a.x - op.r), 0, std::max(0, t.maxX));
  const int x1 = std::clamp(static_cast<int>(op.a.x + op.r), 0, std::max(0, t.maxX));
  const int y0 = std::max(t.clipY0, static_cast<int>(op.a.y - op.r));
  const int y1 = std::min(t.clipY1, static_cast<int>(op.a.y + op.r) + 1);
  const bool ids = t.matchMaterialId || t.matchObjectId || t.writeMaterialId || t.writeObjectId;
  for (int y = y0; y <= y1; ++y) {
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(t.width);
    __builtin_prefetch(t.pixels + row + static_cast<size_t>(x0), 1);
    __builtin_prefetch(t.pixels + row + static_cast<size_t>(x1), 1);
    if (ids) {
      if (t.materialIdChannel) __builtin_prefetch(t.materialIdChannel + row + static_cast<size_t>(x0), 1);
      if (t.objectIdChannel) __builtin_prefetch(t.objectIdChannel + row + static_cast<size_t>(x0), 1);
    }
  }
}

}  // namespace


std::uint32_t ParallelStarLoop::BatchStarsFor(int opsPerStar) {
  const std::uint64_t perStar = static_cast<std::uint64_t>(std::max(1, opsPerStar));
  const std::uint64_t stars = std::max<std::uint64_t>(256, kOpsPerBatch / perStar);
  return static_cast<std::uint32_t>(stars & ~std::uint64_t{0xFF});
}

std::uint64_t ParallelStarLoop::BatchBytes() { return kOpsPerBatch * (sizeof(DrawOp) + sizeof(DrawOp) / 3); }

void OpRecorder::Reset() {
  failed_ = false;
  for (auto& b : bands_) b.clear();
}

ParallelStarLoop::ParallelStarLoop(const PixelTarget& target, int threads, int opsPerStar) {
  Prepare(target, threads, opsPerStar);
}

void ParallelStarLoop::Prepare(const PixelTarget& target, int threads, int opsPerStar) {
  target_ = target;
  threads_ = std::max(1, threads);
  const int rows = target.maxY + 1;
  bands_ = std::max(1, (rows + OpRecorder::kBandRows - 1) / OpRecorder::kBandRows);
  batch_ = BatchStarsFor(opsPerStar);
  // A few chunks per thread keep the cores busy when stars differ in cost.
  recorders_.resize(static_cast<size_t>(threads_ * 4));
  // Room for a band's share of a chunk's share of a batch at one call a
  // star, so that a typical batch records without allocating; a recorder
  // kept from an earlier pass keeps what it grew to.
  const size_t typical = batch_ / recorders_.size() / static_cast<size_t>(bands_) + 1;
  for (OpRecorder& r : recorders_) {
    r.maxX_ = target.maxX;
    r.maxY_ = target.maxY;
    r.failed_ = false;
    r.bands_.resize(static_cast<size_t>(bands_));
    for (auto& b : r.bands_) {
      b.clear();
      if (b.capacity() < typical) b.reserve(typical);
    }
  }
}

void ParallelStarLoop::BeginBatch() {
  for (OpRecorder& r : recorders_) r.Reset();
}

bool ParallelStarLoop::BatchFailed() const {
  for (const OpRecorder& r : recorders_)
    if (r.failed_) return true;
  return false;
}

void ParallelStarLoop::DrawBatch(std::uint32_t limit) {
  const int chunks = static_cast<int>(recorders_.size());
#pragma omp parallel for num_threads(threads_) schedule(dynamic, 1)
  for (int band = 0; band < bands_; ++band) {
    PixelTarget t = target_;
    t.clipY0 = std::max(target_.clipY0, band * OpRecorder::kBandRows);
    t.clipY1 = std::min(target_.clipY1, band * OpRecorder::kBandRows + OpRecorder::kBandRows - 1);
    // Chunks hold consecutive stars in order, and each chunk's calls are in
    // star order: the first call at or past the limit ends the band.
    [&] {
      for (int c = 0; c < chunks; ++c) {
        const std::vector<DrawOp>& ops = recorders_[static_cast<size_t>(c)].bands_[static_cast<size_t>(band)];
        const size_t size = ops.size();
        for (size_t j = 0; j < size; ++j) {
          const DrawOp& op = ops[j];
          if (op.star >= limit) return;
          if (j + kPrefetchAhead < size) PrefetchPixels(t, ops[j + kPrefetchAhead]);
          switch (op.kind) {
            case DrawOp::kSplat:
              t.DrawSplat(op.a, op.colour, op.r);
              break;
            case DrawOp::kCapsule:
              t.DrawCapsule(op.a, op.b, op.colour, op.r);
              break;
            case DrawOp::kTrail:
              t.DrawTrail(op.a, op.b, op.colour, op.r);
              break;
          }
        }
      }
    }();
  }
}
