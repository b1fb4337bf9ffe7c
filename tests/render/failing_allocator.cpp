#include "failing_allocator.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <malloc.h>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<std::int64_t> g_asked{0};
std::atomic<std::int64_t> g_failed{0};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};
std::int64_t g_failAt = FailingAllocations::kNever;
bool g_failRest = false;

void Measure(void* p, bool allocated) {
  if (!p || !g_armed.load(std::memory_order_acquire)) return;
  const auto bytes = static_cast<std::int64_t>(malloc_usable_size(p));
  if (!allocated) {
    g_live.fetch_sub(bytes);
    return;
  }
  const std::int64_t live = g_live.fetch_add(bytes) + bytes;
  for (std::int64_t peak = g_peak.load(); live > peak && !g_peak.compare_exchange_weak(peak, live);) {
  }
}

bool ShouldFail() {
  if (!g_armed.load(std::memory_order_acquire)) return false;
  const std::int64_t k = g_asked.fetch_add(1);
  const bool fail = k == g_failAt || (g_failRest && k > g_failAt);
  if (fail) g_failed.fetch_add(1);
  return fail;
}

void* Allocate(std::size_t size, std::size_t alignment) {
  if (ShouldFail()) return nullptr;
  if (size == 0) size = 1;
  // aligned_alloc wants a multiple of the alignment.
  void* p = alignment <= alignof(std::max_align_t)
                ? std::malloc(size)
                : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
  Measure(p, true);
  return p;
}

void Free(void* p) {
  Measure(p, false);
  std::free(p);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = Allocate(size, alignment);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

FailingAllocations::FailingAllocations(std::int64_t failAt, bool failRest) {
  g_failAt = failAt;
  g_failRest = failRest;
  g_asked = 0;
  g_failed = 0;
  g_live = 0;
  g_peak = 0;
  g_armed.store(true, std::memory_order_release);
}

FailingAllocations::~FailingAllocations() { g_armed.store(false, std::memory_order_release); }

std::int64_t FailingAllocations::asked() const { return g_asked.load(); }
std::int64_t FailingAllocations::failed() const { return g_failed.load(); }
std::int64_t FailingAllocations::peakBytes() const { return g_peak.load(); }

void* operator new(std::size_t n) { return AllocateOrThrow(n, 0); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n, 0); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return AllocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Free(p); }
