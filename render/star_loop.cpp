#include "render/star_loop.h"

#include <algorithm>
#include <cmath>

namespace {

// Rows per band: small enough that both cores find work in any image, large
// enough that most discs lie in one band.
constexpr int kBandRows = 32;

// Recorded calls per batch, about 10 MB: bounds the memory of a pass
// whatever its number of stars and subdivisions.
constexpr std::uint64_t kOpsPerBatch = 1u << 18;

}  // namespace


void OpRecorder::Reset() {
  failed_ = false;
  ops_.clear();
  for (auto& b : bands_) b.clear();
}

void OpRecorder::Record(DrawOp::Kind kind, Point2 a, Point2 b, BMM_Color_64 colour, float r) {
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
    first = static_cast<int>(std::max(0.0, ylo)) / bandRows_;
    last = static_cast<int>(std::min(static_cast<double>(maxY_), yhi)) / bandRows_;
  }
  const auto index = static_cast<std::uint32_t>(ops_.size());
  try {
    ops_.push_back(DrawOp{a, b, colour, r, star, kind});
    for (int band = first; band <= last; ++band) bands_[static_cast<size_t>(band)].push_back(index);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
}

ParallelStarLoop::ParallelStarLoop(const PixelTarget& target, int threads, int opsPerStar)
    : target_(target), threads_(std::max(1, threads)), bandRows_(kBandRows) {
  const int rows = target.maxY + 1;
  bands_ = std::max(1, (rows + bandRows_ - 1) / bandRows_);
  // Whole multiples of 256 stars, so each batch holds its own progress
  // points; at least one multiple.
  const std::uint64_t perStar = static_cast<std::uint64_t>(std::max(1, opsPerStar));
  const std::uint64_t stars = std::max<std::uint64_t>(256, kOpsPerBatch / perStar);
  batch_ = static_cast<std::uint32_t>(stars & ~std::uint64_t{0xFF});
  // A few chunks per thread keep the cores busy when stars differ in cost.
  recorders_.resize(static_cast<size_t>(threads_ * 4));
  // Room for a chunk's share of a batch at one call a star, so that a
  // typical batch records without allocating.
  const size_t typical = batch_ / recorders_.size() + 1;
  for (OpRecorder& r : recorders_) {
    r.bandRows_ = bandRows_;
    r.maxX_ = target.maxX;
    r.maxY_ = target.maxY;
    r.ops_.reserve(typical);
    r.bands_.resize(static_cast<size_t>(bands_));
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
    t.clipY0 = std::max(target_.clipY0, band * bandRows_);
    t.clipY1 = std::min(target_.clipY1, band * bandRows_ + bandRows_ - 1);
    // Chunks hold consecutive stars in order, and each chunk's calls are in
    // star order: the first call at or past the limit ends the band.
    [&] {
      for (int c = 0; c < chunks; ++c) {
        const OpRecorder& rec = recorders_[static_cast<size_t>(c)];
        for (std::uint32_t index : rec.bands_[static_cast<size_t>(band)]) {
          const DrawOp& op = rec.ops_[index];
          if (op.star >= limit) return;
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
