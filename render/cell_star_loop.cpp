#include "render/cell_star_loop.h"

#include <bit>

#include "starfield/visibility_index.h"

namespace {

// From word `first` (of `words`), whole steps of four words while their
// marks, added up, stay within `most` (the first step always): their end;
// rank[w - first] becomes the marks of the words before w, `size` all of
// them. The popcount instruction where the processor has it (the library's
// otherwise).
__attribute__((target_clones("popcnt", "default"))) std::uint32_t RankSteps(const std::uint64_t* marks,
                                                                           std::uint32_t first, std::uint32_t words,
                                                                           std::uint32_t most, std::uint32_t* rank,
                                                                           std::uint32_t& size) {
  std::uint32_t w = first, sum = 0;
  while (w < words) {
    const std::uint32_t end = std::min(words, w + 4);
    std::uint32_t step = 0;
    for (std::uint32_t v = w; v < end; ++v) step += static_cast<std::uint32_t>(std::popcount(marks[v]));
    if (w > first && sum + step > most) break;
    for (std::uint32_t v = w; v < end; ++v) {
      rank[v - first] = sum;
      sum += static_cast<std::uint32_t>(std::popcount(marks[v]));
    }
    w = end;
  }
  size = sum;
  return w;
}

struct GroupWalk {
  const std::uint32_t* start;  // the index's group beginnings, block after block
  const std::uint32_t* order;
  const StarRecord* records;
  const std::uint64_t* kept;  // null: every star, ranked from `lo`
  const std::uint32_t* rank;  // per word from lo / 64
  std::uint32_t lo, hi;
  std::uint32_t cursorBlock;  // the block the cursors are of
  KeptStar* stars;
};

// Copies the stars lo..hi-1 of kept cells cells[0..n-1] to their ranks,
// block by block, in the cursors' block from the cursors on; the cursors
// move to where the walk stopped in the last block.
__attribute__((target_clones("popcnt", "default"))) void CopyGroup(const GroupWalk& w, const std::uint32_t* cells,
                                                                  std::uint32_t* cursors, std::uint32_t n) {
  const std::uint32_t firstWord = w.lo >> 6;
  const std::uint32_t firstBlock = w.lo / VisibilityIndex::kBlockStars;
  const std::uint32_t lastBlock = (w.hi - 1) / VisibilityIndex::kBlockStars;
  for (std::uint32_t block = firstBlock; block <= lastBlock; ++block) {
    const std::uint32_t* start = w.start + static_cast<std::size_t>(block) * (VisibilityIndex::kCells + 1);
    const auto from = [&](std::uint32_t k) { return block == w.cursorBlock ? cursors[k] : start[cells[k]]; };
    for (std::uint32_t k = 0; k < n; ++k) {
      // The next cell's run begins elsewhere in memory: asked for while
      // this one is copied (a hint only).
      if (k + 1 < n) {
        const std::uint32_t next = from(k + 1);
        __builtin_prefetch(w.order + next);
        __builtin_prefetch(w.records + next);
      }
      std::uint32_t j = from(k);
      for (const std::uint32_t end = start[cells[k] + 1]; j < end; ++j) {
        const std::uint32_t i = w.order[j];
        if (i >= w.hi) break;
        std::uint32_t r = i - w.lo;
        if (w.kept) {
          const std::uint64_t below = w.kept[i >> 6] & ((std::uint64_t{1} << (i & 63)) - 1);
          r = w.rank[(i >> 6) - firstWord] + static_cast<std::uint32_t>(std::popcount(below));
        }
        KeptStar& s = w.stars[r];
        s.index = i;
        s.record = w.records[j];
      }
      if (block == lastBlock) cursors[k] = j;
    }
  }
}

}  // namespace

std::uint64_t CellBatches::Bytes(std::uint32_t count, std::uint32_t batchStars) {
  const std::uint64_t buffer =
      std::uint64_t{std::max<std::uint32_t>(1, std::min(count, std::max<std::uint32_t>(256, batchStars)))} *
      sizeof(KeptStar);
  const std::uint64_t ranks = (std::uint64_t{count} + 63) / 64 * sizeof(std::uint32_t);
  return buffer + ranks + 2 * sizeof(std::uint32_t) * std::uint64_t{VisibilityIndex::kCells};
}

