#include "render/scintillation.h"

#include <cmath>

#include "raster/channel.h"

ScintillationPass::ScintillationPass(const ScintillationSettings& settings, TimeValue t)
    : s_(settings) {
  const float period = 4800.0f / s_.frequency;  // ticks per key cycle
  const float phase = static_cast<float>(t) / period;
  // The cycle, truncated toward zero; a phase beyond the integer range (a
  // frequency of 0 from a script, or NaN) is held at its ends.
  if (std::isnan(phase))
    cycle_ = 0;
  else if (phase >= 2147483520.0f)
    cycle_ = 2147483520;
  else if (phase <= -2147483520.0f)
    cycle_ = -2147483520;
  else
    cycle_ = static_cast<int>(phase);
  frac_ = std::isnan(phase) ? 0.0f : phase - static_cast<float>(cycle_);

  // seed + c - 1 .. seed + c + 3, in unsigned arithmetic (wraps, as srand
  // takes the sum as an unsigned integer).
  const unsigned base = static_cast<unsigned>(s_.seed) + static_cast<unsigned>(cycle_);
  for (int g = 0; g < 5; ++g) keys_[g].srand(base + static_cast<unsigned>(g) - 1u);
  phase_.srand(static_cast<unsigned>(s_.seed));
}

bool ScintillationPass::Place(std::uint32_t index, const StarRecord& s, const StarPlacement& placement,
                              const Matrix3& origin, const Matrix3& view, const RenderInfo& ri, float& x,
                              float& y, BMM_Color_64& c) const {
  Point3 p;
  if (!StarToCamera(s.pos, placement, origin, view, p)) return false;

  float u = static_cast<float>(phase_.Draw(index)) / static_cast<float>(Random::s_rand_max) + frac_;
  // The window of four cycles around u: K(c-1)..K(c+2), or one later.
  int first = 0;
  if (u > 1.0f) {
    u = u - 1.0f;
    first = 1;
  }
  if (p.z >= 0.0f) return false;

  const std::uint64_t k0 = static_cast<std::uint64_t>(index) * 4;
  float xk[4], yk[4], mk[4], dk[4];
  for (int j = 0; j < 4; ++j) {
    const int g = first + j;
    xk[j] = -s_.dx + KeyDraw(g, k0) * (s_.dx - (-s_.dx));
    yk[j] = -s_.dy + KeyDraw(g, k0 + 1) * (s_.dy - (-s_.dy));
    mk[j] = s_.multiplier + KeyDraw(g, k0 + 2) * (1.0f - s_.multiplier);
    dk[j] = KeyDraw(g, k0 + 3) * s_.dimmer;
  }

  const Point2 screen = ri.MapCamToScreen(p);
  x = screen.x + CatmullRom(xk[0], xk[1], xk[2], xk[3], u);
  y = screen.y + CatmullRom(yk[0], yk[1], yk[2], yk[3], u);
  const float m = CatmullRom(mk[0], mk[1], mk[2], mk[3], u);
  const float d = CatmullRom(dk[0], dk[1], dk[2], dk[3], u);

  c.r = ToChannel(static_cast<float>(s.color.r) * m - d);
  c.g = ToChannel(static_cast<float>(s.color.g) * m - d);
  c.b = ToChannel(static_cast<float>(s.color.b) * m - d);
  c.a = s.color.a;
  return true;
}
