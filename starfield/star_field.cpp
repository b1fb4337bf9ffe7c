#include "starfield/star_field.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "raster/lanes.h"
#include "starfield/unit_ball.h"

// The vectors of MarkTaken stay in its registers (DrawBits is inlined): no
// call passes them, so GCC's note that passing 32-byte vectors differs with
// AVX (here and in the clones' resolver) does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"


bool StarField::KeyMatches(const StarFieldKey& k) const {
  return key_.count == k.count && key_.seed == k.seed &&
         key_.brightColor.r == k.brightColor.r && key_.brightColor.g == k.brightColor.g &&
         key_.brightColor.b == k.brightColor.b && key_.dimColor.r == k.dimColor.r &&
         key_.dimColor.g == k.dimColor.g && key_.dimColor.b == k.dimColor.b &&
         key_.colorVariance == k.colorVariance && key_.brightDimBalance == k.brightDimBalance &&
         key_.brightSize == k.brightSize && key_.dimSize == k.dimSize && key_.alpha16 == k.alpha16;
}

bool StarField::RefreshStarField(const StarFieldKey& key, CheckAbortCallback* abort) {
  if (stars_ && KeyMatches(key)) return true;
  key_ = key;
  key_.brightColor.a = 0;
  key_.dimColor.a = 0;
  return GenerateStarField(abort) != 0;
}

namespace {

// The position attempt read from triple q of the stream (draws 3q..3q+2):
// uniform in the cube -1..1; taken when inside the ball and not the centre,
// which has no direction.
inline bool Attempt(const Random& rng, std::uint64_t q, Point3& p) {
  const auto unit = [&](std::uint64_t d) {
    return static_cast<float>(rng.Draw(d)) / static_cast<float>(Random::s_rand_max);
  };
  p.x = unit(3 * q) * 2.0f - 1.0f;
  p.y = unit(3 * q + 1) * 2.0f - 1.0f;
  p.z = unit(3 * q + 2) * 2.0f - 1.0f;
  // The float length decides (at most 1, not 0), tested on its square: both
  // tests evaluated, without a branch between them (half the attempts fail,
  // at random), and no square root.
  return InsideUnitBall(p.x * p.x + p.y * p.y + p.z * p.z);
}

// Bit i % 64 of words[i / 64] = Attempt(rng, first + i, p) for i in
// 0..n-1 (the bits from n on in the last word are 0): four attempts at a
// time in vector lanes, each lane the scalar arithmetic (the draws, their
// float quotient, product and difference, the squared length, the test),
// compiled for AVX2 where the processor has it; the rest one by one.
using lanes::F32x4;
using lanes::I32x4;
using lanes::U64x4;

__attribute__((target_clones("avx2", "default"))) void MarkTaken(const Random& rng, std::uint64_t first,
                                                                  std::uint64_t n, std::uint64_t* words) {
  const F32x4 most = {kLengthOneSquared, kLengthOneSquared, kLengthOneSquared, kLengthOneSquared};
  // The generator states of the lanes' first draws, moved on by additions.
  U64x4 state = rng.StateOf(U64x4::Iota(first) * 3);
  for (std::uint64_t base = 0; base < n; base += 64) {
    const std::uint64_t m = std::min<std::uint64_t>(64, n - base);
    std::uint64_t bits = 0, i = 0;
    for (; i + 4 <= m; i += 4, state += 12 * Random::kStep) {
      F32x4 c[3];
      for (std::uint64_t j = 0; j < 3; ++j) {
        const I32x4 draws = Random::BitsAt(state + j * Random::kStep).Low32();
        c[j] = lanes::ToFloats(draws) / static_cast<float>(Random::s_rand_max) * 2.0f - 1.0f;
      }
      const F32x4 squared = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
      const I32x4 inside = (squared <= most) & (squared != 0.0f);  // lanes of -1 or 0; no NaN here
      const auto lanes = static_cast<std::uint64_t>((inside[0] & 1) | (inside[1] & 2) | (inside[2] & 4) | (inside[3] & 8));
      bits |= lanes << i;
    }
    for (; i < m; ++i) {
      Point3 p;
      bits |= static_cast<std::uint64_t>(Attempt(rng, first + base + i, p)) << i;
    }
    words[base / 64] = bits;
  }
}

// The triples of a word of taken bits t that begin stars, as bits: read in
// order, a triple begins a star when it is taken and not read as colour
// (the triple after one that began a star is its colour), i.e. b_k = t_k
// and not b_(k-1), with b_(-1) = `in`. Within a run of taken triples the
// beginnings alternate from the run's first triple (or, for a run at bit 0
// after a beginning, from the second): the runs are found by adding their
// first bits (the carry clears exactly the run), apart for runs that start
// on even and on odd bits, and each keeps the bits of its own parity.
inline std::uint64_t Beginnings(std::uint64_t t, bool in) {
  constexpr std::uint64_t kEven = 0x5555555555555555ull;
  const std::uint64_t starts = t & ~(t << 1);
  std::uint64_t even = starts & kEven, odd = starts & ~kEven;
  if (in && (t & 1)) {
    even &= ~std::uint64_t{1};
    odd |= 1;
  }
  const std::uint64_t evenRuns = t & ~(t + even), oddRuns = t & ~(t + odd);
  return (evenRuns & kEven) | (oddRuns & ~kEven);
}

// What every star takes from the key besides its draws.
struct Grading {
  std::uint32_t count;
  float factorSpan, factorBase;
  int bright[3], dim[3];
  float brightSize, dimSize, balance;
  WORD alpha;

