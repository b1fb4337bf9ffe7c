#include "render/sky_visibility.h"

#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include "starfield/visibility_index.h"

namespace {

constexpr int kGrid = VisibilityIndex::kGrid;
constexpr int kSides = 5;

// Room left for rounding, relative to the sizes of the terms: the pass
// places and projects in single precision (about 6e-8 relative a step).
constexpr double kRelativeSlack = 1e-3;

using Vec = std::array<double, 3>;

// Row vector times the 3 x 3 part of m.
Vec Times(const Vec& v, const double m[3][3]) {
  return {v[0] * m[0][0] + v[1] * m[1][0] + v[2] * m[2][0], v[0] * m[0][1] + v[1] * m[1][1] + v[2] * m[2][1],
          v[0] * m[0][2] + v[1] * m[1][2] + v[2] * m[2][2]};
}

double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

bool SkyVisibleCells(const SkySample* samples, int count, const RenderInfo& ri, int maxX, int maxY, double margin,
                     std::vector<std::uint8_t>& visible) {
  if (count < 1 || !samples || maxX < 0 || maxY < 0 || !std::isfinite(margin)) return false;
  const double kx = ri.kx, ky = ri.ky, xc = ri.xc, yc = ri.yc;
  if (!std::isfinite(kx) || !std::isfinite(ky) || !std::isfinite(xc) || !std::isfinite(yc)) return false;
  const double m = margin;
  // The sides as linear functions of a camera-space point, negative where
  // a point in front of the camera projects beyond the widened image.
  const Vec side[kSides] = {
      {kx, 0.0, -(m + xc)},          // left of -m
      {-kx, 0.0, -(maxX + m - xc)},  // right of maxX + m
      {0.0, -ky, -(m + yc)},         // above -m
      {0.0, ky, -(maxY + m - yc)},   // below maxY + m
      {0.0, 0.0, -1.0},              // behind the camera plane (z > 0)
  };
  Vec sideAbs[kSides];
  for (int s = 0; s < kSides; ++s)
    for (int i = 0; i < 3; ++i) sideAbs[s][i] = std::fabs(side[s][i]);

  try {
    visible.assign(VisibilityIndex::kCells, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // Per face: the corners of the grid are n + u e_u + v e_v; each side
  // function of a mapped corner is affine in (u, v), and so is the bound of
  // its rounding (in |u|, |v|).
  struct Affine {
    double c0, cu, cv;      // value: c0 + u cu + v cv
    double s0, su, sv;      // rounding room: s0 + |u| su + |v| sv
  };
  static constexpr int kCorners = (kGrid + 1) * (kGrid + 1);
  std::vector<std::uint8_t> cornerOut;
  try {
    cornerOut.assign(static_cast<size_t>(6) * kCorners, 0x1F);
  } catch (const std::bad_alloc&) {
    return false;
  }

  const double step = 2.0 / kGrid;
  for (int k = 0; k < count; ++k) {
    const SkySample& smp = samples[k];
    // A sample with the next one's inputs adds nothing.
    if (k + 1 < count && std::memcmp(&smp, &samples[k + 1], sizeof(SkySample)) == 0) continue;
    const Matrix3& O = smp.origin;
    const Matrix3& V = smp.view;
    if (!(O.GetRow(3) == Point3::Origin) || !(V.GetRow(3) == Point3::Origin)) return false;
    double L[3][3], A[3][3];
    for (int r = 0; r < 3; ++r) {
      // Row r of diag(1, 1, limit) * O * V, in double from the float rows.
      const double scale = r == 2 ? static_cast<double>(smp.velumbraLimit) : 1.0;
      const Vec orow{O.GetRow(r).x, O.GetRow(r).y, O.GetRow(r).z};
      double vm[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) vm[i][j] = V.GetRow(i)[j];
      const Vec lr = Times(orow, vm);
      double am[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) am[i][j] = std::fabs(vm[i][j]);
      const Vec ar = Times(Vec{std::fabs(orow[0]), std::fabs(orow[1]), std::fabs(orow[2])}, am);
      for (int j = 0; j < 3; ++j) {
        L[r][j] = lr[j] * scale;
        A[r][j] = ar[j] * std::fabs(scale);
        if (!std::isfinite(L[r][j]) || !std::isfinite(A[r][j])) return false;
      }
    }
    for (int face = 0; face < 6; ++face) {
      const int axis = face / 2;
      const double sign = face % 2 == 0 ? 1.0 : -1.0;
      Vec n{0, 0, 0}, eu{0, 0, 0}, ev{0, 0, 0};
      n[axis] = sign;
      // The face's (u, v) axes, as in VisibilityIndex::CellCorners.
      eu[axis == 0 ? 1 : 0] = 1.0;
      ev[axis == 2 ? 1 : 2] = 1.0;
      const Vec nL = Times(n, L), uL = Times(eu, L), vL = Times(ev, L);
      const Vec nA = Times(Vec{std::fabs(n[0]), std::fabs(n[1]), std::fabs(n[2])}, A);
      const Vec uA = Times(eu, A), vA = Times(ev, A);
      Affine f[kSides];
      for (int s = 0; s < kSides; ++s) {
        f[s].c0 = Dot(side[s], nL);
        f[s].cu = Dot(side[s], uL);
        f[s].cv = Dot(side[s], vL);
        // The cells' widening by the slack moves a corner by at most
        // slack (|cu| + |cv|); rounding is bounded relative to the sizes.
        const double widen = VisibilityIndex::kCornerSlack * (std::fabs(f[s].cu) + std::fabs(f[s].cv));
        f[s].s0 = widen + kRelativeSlack * (Dot(sideAbs[s], nA) +
                                            VisibilityIndex::kCornerSlack * (Dot(sideAbs[s], uA) + Dot(sideAbs[s], vA)));
        f[s].su = kRelativeSlack * Dot(sideAbs[s], uA);
        f[s].sv = kRelativeSlack * Dot(sideAbs[s], vA);
      }
      std::uint8_t* out = &cornerOut[static_cast<size_t>(face) * kCorners];
      for (int iv = 0; iv <= kGrid; ++iv) {
        const double v = -1.0 + iv * step;
        for (int iu = 0; iu <= kGrid; ++iu) {
          const double u = -1.0 + iu * step;
          std::uint8_t bits = 0;
          for (int s = 0; s < kSides; ++s) {
            const double value = f[s].c0 + u * f[s].cu + v * f[s].cv;
            const double room = f[s].s0 + std::fabs(u) * f[s].su + std::fabs(v) * f[s].sv;
            bits |= static_cast<std::uint8_t>((value + room < 0.0) << s);
          }
          out[iv * (kGrid + 1) + iu] &= bits;
        }
      }
    }
  }

  for (int face = 0; face < 6; ++face) {
    const std::uint8_t* out = &cornerOut[static_cast<size_t>(face) * kCorners];
    for (int iv = 0; iv < kGrid; ++iv)
      for (int iu = 0; iu < kGrid; ++iu) {
        const int c = iv * (kGrid + 1) + iu;
        const std::uint8_t outside = out[c] & out[c + 1] & out[c + kGrid + 1] & out[c + kGrid + 2];
        visible[static_cast<size_t>((face * kGrid + iv) * kGrid + iu)] = outside == 0;
      }
  }
  return true;
}
