// Random: the host's seeded generator.
//
// Counter-based: draw k (counting from 0 after srand) of seed s is a pure
// function of (s, k), the SplitMix64 finaliser of a per-seed stream key and
// the counter. The sequence is therefore the same on every platform and any
// draw can be reached in O(1) with Seek. rand() returns 24 bits, so that
// every result and s_rand_max convert to float exactly.
#pragma once

#include <cstdint>

class Random {
 public:
  static constexpr int s_rand_max = 0xFFFFFF;

  Random() { srand(0); }

  void srand(unsigned int seed) {
    key_ = Mix<std::uint64_t>(0x6A09E667F3BCC909ull ^ (static_cast<std::uint64_t>(seed) * kGamma));
    counter_ = 0;
  }

  // The next draw, 0..s_rand_max.
  int rand() { return Draw(counter_++); }

  // Draw k of the current seed, without moving the counter.
  int Draw(std::uint64_t k) const { return static_cast<int>(DrawBits(k)); }

#pragma GCC diagnostic push
  // Inlined always, so a vector argument never crosses a call: GCC's note
  // that passing 32-byte vectors differs with AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
  // Draw k as the unsigned 64-bit value it is taken from (0..s_rand_max),
  // for k a std::uint64_t or a vector of them (GCC vector extensions): each
  // lane gets exactly the scalar draw, so code that evaluates many draws at
  // once gives the same numbers.
  template <class U>
  [[gnu::always_inline]] U DrawBits(U k) const {
    return BitsAt(StateOf(k));
  }

  // The same draw in two steps, for code that walks the stream: the state
  // draw k is taken from, and the draw of a state. Draw k + i is taken from
  // StateOf(k) + i x kStep (arithmetic modulo 2^64), so consecutive draws
  // cost an addition instead of a multiplication.
  static constexpr std::uint64_t kStep = 0x9E3779B97F4A7C15ull;
  template <class U>
  [[gnu::always_inline]] U StateOf(U k) const {
    return key_ + (k + 1) * kStep;
  }
  template <class U>
  [[gnu::always_inline]] static U BitsAt(U state) {
    return Mix(state) >> 40;
  }
#pragma GCC diagnostic pop

  // Position of the next draw (number of draws since srand).
  std::uint64_t Tell() const { return counter_; }
  void Seek(std::uint64_t k) { counter_ = k; }

 private:
  static constexpr std::uint64_t kGamma = kStep;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
  template <class U>
  [[gnu::always_inline]] static constexpr U Mix(U z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
#pragma GCC diagnostic pop

  std::uint64_t key_ = 0;
  std::uint64_t counter_ = 0;
};