void CellBatches::Plan(const CellStarSet& set, int groups, std::uint32_t batchStars) {
  set_ = set;
  if (!set_.visible || !set_.kept) set_.visible = nullptr, set_.kept = nullptr;
  groups_ = std::max(1, groups);
  batchStars_ = std::max<std::uint32_t>(256, batchStars & ~std::uint32_t{0xFF});
  next_ = 0;
  constexpr std::size_t kRow = VisibilityIndex::kCells + 1;
  const std::uint32_t blocks = VisibilityIndex::BlocksOf(set.count);
  // The kept cells that hold stars in some block; until the first batch
  // sets them, the cursors hold each one's stars, for the groups.
  kept_.clear();
  kept_.reserve(VisibilityIndex::kCells);
  cursor_.resize(VisibilityIndex::kCells);
  std::uint64_t keptStars = 0;
  for (std::uint32_t c = 0; c < static_cast<std::uint32_t>(VisibilityIndex::kCells); ++c) {
    if (set_.visible && !set_.visible[c]) continue;
    std::uint32_t stars = 0;
    for (std::uint32_t b = 0; b < blocks; ++b) stars += set.start[b * kRow + c + 1] - set.start[b * kRow + c];
    if (stars == 0) continue;
    cursor_[kept_.size()] = stars;
    kept_.push_back(c);
    keptStars += stars;
  }
  // Group g begins at the first cell where the kept stars before it reach
  // g / groups of all.
  groupBegin_.assign(static_cast<std::size_t>(groups_) + 1, static_cast<std::uint32_t>(kept_.size()));
  groupBegin_[0] = 0;
  std::uint64_t sum = 0;
  int g = 1;
  for (std::uint32_t k = 0; k < kept_.size() && g < groups_; ++k) {
    while (g < groups_ && sum >= keptStars * static_cast<std::uint64_t>(g) / static_cast<std::uint64_t>(groups_))
      groupBegin_[static_cast<std::size_t>(g++)] = k;
    sum += cursor_[k];
  }
  cursorBlock_ = blocks;  // none: the first batch walks from the beginnings
  if (set_.kept) rank_.resize((static_cast<std::size_t>(set.count) + 63) / 64);
  stars_.resize(std::max<std::uint64_t>(1, std::min<std::uint64_t>(batchStars_, keptStars)));
}

bool CellBatches::Next(Batch& batch) {
  const std::uint32_t count = set_.count;
  if (next_ >= count) return false;
  batch.lo = next_;
  if (!set_.kept) {
    // Every star: a batch's worth of them.
    batch.hi = count - batch.lo < batchStars_ ? count : batch.lo + batchStars_;
    batch.size = batch.hi - batch.lo;
  } else {
    // Whole steps of 256 stars (four words) while their kept stars fit.
    const std::uint32_t end = RankSteps(set_.kept, batch.lo >> 6, (count + 63) / 64, batchStars_, rank_.data(), batch.size);
    batch.hi = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{end} << 6, count));
  }
  next_ = batch.hi;
  return true;
}

void CellBatches::Gather(const Batch& batch) {
  if (batch.lo >= batch.hi) return;
  const GroupWalk walk{set_.start, set_.order,     set_.records, set_.kept,
                       rank_.data(), batch.lo,       batch.hi,     cursorBlock_,
                       stars_.data()};
#pragma omp parallel for num_threads(groups_) schedule(static, 1) if (groups_ >= 2)
  for (int group = 0; group < groups_; ++group) {
    const std::uint32_t first = groupBegin_[static_cast<std::size_t>(group)];
    const std::uint32_t last = groupBegin_[static_cast<std::size_t>(group) + 1];
    CopyGroup(walk, kept_.data() + first, cursor_.data() + first, last - first);
  }
  cursorBlock_ = (batch.hi - 1) / VisibilityIndex::kBlockStars;
}
