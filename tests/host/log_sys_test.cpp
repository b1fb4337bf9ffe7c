// The host's log: entries kept in order with their type, title and
// formatted message until the host takes them.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "plugin/host.h"

namespace {

TEST(HostLog, KeepsEntriesInOrderUntilTaken) {
  LogSys* log = GetHostLog();
  log->Take();
  log->LogEntry(SYSLOG_ERROR, NO_DIALOG, "Qe_Velumbra", "not enough memory for %u stars", 10000000u);
  log->LogEntry(SYSLOG_WARN, DISPLAY_DIALOG, "Other", "%s on %d threads", "drawn", 2);
  EXPECT_EQ(log->Count(), 2u);
  const std::vector<LogRecord> entries = log->Take();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, SYSLOG_ERROR);
  EXPECT_EQ(entries[0].title, "Qe_Velumbra");
  EXPECT_EQ(entries[0].message, "not enough memory for 10000000 stars");
  EXPECT_EQ(entries[1].type, SYSLOG_WARN);
  EXPECT_EQ(entries[1].message, "drawn on 2 threads");
  EXPECT_EQ(log->Count(), 0u);
  EXPECT_TRUE(log->Take().empty());
}

TEST(HostLog, NullTextAndLongMessagesAreSafe) {
  LogSys* log = GetHostLog();
  log->Take();
  log->LogEntry(SYSLOG_INFO, NO_DIALOG, nullptr, nullptr);
  const std::string longText(10000, 'x');
  log->LogEntry(SYSLOG_ERROR, NO_DIALOG, "t", "%s", longText.c_str());
  const std::vector<LogRecord> entries = log->Take();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].title, "");
  EXPECT_EQ(entries[0].message, "");
  EXPECT_EQ(entries[1].message, std::string(4095, 'x'));
}

TEST(HostLog, EntriesFromManyThreadsAreAllKept) {
  LogSys* log = GetHostLog();
  log->Take();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([log, t] {
      for (int i = 0; i < 500; ++i) log->LogEntry(SYSLOG_INFO, NO_DIALOG, "worker", "%d:%d", t, i);
    });
  for (std::thread& t : threads) t.join();
  const std::vector<LogRecord> entries = log->Take();
  ASSERT_EQ(entries.size(), 2000u);
  // Each thread's entries keep their own order.
  std::vector<int> next(4, 0);
  for (const LogRecord& r : entries) {
    const int t = r.message[0] - '0';
    EXPECT_EQ(r.message, std::to_string(t) + ":" + std::to_string(next[t]++));
  }
}

TEST(RenderThreadGrant, NothingGrantedUntilTheHostGrants) {
  EXPECT_EQ(RenderThreadsGranted(), 0);
  GrantRenderThreads(6);
  EXPECT_EQ(RenderThreadsGranted(), 6);
  GrantRenderThreads(-1);
  EXPECT_EQ(RenderThreadsGranted(), 0);
}

}  // namespace
