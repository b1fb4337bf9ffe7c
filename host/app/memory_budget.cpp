#include "host/app/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "host/app/base/app_error.h"
#include "host/app/farm/memory_estimate.h"
#include "host/app/base/quoting.h"

namespace velumbra {

namespace {

constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 62;

// A "Key:   123 kB" line of /proc/meminfo in bytes, or nullopt.
std::optional<std::uint64_t> MemInfoBytes(const char* key) {
  std::ifstream in("/proc/meminfo");
  std::string name;
  std::uint64_t kib = 0;
  std::string unit;
  while (in >> name >> kib) {
    std::getline(in, unit);
    if (name == key) return kib * 1024;
  }
  return std::nullopt;
}

// The bytes of address space the process maps now (/proc/self/statm).
std::uint64_t MappedBytes() {
  std::ifstream in("/proc/self/statm");
  std::uint64_t pages = 0;
  in >> pages;
  return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// A size as --memory-budget takes it, at least `bytes`: whole MiB or GiB.
std::string FormatBudget(std::uint64_t bytes) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20, kGiB = std::uint64_t{1} << 30;
  if (bytes >= kGiB) return std::to_string((bytes + kGiB - 1) / kGiB) + "G";
  return std::to_string((bytes + kMiB - 1) / kMiB) + "M";
}

}  // namespace

std::uint64_t ParseByteSize(std::string_view text, const std::string& where) {
  const auto bad = [&]() -> std::uint64_t {
    throw InputError(where + " " + Quoted(text) + ": expected a size in bytes, a whole number with an optional "
                     "suffix K, M, G or T (e.g. 4G, 512M)");
  };
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return bad();
  std::string_view suffix(end, static_cast<std::size_t>(text.data() + text.size() - end));
  if (suffix.size() == 2 && (suffix[1] == 'B' || suffix[1] == 'b')) suffix = suffix.substr(0, 1);
  int shift = 0;
  if (suffix.empty()) shift = 0;
  else if (suffix.size() == 1 && (suffix[0] == 'K' || suffix[0] == 'k')) shift = 10;
  else if (suffix.size() == 1 && (suffix[0] == 'M' || suffix[0] == 'm')) shift = 20;
  else if (suffix.size() == 1 && (suffix[0] == 'G' || suffix[0] == 'g')) shift = 30;
  else if (suffix.size() == 1 && (suffix[0] == 'T' || suffix[0] == 't')) shift = 40;
  else return bad();
  if (value > (kUnlimited >> shift)) return bad();
  return value << shift;
}

std::uint64_t AvailableMemory() {
  std::uint64_t available = MemInfoBytes("MemAvailable:").value_or(kUnlimited);
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t mapped = MappedBytes();
    const std::uint64_t left = limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0;
    available = std::min(available, left);
  }
  return available;
}

MemoryBudget ResolveMemoryBudget(const std::string& option) {
  if (!option.empty()) return {ParseByteSize(option, "--memory-budget"), "--memory-budget"};
  if (const char* env = std::getenv(kMemoryBudgetVariable); env && *env)
    return {ParseByteSize(env, kMemoryBudgetVariable), kMemoryBudgetVariable};
  return {AvailableMemory(), kMeasuredBudget};
}


void CheckMemoryBudget(std::uint64_t bytesNeeded, const MemoryBudget& budget, const std::string& what) {
  if (bytesNeeded <= budget.bytes) return;
  const std::string head = what + " needs about " + FormatBytes(bytesNeeded) + ", more than the memory budget of " +
                           FormatBytes(budget.bytes) + " (" + budget.source + ")";
  // The measured budget changes with what other programs hold: say so, and
  // how to get past it.
  if (budget.source == kMeasuredBudget)
    throw InputError(head + "; other programs hold the rest of the machine's memory: close some and run again, " +
                     "render a smaller frame, fewer stars or subdivisions, or give the render a budget of its own " +
                     "with --memory-budget SIZE (or " + kMemoryBudgetVariable + "), e.g. --memory-budget " +
                     FormatBudget(bytesNeeded) + ", if the machine has that much memory");
  throw InputError(head + "; render a smaller frame, fewer stars or subdivisions, or set --memory-budget (or " +
                   kMemoryBudgetVariable + ") higher if the machine has the memory");
}

}  // namespace velumbra
