#include "starfield/visibility_index.h"

#include <algorithm>
#include <cmath>
#include <new>

std::uint16_t VisibilityIndex::CellOf(const Point3& p) {
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
  // |u|, |v| <= m, so the quotients lie in -1..1.
  const auto index = [](float q) {
    const int i = static_cast<int>((q + 1.0f) * (0.5f * kGrid));
    return std::clamp(i, 0, kGrid - 1);
  };
  return static_cast<std::uint16_t>((face * kGrid + index(v / m)) * kGrid + index(u / m));
}

void VisibilityIndex::CellCorners(int cell, double corners[4][3]) {
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
  cells_.Reset();
  count_ = 0;
  maxSize_ = 0.0f;
}

bool VisibilityIndex::Build(const StarRecord* stars, std::uint32_t count, int threads) {
  const std::uint32_t size = count ? count : 1;
  if (!cells_ || cells_.size() != size) {
    Clear();
    if (!cells_.Allocate(size)) return false;
  }
  count_ = count;
  std::uint16_t* cells = cells_.get();
  float most = 0.0f;
  const std::int64_t n = count;
#pragma omp parallel for num_threads(threads >= 2 ? threads : 1) schedule(static) reduction(max : most) \
    if (threads >= 2)
  for (std::int64_t i = 0; i < n; ++i) {
    cells[i] = CellOf(stars[i].pos);
    if (stars[i].size > most) most = stars[i].size;
  }
  maxSize_ = most;
  return true;
}
