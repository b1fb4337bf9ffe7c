// Memory the system refuses: the effect cannot return an error from its
// pass, so it writes to the host's log; the command fails the frame with
// that message and writes nothing.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "cli/run_command.h"
#include "support/temp_dir.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Runs velumbra in `cwd` with its address space limited to `bytes`.
CommandResult RunLimited(const std::vector<std::string>& args, const std::filesystem::path& cwd, rlim_t bytes) {
  struct rlimit saved {};
  ::getrlimit(RLIMIT_AS, &saved);
  // The limit is inherited at fork; the test process keeps its own.
  struct rlimit limit = saved;
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_AS, &limit);
  Command command(args, cwd, cwd);
  ::setrlimit(RLIMIT_AS, &saved);
  return command.Wait();
}

TEST(MemoryLimits, StarsThatDoNotFitFailTheFrameAndWriteNothing) {
  if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
  TempDir dir;
  // An earlier render's file stays as it was.
  { std::ofstream(dir.Path() / "big.png") << "earlier"; }
  const CommandResult r =
      // The budget set aside: this is the effect's own failure, logged to the host.
      RunLimited({"render", "--set", "starscount=10000000", "-o", "big.png", "-q", "--memory-budget", "100G"},
                 dir.Path(), rlim_t{200} << 20);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("not enough memory for 10000000 stars"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(dir.Path() / "big.png"), "earlier");
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