  explicit Grading(const StarFieldKey& k)
      : count(k.count),
        factorSpan((1.0f + k.colorVariance) - (1.0f - k.colorVariance)),
        factorBase(1.0f - k.colorVariance),
        bright{k.brightColor.r, k.brightColor.g, k.brightColor.b},
        dim{k.dimColor.r, k.dimColor.g, k.dimColor.b},
        brightSize(k.brightSize),
        dimSize(k.dimSize),
        balance(k.brightDimBalance),
        alpha(static_cast<WORD>(k.alpha16 & 0xFFFF)) {}

  // Star j's size and colour; its colour variation takes draws
  // firstDraw..firstDraw+2.
  void Finish(StarRecord& s, std::uint32_t j, const Random& rng, std::uint64_t firstDraw) const {
    const float u0 = static_cast<float>(count - j) / static_cast<float>(count);
    const float u = BalanceCurve(u0, balance);
    s.size = u * (brightSize - dimSize) + dimSize;
    WORD* channel[3] = {&s.color.r, &s.color.g, &s.color.b};
    for (int c = 0; c < 3; ++c) {
      const float r = static_cast<float>(rng.Draw(firstDraw + static_cast<std::uint64_t>(c))) /
                      static_cast<float>(Random::s_rand_max);
      const float factor = r * factorSpan + factorBase;
      const float value = (static_cast<float>(bright[c] - dim[c]) * u + static_cast<float>(dim[c])) * factor;
      *channel[c] = ToChannel(value);
    }
    s.color.a = alpha;
  }
};

// Star j, begun at triple q: its position, grading and index cell (when
// `cells` is given); `most` takes its size when larger.
inline void WriteStar(const Random& rng, const Grading& g, std::uint64_t q, std::uint64_t j, StarRecord* stars,
                      std::uint32_t* cells, float& most) {
  StarRecord& s = stars[j];
  Attempt(rng, q, s.pos);
  g.Finish(s, static_cast<std::uint32_t>(j), rng, 3 * q + 3);
  if (cells) cells[j] = VisibilityIndex::CellOf(s.pos);
  if (s.size > most) most = s.size;
}

// The stars that begin at triples q[0..n-1] of the stream, written as stars
// first..first+n-1 (with their index cells, when `cells` is given, and the
// largest size in `most`, NaN ignored): four at a time in vector lanes, each
// lane the scalar arithmetic of Attempt, Grading::Finish and
// VisibilityIndex::CellOf, operation for operation (comparisons and their
// branches become selections of the same values); the rest one by one.
__attribute__((target_clones("avx2", "default"))) void WriteStars(const Random& rng, const Grading& g,
                                                                   const std::uint64_t* q, std::uint32_t n,
                                                                   std::uint64_t first, StarRecord* stars,
                                                                   std::uint32_t* cells, float& most) {
  std::uint32_t k = 0;
  // The lanes take count - j as an int: counts within the int range only.
  if (g.count <= 0x7FFFFFFFu) {
    const float max = static_cast<float>(Random::s_rand_max);
    const float count = static_cast<float>(g.count);
    const float t = g.balance, v = t * t / (1.0f - 2.0f * t);
    const float top = (v + t) * (v + t), below = v + 1.0f;
    const float sizeSpan = g.brightSize - g.dimSize;
    float span[3], base[3];
    for (int c = 0; c < 3; ++c) {
      span[c] = static_cast<float>(g.bright[c] - g.dim[c]);
      base[c] = static_cast<float>(g.dim[c]);
    }
    F32x4 largest = {most, most, most, most};
    const auto channel = [](F32x4 value) {  // ToChannel
      value = value > 0.0f ? value : 0.0f;   // NaN too
      value = value >= static_cast<float>(kFullChannel) ? static_cast<float>(kFullChannel) : value;
      return lanes::Truncated(value);
    };
    for (; k + 4 <= n; k += 4) {
      U64x4 triple;
      std::memcpy(&triple, q + k, sizeof triple);
      // Draws 3q .. 3q + 5 from the state of the first.
      const U64x4 state = rng.StateOf(triple * 3);
      const auto unit = [&](std::uint64_t a) {
        const U64x4 bits = Random::BitsAt(state + a * Random::kStep);
        return lanes::ToFloats(bits.Low32()) / max;
      };
      F32x4 p[3];
      for (std::uint64_t a = 0; a < 3; ++a) p[a] = unit(a) * 2.0f - 1.0f;
      // Grading: the balance curve of the star's place in the field.
      const std::int32_t j = static_cast<std::int32_t>(first + k);
      const I32x4 rest = static_cast<std::int32_t>(g.count) - lanes::Iota(j);
      const F32x4 u0 = lanes::ToFloats(rest) / count;
      F32x4 u = u0;
      if (t != 0.5f) {
        const F32x4 r = top / (below - u0) - v;
        u = r != r ? u0 : r;
      }
      const F32x4 size = u * sizeSpan + g.dimSize;
      I32x4 colour[3];
      for (int c = 0; c < 3; ++c) {
        const F32x4 factor = unit(static_cast<std::uint64_t>(3 + c)) * g.factorSpan + g.factorBase;
        colour[c] = channel((span[c] * u + base[c]) * factor);
      }
      largest = size > largest ? size : largest;
      // The index cell: the cube face of the largest component, the grid
      // square of the other two on it, the shell of the squared length.
      I32x4 cell = {0, 0, 0, 0};
      if (cells) {
        const auto abs = [](F32x4 x) { return reinterpret_cast<F32x4>(reinterpret_cast<I32x4>(x) & 0x7FFFFFFF); };
        const F32x4 ax = abs(p[0]), ay = abs(p[1]), az = abs(p[2]);
        const I32x4 onX = (ax >= ay) & (ax >= az), onY = ~onX & (ay >= az);
        const I32x4 face = onX ? (p[0] > 0.0f ? 0 : 1) : onY ? (p[1] > 0.0f ? 2 : 3) : (p[2] > 0.0f ? 4 : 5);
        const F32x4 fu = onX ? p[1] : p[0], fv = onX || onY ? p[2] : p[1];
        const F32x4 m = onX ? ax : onY ? ay : az;
        // Without a direction (m not above 0, or not finite) the cell is 0;
        // such lanes are divided by 1, not converted from inf or NaN.
        const I32x4 valid = (m > 0.0f) & (m - m == 0.0f);
        const F32x4 scale = (0.5f * VisibilityIndex::kGrid) / (valid ? m : 1.0f);
        const auto index = [&](F32x4 x) {
          I32x4 i = lanes::Truncated(x * scale + 0.5f * VisibilityIndex::kGrid);
          i = i < 0 ? 0 : i;
          return i > VisibilityIndex::kGrid - 1 ? VisibilityIndex::kGrid - 1 : i;
        };
        const F32x4 squared = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
        I32x4 shell = {0, 0, 0, 0};
        for (int b = 1; b < VisibilityIndex::kShells; ++b) {
          const float border = static_cast<float>(b) / VisibilityIndex::kShells;
          shell -= squared >= border * border;  // lanes of -1 or 0
        }
        const I32x4 direction = (face * VisibilityIndex::kGrid + index(fv)) * VisibilityIndex::kGrid + index(fu);
        cell = valid ? shell * VisibilityIndex::kDirections + direction : 0;
      }
      for (int l = 0; l < 4; ++l) {
        StarRecord& s = stars[first + k + static_cast<std::uint32_t>(l)];
        s.pos = Point3(p[0][l], p[1][l], p[2][l]);
        s.color = {static_cast<WORD>(colour[0][l]), static_cast<WORD>(colour[1][l]), static_cast<WORD>(colour[2][l]), g.alpha};
        s.size = size[l];
        if (cells) cells[first + k + static_cast<std::uint32_t>(l)] = static_cast<std::uint32_t>(cell[l]);
      }
    }
    for (int l = 0; l < 4; ++l)
      if (largest[l] > most) most = largest[l];
  }
  for (; k < n; ++k) WriteStar(rng, g, q[k], first + k, stars, cells, most);
}

}  // namespace


