#include "starfield/visibility_index.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

void VisibilityIndex::ShellDistances(int shell, double& lo, double& hi) {
  lo = shell == 0 ? 0.0 : static_cast<double>(shell) / kShells - kShellSlack;
  // Generation keeps only positions whose float length is at most 1.
  hi = static_cast<double>(shell + 1) / kShells + kShellSlack;
}

void VisibilityIndex::CellCorners(int cell, double corners[4][3]) {
  cell %= kDirections;
  const int face = cell / (kGrid * kGrid);
  const int iv = cell / kGrid % kGrid, iu = cell % kGrid;
  const double step = 2.0 / kGrid;
  const double u0 = -1.0 + iu * step - kCornerSlack, u1 = -1.0 + (iu + 1) * step + kCornerSlack;
  const double v0 = -1.0 + iv * step - kCornerSlack, v1 = -1.0 + (iv + 1) * step + kCornerSlack;
  const double us[4] = {u0, u1, u1, u0}, vs[4] = {v0, v0, v1, v1};
  const double sign = face % 2 == 0 ? 1.0 : -1.0;
  for (int j = 0; j < 4; ++j) {
    double* c = corners[j];
    switch (face / 2) {
      case 0:
        c[0] = sign, c[1] = us[j], c[2] = vs[j];
        break;
      case 1:
        c[0] = us[j], c[1] = sign, c[2] = vs[j];
        break;
      default:
        c[0] = us[j], c[1] = vs[j], c[2] = sign;
        break;
    }
  }
}

void VisibilityIndex::Clear() {
  Invalidate();
  order_.Reset();
  start_.Reset();
}

void VisibilityIndex::Invalidate() {
  built_ = false;
  count_ = 0;
  maxSize_ = 0.0f;
}

bool VisibilityIndex::Build(const StarRecord* stars, std::uint32_t count, int threads) {
  Invalidate();
  HostArray<std::uint32_t> cellOf;
  if (!cellOf.Allocate(count ? count : 1)) return false;
  std::uint32_t* cells = cellOf.get();
  float most = 0.0f;
  const std::int64_t n = count;
#pragma omp parallel for num_threads(threads >= 2 ? threads : 1) schedule(static) reduction(max : most) \
    if (threads >= 2)
  for (std::int64_t i = 0; i < n; ++i) {
    cells[i] = CellOf(stars[i].pos);
    if (stars[i].size > most) most = stars[i].size;
  }
  return BuildFromCells(cells, count, most, threads);
}

bool VisibilityIndex::BuildFromCells(const std::uint32_t* cells, std::uint32_t count, float maxSize, int threads) {
  Invalidate();
  // A counting sort by cell, block by block: each part of a block's stars
  // counts its cells, the counts give every part its place in every cell's
  // group, and the parts then write their stars there in order, so each
  // group is ascending whatever the number of parts.
  const int parts = threads >= 2 ? threads : 1;
  std::vector<std::uint32_t> counts;
  try {
    counts.assign(static_cast<size_t>(parts) * kCells, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::size_t entries = count ? count : 1;
  const std::size_t table = static_cast<std::size_t>(BlocksOf(count)) * (kCells + 1);
  if ((order_.size() != entries && !order_.Allocate(entries)) || (start_.size() != table && !start_.Allocate(table))) {
    Clear();
    return false;
  }
  std::uint32_t* order = order_.get();
  for (std::uint32_t block = 0; block < BlocksOf(count); ++block) {
    const std::uint32_t first = block * kBlockStars;
    const std::uint32_t size = std::min(count - std::min(count, first), kBlockStars);
    const auto partBegin = [&](int p) {
      return first + static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) * static_cast<unsigned>(p) /
                                                static_cast<unsigned>(parts));
    };
    std::fill(counts.begin(), counts.end(), 0);
#pragma omp parallel for num_threads(parts) schedule(static, 1) if (parts >= 2)
    for (int p = 0; p < parts; ++p) {
      std::uint32_t* mine = &counts[static_cast<size_t>(p) * kCells];
      for (std::uint32_t i = partBegin(p), end = partBegin(p + 1); i < end; ++i) ++mine[cells[i]];
    }
    // counts[p][c] becomes where part p writes its first star of cell c.
    std::uint32_t* start = start_.get() + static_cast<std::size_t>(block) * (kCells + 1);
    std::uint32_t next = first;
    for (int c = 0; c < kCells; ++c) {
      start[c] = next;
      for (int p = 0; p < parts; ++p) {
        std::uint32_t& n = counts[static_cast<size_t>(p) * kCells + static_cast<size_t>(c)];
        const std::uint32_t here = n;
        n = next;
        next += here;
      }
    }
    start[kCells] = next;
#pragma omp parallel for num_threads(parts) schedule(static, 1) if (parts >= 2)
    for (int p = 0; p < parts; ++p) {
      std::uint32_t* place = &counts[static_cast<size_t>(p) * kCells];
      for (std::uint32_t i = partBegin(p), end = partBegin(p + 1); i < end; ++i) order[place[cells[i]]++] = i;
    }
  }
  count_ = count;
  maxSize_ = maxSize;
  built_ = true;
  return true;
}

void VisibilityIndex::MarkStars(const std::uint8_t* cells, std::uint64_t* bits, int threads) const {
  if (!built()) return;
  const std::uint32_t* order = order_.get();
  const int parts = threads >= 2 ? threads : 1;
  // Part p marks the stars of words lo / 64 .. hi / 64 - 1; each cell's
  // group of a block is ascending, so its stars of a part are one run of it.
  const auto bound = [&](int p) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(count_) * static_cast<unsigned>(p) /
                                      static_cast<unsigned>(parts)) & ~std::uint32_t{63};
  };
#pragma omp parallel for num_threads(parts) schedule(static, 1) if (parts >= 2)
  for (int p = 0; p < parts; ++p) {
    const std::uint32_t lo = bound(p), hi = p + 1 == parts ? count_ : bound(p + 1);
    if (lo >= hi) continue;
    for (std::uint32_t block = lo / kBlockStars; block <= (hi - 1) / kBlockStars; ++block) {
      const std::uint32_t* start = starts(block);
      for (int c = 0; c < kCells; ++c) {
        if (!cells[c]) continue;
        const std::uint32_t* end = order + start[c + 1];
        for (const std::uint32_t* j = std::lower_bound(order + start[c], end, lo); j != end && *j < hi; ++j)
          bits[*j >> 6] |= std::uint64_t{1} << (*j & 63);
      }
    }
  }
}
