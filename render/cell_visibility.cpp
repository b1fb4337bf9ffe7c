#include "render/cell_visibility.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include "starfield/visibility_index.h"

namespace {

constexpr int kGrid = VisibilityIndex::kGrid;
constexpr int kShells = VisibilityIndex::kShells;
constexpr int kSides = 5;
constexpr int kCorners = (kGrid + 1) * (kGrid + 1);

// Room left for rounding, relative to the sizes of the terms: the pass
// places and projects in single precision (about 6e-8 relative a step).
constexpr double kRelativeSlack = 1e-3;
// Room left on the balance curve's value: its single-precision value
// within the accepted balances, and the slope times the rounding of the
// length it is taken of, stay far below this.
constexpr double kCurveSlack = 1e-3;

using Vec = std::array<double, 3>;

// Row vector times the 3 x 3 part of m.
Vec Times(const Vec& v, const double m[3][3]) {
  return {v[0] * m[0][0] + v[1] * m[1][0] + v[2] * m[2][0], v[0] * m[0][1] + v[1] * m[1][1] + v[2] * m[2][1],
          v[0] * m[0][2] + v[1] * m[1][2] + v[2] * m[2][2]};
}

double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Abs(const Vec& v) { return {std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])}; }
Vec Row(const Point3& p) { return {p.x, p.y, p.z}; }

// The balance curve in double (the pass takes it in single precision).
double Curve(double x, double t) {
  if (t == 0.5) return x;
  const double v = t * t / (1.0 - 2.0 * t);
  return (v + t) * (v + t) / (v + 1.0 - x) - v;
}

// The 3D domain's curve is used only where its single-precision value is
// close to the double one and it is not steep near 1.
bool CurveUsable(float t) { return t == 0.5f || (t >= 0.05f && t <= 0.95f && std::fabs(t - 0.5f) >= 0.0025f); }

// The range sigma_lo..sigma_hi of a shell (see the header), on a face
// whose squares' points y satisfy |F y| >= `least` (1 on the X and Y faces,
// the band limit on the Z faces).
struct Range {
  double lo, hi;
};
Range ShellRange(const CellSample& smp, int shell, double least) {
  double lo, hi;
  VisibilityIndex::ShellDistances(shell, lo, hi);
  const double sqrt3 = std::sqrt(3.0);
  Range r;
  if (!smp.domain3d) {
    r = {lo / sqrt3, hi};
  } else {
    const double limit = smp.velumbraLimit, t = smp.radialDensityBalance, radius = smp.domainRadius;
    // |F p| lies within limit x lo .. hi (limit <= 1), and at most 1.
    const double x0 = std::max(0.0, limit * lo - 1e-6), x1 = std::min(hi, 1.0) + 1e-6;
    const double c0 = std::max(0.0, Curve(x0, t) - kCurveSlack), c1 = Curve(x1, t) + kCurveSlack;
    // |F y| lies within `least` .. sqrt(3).
    const double a = c0 * radius / sqrt3, b = c1 * radius / least;
    r = {std::min(a, b), std::max(a, b)};
  }
  r.lo -= kRelativeSlack * std::fabs(r.lo);
  r.hi += kRelativeSlack * std::fabs(r.hi);
  return r;
}

}  // namespace

std::uint64_t VisibleCellsScratchBytes() { return std::uint64_t{kShells} * 6 * kCorners; }

