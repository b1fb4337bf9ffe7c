#include "starfield/effect_threads.h"

#include <omp.h>

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> g_threads{-1};
}  // namespace

void SetEffectThreads(int threads) { g_threads = threads < -1 ? -1 : threads; }

int EffectThreads() {
  const int t = g_threads;
  return t < 0 ? std::max(1, omp_get_num_procs()) : t;
}
