#include "render_threads.h"

#include <atomic>

namespace {
std::atomic<int> g_granted{0};
}  // namespace

void GrantRenderThreads(int threads) { g_granted.store(threads < 0 ? 0 : threads); }

int RenderThreadsGranted() { return g_granted.load(); }
