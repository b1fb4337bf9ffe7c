#include "host/app/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

namespace {

using velumbra::InterruptGuard;
using velumbra::ProgressReporter;

// Output captured in memory; Text() flushes and returns everything so far.
class Capture {
 public:
  Capture() : file_(open_memstream(&buffer_, &size_)) {}
  ~Capture() {
    std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* File() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

struct FakeClock {
  double now = 100.0;
  ProgressReporter::Clock Fn() {
    return [this] { return now; };
  }
};

TEST(Progress, LinesStylePrintsEachTitleOnItsOwnLine) {
  Capture out;
  {
    ProgressReporter p(ProgressReporter::Style::Lines, out.File());
    p.StartFrame(12, 0, 1);
    p.SetTitle("Qe_Velumbra: Creating Star Field");
    for (int i = 0; i < 1000; i += 256) EXPECT_EQ(p.Progress(i, 1000), FALSE);
    p.SetTitle("Qe_Velumbra: Rendering Star Field");
    p.SetTitle(nullptr);  // ignored, not a crash
    p.FinishFrame();
  }
  EXPECT_EQ(out.Text(), "Qe_Velumbra: Creating Star Field\nQe_Velumbra: Rendering Star Field\n");
}

TEST(Progress, LinesStyleNamesTheFrameWhenThereAreSeveral) {
  Capture out;
  ProgressReporter p(ProgressReporter::Style::Lines, out.File());
  p.StartFrame(-4, 0, 2);
  p.SetTitle("A");
  p.StartFrame(6, 1, 2);
  p.SetTitle("B");
  EXPECT_EQ(out.Text(), "frame -4 (1/2)\nA\nframe 6 (2/2)\nB\n");
}

TEST(Progress, QuietPrintsNothing) {
  Capture out;
  {
    ProgressReporter p(ProgressReporter::Style::Quiet, out.File());
    p.StartFrame(1, 0, 3);
    p.SetTitle("title");
    p.Progress(5, 10);
    p.FinishFrame();
  }
  EXPECT_EQ(out.Text(), "");
}

TEST(Progress, BarShowsFrameTitleFractionAndTimeLeft) {
  Capture out;
  FakeClock clock;
  ProgressReporter p(ProgressReporter::Style::Bar, out.File(), clock.Fn(), 120);
  p.StartFrame(10, 0, 2);  // first of two frames, at t = 100 s
  clock.now += 2.0;
  p.FinishFrame();
  p.StartFrame(11, 1, 2);
  p.SetTitle("Qe_Velumbra: Rendering Star Field");
  clock.now += 1.0;
  p.Progress(500, 1000);  // 1.5 of 2 frames done after 3 s: 1 s left
  const std::string text = out.Text();
  const std::string last = text.substr(text.rfind('\r') + 1);
  EXPECT_NE(last.find("frame 11 (2/2)"), std::string::npos) << last;
  EXPECT_NE(last.find("Qe_Velumbra: Rendering Star Field"), std::string::npos) << last;
  EXPECT_NE(last.find("[############------------]"), std::string::npos) << last;
  EXPECT_NE(last.find(" 50%"), std::string::npos) << last;
  EXPECT_NE(last.find("0:01 left"), std::string::npos) << last;
  // The finished first frame kept its own line.
  EXPECT_NE(text.find("frame 10 (1/2)"), std::string::npos);
  EXPECT_NE(text.find("done in 0:02\033[K\n"), std::string::npos) << text;
}

TEST(Progress, BarRedrawsAtMostTenTimesASecond) {
  Capture out;
  FakeClock clock;
  ProgressReporter p(ProgressReporter::Style::Bar, out.File(), clock.Fn(), 100);
  p.StartFrame(1, 0, 1);
  // 10000 calls over 2 simulated seconds.
  for (int i = 0; i < 10000; ++i) {
    p.Progress(i, 10000);
    clock.now += 0.0002;
  }
  const std::string text = out.Text();
  const long redraws = std::count(text.begin(), text.end(), '\r');
  EXPECT_GE(redraws, 15);
  EXPECT_LE(redraws, 21);
}

// The line of the first redraw after a title.
std::string FirstBarLine(int columns, const std::string& title) {
  Capture out;
  FakeClock clock;
  ProgressReporter p(ProgressReporter::Style::Bar, out.File(), clock.Fn(), columns);
  p.StartFrame(12, 3, 30);
  p.SetTitle(title.c_str());
  const std::string text = out.Text();
  return text.substr(1, text.find("\033[K") - 1);
}

TEST(Progress, BarGivesWayBeforeTheStageName) {
  const std::string stage = "Qe_Velumbra: Rendering Star Field";
  for (int columns : {40, 50, 55, 60, 70, 80, 100, 200}) {
    SCOPED_TRACE(columns);
    const std::string line = FirstBarLine(columns, stage);
    EXPECT_LE(line.size(), size_t(columns - 1)) << line;
    // The whole stage name wherever the frame counter and the name fit.
    if (columns >= 55) {
      EXPECT_NE(line.find(stage), std::string::npos) << line;
    }
    if (columns >= 100) {
      EXPECT_NE(line.find("[------------------------]"), std::string::npos) << line;
    }
  }
  // At 80 columns a bar still shows beside the whole name.
  EXPECT_NE(FirstBarLine(80, stage).find("[--"), std::string::npos);
  // A title longer than any terminal is cut, the line still fits.
  const std::string line = FirstBarLine(60, "A very long title that could never fit in sixty columns with the bar");
  EXPECT_LE(line.size(), 59u) << line;
  EXPECT_EQ(line.rfind("frame 12 (4/30) A very long title", 0), 0u) << line;
}

TEST(Progress, TimeLeftUnknownUntilSomethingIsDone) {
  Capture out;
  FakeClock clock;
  ProgressReporter p(ProgressReporter::Style::Bar, out.File(), clock.Fn(), 100);
  p.StartFrame(1, 0, 1);
  p.Progress(0, 100);
  EXPECT_NE(out.Text().find("--:-- left"), std::string::npos) << out.Text();
}

TEST(Progress, FormatDuration) {
  EXPECT_EQ(velumbra::FormatDuration(0), "0:00");
  EXPECT_EQ(velumbra::FormatDuration(7.4), "0:07");
  EXPECT_EQ(velumbra::FormatDuration(59.6), "1:00");
  EXPECT_EQ(velumbra::FormatDuration(754), "12:34");
  EXPECT_EQ(velumbra::FormatDuration(3723), "1:02:03");
  EXPECT_EQ(velumbra::FormatDuration(-1), "--:--");
  EXPECT_EQ(velumbra::FormatDuration(1.0 / 0.0), "--:--");
}

volatile std::sig_atomic_t g_customHandlerCalls = 0;
extern "C" void CustomHandler(int) { g_customHandlerCalls = g_customHandlerCalls + 1; }

TEST(Interrupt, CtrlCStopsTheNextProgressAndCheck) {
  std::signal(SIGINT, CustomHandler);
  {
    InterruptGuard guard;
    Capture out;
    ProgressReporter p(ProgressReporter::Style::Quiet, out.File());
    p.StartFrame(0, 0, 1);
    EXPECT_EQ(p.Progress(1, 10), FALSE);
    EXPECT_EQ(p.Check(), FALSE);
    std::raise(SIGINT);
    EXPECT_NE(p.Progress(2, 10), FALSE);
    EXPECT_NE(p.Check(), FALSE);
    EXPECT_TRUE(p.Interrupted());
    // The handler stays for a second Ctrl-C: it removes the temporaries
    // under way before it ends the process (test_app_image:
    // AtomicFile.ASecondSignalRemovesTheTemporaryBeforeTheProcessEnds).
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL);
    EXPECT_NE(now.sa_handler, CustomHandler);
  }
  // The guard put the previous handler back.
  EXPECT_EQ(g_customHandlerCalls, 0);
  std::raise(SIGINT);
  EXPECT_EQ(g_customHandlerCalls, 1);
  std::signal(SIGINT, SIG_DFL);
  // A new guard starts without a pending request.
  InterruptGuard guard;
  EXPECT_FALSE(InterruptGuard::Requested());
}

}  // namespace
