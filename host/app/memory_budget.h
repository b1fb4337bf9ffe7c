// The memory a run may use, and the check of a render's estimate against it
// before anything large is allocated: a render that cannot fit is refused
// as bad input (exit 2) with the estimate, instead of failing halfway or
// taking the machine's memory from everything else.
//
// The budget is, in order: the --memory-budget option, the environment
// variable VELUMBRA_MEMORY_BUDGET, else what the machine can give now: the
// kernel's MemAvailable, and no more than the process's address-space limit
// (ulimit -v) leaves beyond what the process maps already. Sizes are bytes
// with an optional binary suffix: 4G, 512M, 64K, 1073741824 (K = 1024).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velumbra {

inline constexpr const char* kMemoryBudgetVariable = "VELUMBRA_MEMORY_BUDGET";
// The source of a budget neither the option nor the variable gave.
inline constexpr const char* kMeasuredBudget = "the memory available now";

struct MemoryBudget {
  std::uint64_t bytes = 0;
  std::string source;  // for messages: "--memory-budget", "VELUMBRA_MEMORY_BUDGET", "the memory available"
};

// "4G", "512M", "64K", "100" in bytes. InputError naming `where` for
// anything else (a fraction, a negative number, an unknown suffix, more
// than 2^62 bytes).
std::uint64_t ParseByteSize(std::string_view text, const std::string& where);

// The budget in force; `option` is --memory-budget as given (empty: not
// given). InputError for a malformed option or variable.
MemoryBudget ResolveMemoryBudget(const std::string& option);

// What the machine can give now (see above); 2^62 when nothing says.
std::uint64_t AvailableMemory();

// Throws InputError when `bytesNeeded` is more than the budget: "<what>
// needs about N MiB, more than the memory budget of M MiB (<source>); ...",
// and what to do (for the measured budget: free memory, or give a budget,
// with a size that would do).
void CheckMemoryBudget(std::uint64_t bytesNeeded, const MemoryBudget& budget, const std::string& what);

}  // namespace velumbra
