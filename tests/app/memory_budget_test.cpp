#include "host/app/memory_budget.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/app/base/app_error.h"

namespace {

using velumbra::InputError;
using velumbra::ParseByteSize;

TEST(MemoryBudget, SizesAreWholeBytesWithBinarySuffixes) {
  const struct {
    const char* text;
    std::uint64_t bytes;
  } good[] = {
      {"0", 0},         {"100", 100},          {"64K", 64 << 10},          {"64k", 64 << 10},
      {"512M", 512u << 20}, {"4G", std::uint64_t{4} << 30}, {"2T", std::uint64_t{2} << 40},
      {"3GB", std::uint64_t{3} << 30}, {"4194304T", std::uint64_t{1} << 62},
  };
  for (const auto& c : good) EXPECT_EQ(ParseByteSize(c.text, "--memory-budget"), c.bytes) << c.text;
  for (const char* bad : {"", "-1", "1.5G", "G", "4Q", "4 G", "4GiB", "4194305T", "99999999999999999999"}) {
    try {
      ParseByteSize(bad, "--memory-budget");
      ADD_FAILURE() << bad << " was accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("--memory-budget \"", 0), 0u) << e.what();
    }
  }
}

TEST(MemoryBudget, TheEstimateIsRefusedOnlyBeyondTheBudget) {
  const velumbra::MemoryBudget budget{1000, "--memory-budget"};
  EXPECT_NO_THROW(velumbra::CheckMemoryBudget(1000, budget, "the render"));
  try {
    velumbra::CheckMemoryBudget(std::uint64_t{3} << 30, budget, "the render");
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("the render needs about 3.0 GiB, more than the memory budget of 1000 bytes "
                                          "(--memory-budget)",
                                          0),
              0u)
        << e.what();
  }
}

TEST(MemoryBudget, TheOptionWinsOverTheVariableWhichWinsOverTheMachine) {
  ::setenv(velumbra::kMemoryBudgetVariable, "2G", 1);
  EXPECT_EQ(velumbra::ResolveMemoryBudget("1G").bytes, std::uint64_t{1} << 30);
  EXPECT_EQ(velumbra::ResolveMemoryBudget("").bytes, std::uint64_t{2} << 30);
  EXPECT_EQ(velumbra::ResolveMemoryBudget("").source, velumbra::kMemoryBudgetVariable);
  ::setenv(velumbra::kMemoryBudgetVariable, "lots", 1);
  EXPECT_THROW(velumbra::ResolveMemoryBudget(""), InputError);
  ::unsetenv(velumbra::kMemoryBudgetVariable);
  EXPECT_EQ(velumbra::ResolveMemoryBudget("").source, "the memory available now");
}

// The machine's share is no more than an address-space limit leaves: a
// child process with ulimit -v reports less than the limit.
TEST(MemoryBudget, AnAddressSpaceLimitBoundsWhatIsAvailable) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps more address space than any limit this test can set";
#endif
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 30;
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit limit{kLimit, kLimit};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    const std::uint64_t available = velumbra::AvailableMemory();
    ::_exit(available < kLimit && available > 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