int StarField::GenerateStarField(CheckAbortCallback* abort) {
  rng_.srand(static_cast<unsigned int>(key_.seed));
  ++generations_;
  outOfMemory_ = false;
  fellBackToSerial_ = false;
  cellOrdered_ = false;

  // new[] of count records; an empty field is a valid (non-null) array. An
  // array of exactly that size is reused: every record is written anew.
  const std::uint32_t size = key_.count ? key_.count : 1;
  // So does the index, for a field of the same size; for any other size it
  // lets its memory go before the new records are had.
  if (stars_ && stars_.size() == size)
    index_.Invalidate();
  else
    index_.Clear();
  if (!stars_ || stars_.size() != size) {
    if (!stars_.Allocate(size)) {
      outOfMemory_ = true;
      return 0;
    }
  }

  if (abort) abort->SetTitle(kCreatingTitle);

  const int threads = RenderThreadsGranted();
  int done = -1;
  // The parallel generation also notes each star's index cell and the
  // largest radius while the star is at hand, where it can have the memory.
  HostArray<std::uint32_t> cells;
  float most = 0.0f;
  if (threads >= 2) {
    if (!cells.Allocate(key_.count ? key_.count : 1)) cells.Reset();
    done = GenerateParallel(abort, threads, cells.get(), most);
    fellBackToSerial_ = done < 0;
  }
  const bool noted = done > 0 && cells;
  if (done < 0) done = GenerateSerial(abort);
  // Without its memory the index stays empty and every pass visits every
  // star: slower, the same image.
  if (done) {
    if (noted)
      index_.BuildFromCells(cells.get(), key_.count, most, threads);
    else
      index_.Build(stars_.get(), key_.count, threads);
    cells.Reset();  // its memory goes before the scratch's comes
    if (index_.built() && key_.count > 0 && key_.count >= cellOrderFrom_) cellOrdered_ = ArrangeByCell(threads);
  }
  return done;
}

