// The host's allocator for large blocks: star arrays, frames, G-buffers.
//
// Fresh memory is expensive where pages are 4 KB: the first touch of every
// page is a fault, about 2.6 ms a megabyte here. Blocks of 2 MB and more are
// aligned to 2 MB and offered to the kernel for transparent huge pages
// (madvise MADV_HUGEPAGE; ignored where the kernel does not offer them), so
// a 240 MB array faults in about 120 times instead of 60,000. Plug-ins ask
// the host for such blocks rather than calling the operating system.
//
// Blocks come from the C++ allocation functions (the aligned nothrow
// operator new), so a program that replaces those sees every block.
#pragma once

#include <cstddef>
#include <new>

// A block of at least `bytes` bytes (its contents undefined), aligned to
// 64 bytes, or to 2 MB from 2 MB on; null when it cannot be had (never
// throws). `bytes` 0 gives a valid block of its own.
void* HostAllocateBlock(std::size_t bytes) noexcept;
// Frees a block of HostAllocateBlock with the size it was asked for; null
// is ignored.
void HostFreeBlock(void* block, std::size_t bytes) noexcept;

// An allocator for standard containers over host blocks (throws
// std::bad_alloc, as containers expect).
template <typename T>
struct HostAllocator {
  using value_type = T;
  HostAllocator() noexcept = default;
  template <typename U>
  HostAllocator(const HostAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* p = HostAllocateBlock(n * sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept { HostFreeBlock(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const HostAllocator<U>&) const noexcept {
    return true;
  }
};

// An owned array of n trivially copyable elements in a host block, not
// initialised. Empty (null) until Allocate succeeds.
template <typename T>
class HostArray {
 public:
  HostArray() = default;
  ~HostArray() { Reset(); }
  HostArray(const HostArray&) = delete;
  HostArray& operator=(const HostArray&) = delete;

  // Replaces the array with one of n elements; false (and empty) when it
  // cannot be had.
  bool Allocate(std::size_t n) noexcept {
    Reset();
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) return false;
    data_ = static_cast<T*>(HostAllocateBlock(n * sizeof(T)));
    if (!data_) return false;
    size_ = n;
    return true;
  }
  void Reset() noexcept {
    HostFreeBlock(data_, size_ * sizeof(T));
    data_ = nullptr;
    size_ = 0;
  }

  T* get() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  T& operator[](std::size_t i) const noexcept { return data_[i]; }
  explicit operator bool() const noexcept { return data_ != nullptr; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
};
