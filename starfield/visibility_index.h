// VisibilityIndex: the stars grouped by where their unit-ball position lies,
// built with the field, so that a pass can leave out the groups that
// provably cannot reach the image.
//
// A cell is a direction cell and a shell. The directions are cut by a cube
// map: face f (0 +X, 1 -X, 2 +Y, 3 -Y, 4 +Z, 5 -Z; the axis of the largest
// component), and on the face a kGrid x kGrid grid of the two other
// components divided by the largest one (each in -1..1). A direction cell
// is the cone of directions through its square of the face; CellCorners
// gives four directions that span it (the square widened by kCornerSlack,
// so that rounding in CellOf never puts a star outside its cell's cone).
// The shells cut the distance from the centre, 0..1, into kShells equal
// steps: a sky pass (stars as directions) keeps or leaves out whole
// directions, a pass that places stars in space (the 3D domain, hyperspace
// displacements) also uses how far out they lie.
//
// The index keeps the stars' indices grouped by cell, ascending within each
// cell (4 bytes a star), where each cell's group begins, and the largest
// star radius of the field. The grouping is made within blocks of
// kBlockStars consecutive stars (the last block may be shorter): block b's
// stars keep places b x kBlockStars on, grouped by cell there, so that the
// groups of one block lie within a few megabytes and a field's records can
// be laid out in their order block by block (StarField). A pass marks the
// stars of the cells it keeps in a bitmap (one bit a star) and walks it in
// index order, so that it never reads the stars it leaves out.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "plugin/host.h"
#include "starfield/star_record.h"

class VisibilityIndex {
 public:
  static constexpr int kGrid = 64;
  static constexpr int kDirections = 6 * kGrid * kGrid;
  static constexpr int kShells = 4;
  // Cell c is direction c % kDirections in shell c / kDirections.
  static constexpr int kCells = kDirections * kShells;
  // Stars a block: 4,194,304 (96 MB of records).
  static constexpr std::uint32_t kBlockStars = 1u << 22;
  // Widening of a cell's square on its face, in face units (the square is
  // 2 / kGrid wide); far beyond the rounding of a float quotient.
  static constexpr double kCornerSlack = 1e-4;
  // Widening of a shell's distances, far beyond the rounding of the float
  // length CellOf measures.
  static constexpr double kShellSlack = 1e-5;

  // The cell of position p; a point without a direction (zero, NaN) gets
  // cell 0, which is harmless: such a star draws nothing. Inline: the
  // generation takes it for every star.
  static std::uint32_t CellOf(const Point3& p);
  // Four directions spanning the direction of cell `cell` (0..kCells-1),
  // counter-clockwise around it, as (x, y, z) in double; each has the
  // component 1 or -1 along its face's axis.
  static void CellCorners(int cell, double corners[4][3]);
  // The distances from the centre of shell `shell` (0..kShells-1), widened
  // by kShellSlack: every star of the shell lies within lo..hi.
  static void ShellDistances(int shell, double& lo, double& hi);

  // The bytes the index of `count` stars keeps: 4 a star and the group
  // beginnings of its blocks.
  static std::uint64_t Bytes(std::uint32_t count) {
    return 4 * std::uint64_t{count ? count : 1} + 4 * std::uint64_t{BlocksOf(count)} * (kCells + 1);
  }
  // The most scratch a build on `threads` threads takes besides the cells
  // (4 bytes a star, which Build gets itself and a generation hands over):
  // a cell count a cell and part.
  static std::uint64_t BuildScratchBytes(int threads) {
    return 4 * std::uint64_t{static_cast<unsigned>(threads >= 2 ? threads : 1)} * kCells;
  }