std::uint64_t StarField::ArrangeScratchBytes(std::uint32_t count) {
  return count >= kCellOrderFrom ? std::uint64_t{std::min(count, VisibilityIndex::kBlockStars)} * sizeof(StarRecord)
                                 : 0;
}

bool StarField::ArrangeByCell(int threads) {
  const std::uint32_t count = key_.count;
  HostArray<StarRecord> scratch;
  if (!scratch.Allocate(std::min(count, VisibilityIndex::kBlockStars))) return false;
  StarRecord* stars = stars_.get();
  StarRecord* copy = scratch.get();
  const std::uint32_t* order = index_.order();
  const int parts = threads >= 2 ? threads : 1;
  // Block by block: its records copied out, then gathered back in the
  // index's order (the reads at random within the block's copy, the writes
  // in order).
  for (std::uint32_t block = 0; block < index_.blocks(); ++block) {
    const std::uint32_t first = block * VisibilityIndex::kBlockStars;
    const std::uint32_t size = std::min(count - first, VisibilityIndex::kBlockStars);
    const auto partBegin = [&](int p) {
      return static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) * static_cast<unsigned>(p) /
                                        static_cast<unsigned>(parts));
    };
#pragma omp parallel for num_threads(parts) schedule(static, 1) if (parts >= 2)
    for (int p = 0; p < parts; ++p)
      std::copy(stars + first + partBegin(p), stars + first + partBegin(p + 1), copy + partBegin(p));
