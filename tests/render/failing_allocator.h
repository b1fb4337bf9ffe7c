// Allocation failures on demand, for the test binary that links
// failing_allocator.cpp (it replaces the global operator new and delete).
//
// While a FailingAllocations is alive, allocations through operator new are
// counted from 0 on every thread; allocation number `failAt` fails (throws
// std::bad_alloc, or gives null for the nothrow forms), and with `failRest`
// so does every later one; the bytes they hold are measured. Outside its
// life every allocation is served.
// malloc itself (the C library, OpenMP's runtime) is not affected.
#pragma once

#include <cstdint>

class FailingAllocations {
 public:
  static constexpr std::int64_t kNever = INT64_MAX;
  explicit FailingAllocations(std::int64_t failAt, bool failRest = false);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Allocations asked for so far in this life, failed ones included.
  std::int64_t asked() const;
  // Allocations failed so far in this life.
  std::int64_t failed() const;
  // The most bytes allocated through operator new in this life and not yet
  // freed (blocks as the C library sizes them; freeing a block allocated
  // before counts against it).
  std::int64_t peakBytes() const;
};
