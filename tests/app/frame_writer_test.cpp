#include "host/app/output/frame_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/app/base/app_error.h"

namespace {

using velumbra::FrameWriter;

TEST(FrameWriter, WritesInOrderAndReportsInOrder) {
  for (const bool background : {false, true}) {
    SCOPED_TRACE(background ? "background" : "inline");
    std::vector<int> order;
    std::vector<std::string> reported;
    {
      FrameWriter writer(background);
      for (int i = 0; i < 20; ++i) {
        writer.Submit([i, &order] {
          // Uneven work: a later frame must still wait for the earlier one.
          std::this_thread::sleep_for(std::chrono::microseconds((i % 3) * 300));
          order.push_back(i);
          return std::vector<std::string>{std::string("f").append(std::to_string(i)), std::string("ids").append(std::to_string(i))};
        });
        for (auto& s : writer.TakeWritten()) reported.push_back(s);
      }
      writer.Finish();
      for (auto& s : writer.TakeWritten()) reported.push_back(s);
    }
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    ASSERT_EQ(reported.size(), 40u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(reported[static_cast<size_t>(2 * i)], std::string("f").append(std::to_string(i)));
  }
}

TEST(FrameWriter, HoldsAtMostOneFrameBesidesTheOneWriting) {
  FrameWriter writer(true);
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  const auto job = [&] {
    ++started;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::vector<std::string>{};
  };
  writer.Submit(job);  // runs, and blocks
  while (started == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  writer.Submit(job);  // waits in the queue
  std::atomic<bool> thirdQueued{false};
  std::thread caller([&] {
    writer.Submit(job);  // must wait for room
    thirdQueued = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(thirdQueued);
  release = true;
  caller.join();
  writer.Finish();
  EXPECT_EQ(started, 3);
}

TEST(FrameWriter, AFailureStopsTheRunAndReachesTheCaller) {
  FrameWriter writer(true);
  std::atomic<int> ran{0};
  writer.Submit([&] {
    ++ran;
    throw velumbra::SystemError("cannot write f1: No space left on device");
    return std::vector<std::string>{};
  });
  // The failure comes back at the latest from Finish; frames queued after
  // it never run.
  bool reported = false;
  try {
    for (int i = 0; i < 5; ++i)
      writer.Submit([&] {
        ++ran;
        return std::vector<std::string>{"late"};
      });
    writer.Finish();
  } catch (const velumbra::SystemError& e) {
    reported = std::string(e.what()).find("No space left") != std::string::npos;
  }
  EXPECT_TRUE(reported);
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(writer.TakeWritten().empty());
}

}  // namespace