#pragma omp parallel for num_threads(parts) schedule(static, 1) if (parts >= 2)
    for (int p = 0; p < parts; ++p)
      for (std::uint32_t j = first + partBegin(p), end = first + partBegin(p + 1); j < end; ++j)
        stars[j] = copy[order[j] - first];
  }
  return true;
}

int StarField::GenerateSerial(CheckAbortCallback* abort) {
  // The reference: the stream read in order. Each star takes position
  // attempts (three draws each) until one is inside the ball, then three
  // colour draws.
  const std::uint32_t count = key_.count;
  const Grading grading(key_);
  for (std::uint32_t j = 0; j < count; ++j) {
    StarRecord& s = stars_[j];
    std::uint64_t q = rng_.Tell() / 3;
    while (!Attempt(rng_, q, s.pos)) ++q;
    grading.Finish(s, j, rng_, 3 * q + 3);
    rng_.Seek(3 * q + 6);

    if ((j & 0xFF) == 0 && abort &&
        abort->Progress(static_cast<int>(j), static_cast<int>(count))) {
      key_.count = 0;
      return 0;
    }
  }
  return 1;
}

// The triples of a round of parallel reading with `rest` stars to write:
// about 2.9 triples a star (the ball fills pi/6 of the cube), plus one for
// its colour, so that a round reaches the rest with a margin, in bounded
// memory. Rounds shrink as stars are written, so the first is the largest.
namespace {
std::uint64_t RoundTriples(std::uint64_t rest) {
  return std::clamp<std::uint64_t>(rest * 3 + rest / 8 + 4096, 1 << 16, 1 << 22);
}
}  // namespace

std::uint64_t StarField::ParallelScratchBytes(std::uint32_t count) { return 5 * RoundTriples(count); }