bool VisibleCells(const CellSample* samples, int count, const RenderInfo& ri, int maxX, int maxY, double margin,
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
  for (int s = 0; s < kSides; ++s) sideAbs[s] = Abs(side[s]);

  // Per shell, face and grid corner: the sides every point seen so far is
  // outside of.
  std::vector<std::uint8_t> cornerOut;
  try {
    visible.assign(VisibilityIndex::kCells, 0);
    cornerOut.assign(static_cast<size_t>(kShells) * 6 * kCorners, 0x1F);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // Per face: the corners of the grid are n + u e_u + v e_v; each side
  // function of a mapped corner is affine in (u, v), and so is the bound of
  // its rounding (in |u|, |v|).
  struct Affine {
    double c0, cu, cv;  // value: c0 + u cu + v cv
    double s0, su, sv;  // rounding room: s0 + |u| su + |v| sv
  };
  const double step = 2.0 / kGrid;
  for (int k = 0; k < count; ++k) {
    const CellSample& smp = samples[k];
    // A sample with the next one's inputs adds nothing.
    if (k + 1 < count && std::memcmp(&smp, &samples[k + 1], sizeof(CellSample)) == 0) continue;
    if (smp.domain3d && !(smp.velumbraLimit > 0.0f && smp.velumbraLimit <= 1.0f &&
                          CurveUsable(smp.radialDensityBalance) && std::isfinite(smp.domainRadius)))
      return false;
    const Matrix3& O = smp.origin;
    const Matrix3& V = smp.view;
    double vm[3][3], vmAbs[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        vm[i][j] = V.GetRow(i)[j];
        vmAbs[i][j] = std::fabs(vm[i][j]);
      }
    double L[3][3], A[3][3];
    for (int r = 0; r < 3; ++r) {
      // Row r of diag(1, 1, limit) * O * V, in double from the float rows.
      const double scale = r == 2 ? static_cast<double>(smp.velumbraLimit) : 1.0;
      const Vec orow = Row(O.GetRow(r));
      const Vec lr = Times(orow, vm);
      const Vec ar = Times(Abs(orow), vmAbs);
      for (int j = 0; j < 3; ++j) {
        L[r][j] = lr[j] * scale;
        A[r][j] = ar[j] * std::fabs(scale);
        if (!std::isfinite(L[r][j]) || !std::isfinite(A[r][j])) return false;
      }
    }
    // The translation of origin-then-view, the displacement, and bounds of
    // their sizes.
    const Vec ot = Row(O.GetTrans()), vt = Row(V.GetTrans());
    Vec T = Times(ot, vm), Tabs = Times(Abs(ot), vmAbs);
    for (int j = 0; j < 3; ++j) {
      T[j] += vt[j];
      Tabs[j] += std::fabs(vt[j]);
    }
    const Vec D = smp.displaced ? Row(smp.displacement) : Vec{0, 0, 0};
    for (int j = 0; j < 3; ++j)
      if (!std::isfinite(T[j]) || !std::isfinite(Tabs[j]) || !std::isfinite(D[j])) return false;
    // Without a translation or displacement a sky's points form cones from
    // the camera: the corner directions decide for every shell.
    const bool cone = !smp.domain3d && !smp.displaced && T[0] == 0.0 && T[1] == 0.0 && T[2] == 0.0;
    // Per side: the translated (and displaced) values and their room.
    double t0[kSides], t1[kSides], troom0[kSides], troom1[kSides];
    for (int s = 0; s < kSides; ++s) {
      t0[s] = Dot(side[s], T);
      t1[s] = t0[s] + Dot(side[s], D);
      troom0[s] = kRelativeSlack * Dot(sideAbs[s], Tabs);
      troom1[s] = troom0[s] + kRelativeSlack * Dot(sideAbs[s], Abs(D));
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
      const Vec nA = Times(Abs(n), A);
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
      Range range[kShells];
      const double least = axis == 2 ? static_cast<double>(smp.velumbraLimit) : 1.0;
      for (int shell = 0; shell < kShells; ++shell) {
        range[shell] = ShellRange(smp, shell, least);
        if (!std::isfinite(range[shell].lo) || !std::isfinite(range[shell].hi)) return false;
      }
      for (int iv = 0; iv <= kGrid; ++iv) {
        const double v = -1.0 + iv * step;
        for (int iu = 0; iu <= kGrid; ++iu) {
          const double u = -1.0 + iu * step;
          double base[kSides], room[kSides];
          for (int s = 0; s < kSides; ++s) {
            base[s] = f[s].c0 + u * f[s].cu + v * f[s].cv;
            room[s] = f[s].s0 + std::fabs(u) * f[s].su + std::fabs(v) * f[s].sv;
          }
          const size_t corner = static_cast<size_t>(face) * kCorners + static_cast<size_t>(iv * (kGrid + 1) + iu);
          if (cone) {
            std::uint8_t bits = 0;
            for (int s = 0; s < kSides; ++s) bits |= static_cast<std::uint8_t>((base[s] + room[s] < 0.0) << s);
            for (int shell = 0; shell < kShells; ++shell) cornerOut[static_cast<size_t>(shell) * 6 * kCorners + corner] &= bits;
            continue;
          }
          for (int shell = 0; shell < kShells; ++shell) {
            std::uint8_t bits = 0x1F;
            for (const double sigma : {range[shell].lo, range[shell].hi}) {
              std::uint8_t out = 0;
              for (int s = 0; s < kSides; ++s) {
                const double value = sigma * base[s], r = std::fabs(sigma) * room[s];
                bool outside = value + t0[s] + r + troom0[s] < 0.0;
                if (smp.displaced) outside = outside && value + t1[s] + r + troom1[s] < 0.0;
                out |= static_cast<std::uint8_t>(outside << s);
              }
              bits &= out;
            }
            cornerOut[static_cast<size_t>(shell) * 6 * kCorners + corner] &= bits;
          }
        }
      }
    }
  }

  for (int shell = 0; shell < kShells; ++shell)
    for (int face = 0; face < 6; ++face) {
      const std::uint8_t* out = &cornerOut[(static_cast<size_t>(shell) * 6 + static_cast<size_t>(face)) * kCorners];
      for (int iv = 0; iv < kGrid; ++iv)
        for (int iu = 0; iu < kGrid; ++iu) {
          const int c = iv * (kGrid + 1) + iu;
          const std::uint8_t outside = out[c] & out[c + 1] & out[c + kGrid + 1] & out[c + kGrid + 2];
          visible[static_cast<size_t>(shell) * VisibilityIndex::kDirections +
                  static_cast<size_t>((face * kGrid + iv) * kGrid + iu)] = outside == 0;
        }
    }
  return true;
}
