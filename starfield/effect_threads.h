// How many threads the effect's heavy loops (star generation, the star
// loop of a render pass) use.
//
// 0 runs the straightforward serial code, which is the reference the
// parallel code is tested against to the bit; n > 0 runs the parallel code
// on n threads; -1 (the default) on every core. For tests and benchmarks;
// a render uses the default.
#pragma once

void SetEffectThreads(int threads);
int EffectThreads();