// The stream as a sequence of triples read in one of two states: a position
// attempt, or (right after a taken attempt) the star's three colour draws.
// Rounds of triples are cut into chunks. Each chunk's attempts are tested in
// parallel, and the chunk is read from both states; a serial pass then
// stitches the chunks (the state each starts in, the index of its first
// star), and the chunks write their stars in parallel. The stars, and the
// generator's final position, are those of the serial reading.
int StarField::GenerateParallel(CheckAbortCallback* abort, int threads, std::uint32_t* cells, float& most) {
  const std::uint32_t count = key_.count;
  const Grading grading(key_);
  const int chunks = threads * 4;

  struct Chunk {
    std::uint64_t lo, hi;           // triples, relative to the round
    std::uint32_t stars[2];         // stars begun, reading from state 0 (attempt) or 1 (colour)
    bool endsInColour[2];
    bool startsInColour = false;    // after stitching
    std::uint64_t firstStar = 0;
    float most = 0.0f;              // largest radius written (NaN ignored)
  };
  // All working memory is had before the first parallel region, which then
  // allocates nothing (an exception cannot leave a parallel region).
  std::vector<Chunk> chunk;
  std::vector<std::uint64_t> taken;  // a bit a triple of the round
  try {
    chunk.resize(static_cast<size_t>(chunks));
    taken.resize(RoundTriples(count) / 64 + 1);
  } catch (const std::bad_alloc&) {
    return -1;
  }

  std::uint32_t done = 0;       // stars written
  std::uint64_t round = 0;      // first triple of the round
  bool inColour = false;        // state at `round`
  std::uint64_t lastTriple = 0; // the taken attempt of the last star
  while (done < count) {
    const std::uint64_t triples = RoundTriples(count - done);
    // Chunks begin on whole words of the taken bits (some may be empty).
    for (int c = 0; c < chunks; ++c) {
      chunk[c].lo = (triples * c / chunks) & ~std::uint64_t{63};
      chunk[c].hi = c + 1 == chunks ? triples : (triples * (c + 1) / chunks) & ~std::uint64_t{63};
    }
    // The beginnings of words lo / 64 .. of a chunk from state `in`, handed
    // to f(word index, bits) in order; the state after the chunk.
    const auto walk = [&](const Chunk& ch, bool in, auto&& f) {
      for (std::uint64_t base = ch.lo; base < ch.hi; base += 64) {
        const std::uint64_t valid = std::min<std::uint64_t>(64, ch.hi - base);
        const std::uint64_t b = Beginnings(taken[base / 64], in);
        f(base, b);
        in = ((b >> (valid - 1)) & 1) != 0;
      }
      return in;
    };

#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int c = 0; c < chunks; ++c) {
      Chunk& ch = chunk[static_cast<size_t>(c)];
      MarkTaken(rng_, round + ch.lo, ch.hi - ch.lo, taken.data() + ch.lo / 64);
      // Both readings: from an attempt (state 0) and from colour (1).
      for (int state = 0; state < 2; ++state) {
        std::uint32_t stars = 0;
        ch.endsInColour[state] = walk(ch, state != 0, [&](std::uint64_t, std::uint64_t b) {
          stars += static_cast<std::uint32_t>(std::popcount(b));
        });
        ch.stars[state] = stars;
      }
    }

    std::uint64_t next = done;
    bool state = inColour;
    for (Chunk& ch : chunk) {
      ch.startsInColour = state;
      ch.firstStar = next;
      next += ch.stars[state];
      state = ch.endsInColour[state];
    }

#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int c = 0; c < chunks; ++c) {
      Chunk& ch = chunk[static_cast<size_t>(c)];
      if (ch.firstStar >= count) continue;
      // The triples that begin stars, gathered from the bits a few dozen
      // at a time (up to the field's last star), and their stars written.
      constexpr std::uint32_t kGather = 64;
      std::uint64_t begins[kGather + 64];
      std::uint32_t n = 0;
      std::uint64_t j = ch.firstStar;
      const auto write = [&] {
        WriteStars(rng_, grading, begins, n, j, stars_.get(), cells, ch.most);
        j += n;
        if (n && j == count) lastTriple = begins[n - 1];
        n = 0;
      };
      walk(ch, ch.startsInColour, [&](std::uint64_t base, std::uint64_t b) {
        for (; b != 0 && j + n < count; b &= b - 1) begins[n++] = round + base + static_cast<std::uint64_t>(std::countr_zero(b));
        if (n >= kGather) write();
      });
      write();
    }

    const std::uint32_t reached = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, count));
    if (abort) {
      for (std::uint32_t j = (done + 0xFF) & ~std::uint32_t{0xFF}; j < reached; j += 256) {
        if (abort->Progress(static_cast<int>(j), static_cast<int>(count))) {
          key_.count = 0;
          return 0;
        }
      }
    }
    done = reached;
    round += triples;
    inColour = state;
  }
  // Where the serial reading leaves the generator: after the last colour.
  rng_.Seek(count ? 3 * lastTriple + 6 : 0);
  most = 0.0f;
  for (const Chunk& ch : chunk) most = std::max(most, ch.most);
  return 1;
}
