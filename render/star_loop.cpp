#include "render/star_loop.h"

#include <algorithm>
#include <cmath>

namespace {

// Recorded calls per batch, about 42 MB (40 bytes a call): bounds the memory of a pass
// whatever its number of stars and subdivisions, and leaves few batches to
// a pass, each of which fetches the bands' pixels from memory anew (a pass
// of 2.8 million calls took a fifth less time in batches four times
// larger than a quarter of a million).
constexpr std::uint64_t kOpsPerBatch = 1u << 20;

}  // namespace


std::uint32_t ParallelStarLoop::BatchStarsFor(int opsPerStar) {
  const std::uint64_t perStar = static_cast<std::uint64_t>(std::max(1, opsPerStar));
  const std::uint64_t stars = std::max<std::uint64_t>(256, kOpsPerBatch / perStar);
  return static_cast<std::uint32_t>(stars & ~std::uint64_t{0xFF});
}

std::uint64_t ParallelStarLoop::BatchBytes(std::uint64_t stars, int opsPerStar) {
  const std::uint64_t calls = std::min(kOpsPerBatch, stars * static_cast<std::uint64_t>(std::max(1, opsPerStar)));
  return std::max<std::uint64_t>(calls, 1) * (sizeof(DrawOp) + sizeof(DrawOp) / 3);
}

void OpRecorder::Reset() {
  failed_ = false;
  for (auto& b : bands_) b.clear();
}

ParallelStarLoop::ParallelStarLoop(const PixelTarget& target, int threads, int opsPerStar, std::uint32_t stars) {
  Prepare(target, threads, opsPerStar, stars);
}

void ParallelStarLoop::Prepare(const PixelTarget& target, int threads, int opsPerStar, std::uint32_t stars) {
  target_ = target;
  threads_ = std::max(1, threads);
  const int rows = target.maxY + 1;
  bands_ = std::max(1, (rows + OpRecorder::kBandRows - 1) / OpRecorder::kBandRows);
  batch_ = BatchStarsFor(opsPerStar);
  // A few chunks per thread keep the cores busy when stars differ in cost.
  recorders_.resize(static_cast<size_t>(threads_ * 4));
  // Room for a band's share of a chunk's share of a batch (of the pass's
  // stars, when fewer) at one call a star, so that a typical batch records
  // without allocating; a recorder kept from an earlier pass keeps what it
  // grew to.
  const size_t typical = std::min(batch_, stars) / recorders_.size() / static_cast<size_t>(bands_) + 1;
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
    // A disc touches about four of the band's rows, a row of the band
    // holds width / 8 lines of the cache (8-byte pixels): with fewer than
    // four calls a column, most lines a call touches are touched by no call
    // before it in the batch, and fetching them a few calls ahead pays;
    // with more they are mostly in the cache already (a 100,000,000-star
    // pass drew 8 % faster without the fetches, a 4K frame of 10,000,000
    // stars about as much slower).
    std::size_t calls = 0;
    for (int c = 0; c < chunks; ++c) calls += recorders_[static_cast<size_t>(c)].bands_[static_cast<size_t>(band)].size();
    const bool fetchAhead = calls < 4 * static_cast<std::size_t>(std::max(1, target_.maxX + 1));
    // Chunks hold consecutive stars in order, and each chunk's calls are in
    // star order: the first call at or past the limit ends the band.
    for (int c = 0; c < chunks; ++c) {
      const std::vector<DrawOp>& ops = recorders_[static_cast<size_t>(c)].bands_[static_cast<size_t>(band)];
      if (!t.DrawCalls(ops.data(), ops.size(), limit, fetchAhead)) break;
    }
  }
}
