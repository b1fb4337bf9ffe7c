#include "host_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLine = 64;

std::size_t AlignmentOf(std::size_t bytes) { return bytes >= kHugePage ? kHugePage : kLine; }

}  // namespace

void* HostAllocateBlock(std::size_t bytes) noexcept {
  const std::size_t alignment = AlignmentOf(bytes);
  void* p = ::operator new(bytes ? bytes : 1, std::align_val_t{alignment}, std::nothrow);
  if (p && alignment == kHugePage) {
    // Whole huge pages only; a refusal (no transparent huge pages) leaves
    // ordinary pages, which work the same.
    const std::size_t whole = bytes / kHugePage * kHugePage;
    madvise(p, whole, MADV_HUGEPAGE);
  }
  return p;
}

void HostFreeBlock(void* block, std::size_t bytes) noexcept {
  if (!block) return;
  ::operator delete(block, std::align_val_t{AlignmentOf(bytes)}, std::nothrow);
}