  // Builds the index of stars[0..count-1] on `threads` threads (0 or 1: the
  // calling thread only; the same index either way). False, with the index
  // empty, when its memory cannot be had. Never throws.
  bool Build(const StarRecord* stars, std::uint32_t count, int threads);
  // The same index from the stars' cells (cells[i] = CellOf(stars[i].pos))
  // and the field's largest star radius, as a generation that computed them
  // on the way hands them over.
  bool BuildFromCells(const std::uint32_t* cells, std::uint32_t count, float maxSize, int threads);
  // Empties the index and releases its memory.
  void Clear();
  // Empties the index but keeps its memory for the next build of the same
  // number of stars (a regenerated field), which then faults in no fresh
  // pages for it.
  void Invalidate();

  bool built() const { return built_; }
  std::uint32_t count() const { return count_; }
  // The blocks of `count` stars: at least one (an empty field has one, of
  // no star).
  static std::uint32_t BlocksOf(std::uint32_t count) { return count ? (count - 1) / kBlockStars + 1 : 1; }
  std::uint32_t blocks() const { return BlocksOf(count_); }
  // The stars of cell c (0..kCells-1) in block b: order()[begin(b, c)] ..
  // order()[begin(b, c + 1) - 1], ascending; begin(b, 0) = b x kBlockStars,
  // begin(b, kCells) = the block's end.
  const std::uint32_t* order() const { return order_.get(); }
  std::uint32_t begin(std::uint32_t block, int cell) const { return starts(block)[cell]; }
  // Block b's kCells + 1 group beginnings.
  const std::uint32_t* starts(std::uint32_t block) const {
    return start_.get() + static_cast<std::size_t>(block) * (kCells + 1);
  }

  // Sets bit i % 64 of word i / 64 of `bits` for every star i whose cell is
  // flagged (non-zero) in `cells` (kCells entries); other bits are left as
  // they are. `bits` holds at least (count() + 63) / 64 words. On `threads`
  // threads (0 or 1: the calling thread), each setting the bits of its own
  // words.
  void MarkStars(const std::uint8_t* cells, std::uint64_t* bits, int threads = 0) const;
  // The largest star radius (pixels) of the field; NaN sizes are ignored,
  // 0 for a field without stars of positive size.
  float maxSize() const { return maxSize_; }

 private:
  HostArray<std::uint32_t> order_;  // count() star indices (one when empty)
  HostArray<std::uint32_t> start_;  // kCells + 1 group beginnings a block
  std::uint32_t count_ = 0;
  float maxSize_ = 0.0f;
  bool built_ = false;
};

// --- implementation -------------------------------------------------------

inline std::uint32_t VisibilityIndex::CellOf(const Point3& p) {
  const float ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
  int face;
  float u, v, m;
  if (ax >= ay && ax >= az) {
    face = p.x > 0.0f ? 0 : 1;
    u = p.y;
    v = p.z;
    m = ax;
  } else if (ay >= az) {
    face = p.y > 0.0f ? 2 : 3;
    u = p.x;
    v = p.z;
    m = ay;
  } else {
    face = p.z > 0.0f ? 4 : 5;
    u = p.x;
    v = p.y;
    m = az;
  }
  if (!(m > 0.0f) || !std::isfinite(m)) return 0;
  // |u|, |v| <= m: (q / m + 1) x kGrid / 2 lies in 0..kGrid, here with one
  // division for both and within a few units in the last place of it, far
  // inside kCornerSlack.
  const float scale = (0.5f * kGrid) / m;
  const auto index = [&](float q) {
    const int i = static_cast<int>(q * scale + 0.5f * kGrid);
    return std::clamp(i, 0, kGrid - 1);
  };
  const int direction = (face * kGrid + index(v)) * kGrid + index(u);
  // The shell from the squared length against the squared borders (k /
  // kShells)^2, exact in float; rounding stays far inside kShellSlack.
  const float squared = p.x * p.x + p.y * p.y + p.z * p.z;
  int shell = 0;
  for (int k = 1; k < kShells; ++k) {
    const float border = static_cast<float>(k) / kShells;
    shell += squared >= border * border;
  }
  return static_cast<std::uint32_t>(shell * kDirections + direction);
}
