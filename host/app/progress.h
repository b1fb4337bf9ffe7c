// Progress display and Ctrl-C for the velumbra command.
//
// ProgressReporter is the CheckAbortCallback the command hands the effect.
// Three styles:
//   Bar    (stderr is a terminal): one line per frame, redrawn in place at
//          most ten times a second: the frame, frames done of the total, the
//          effect's current title, a bar of the Progress fraction, and an
//          estimate of the time left for the whole render;
//   Lines  (stderr is a file or a pipe): each title the effect shows, on a
//          line of its own, and no bar (logs stay readable);
//   Quiet  (--quiet): nothing at all.
// Ctrl-C, while an InterruptGuard lives, makes the next Progress and Check
// answer nonzero in every style; the effect then stops and the command
// exits with status 130 without writing. A second Ctrl-C ends the process
// at once (the default action is back after the first).
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "host/app/base/interrupt.h"
#include "host/sdk/check_abort.h"

namespace velumbra {

class ProgressReporter final : public CheckAbortCallback {
 public:
  enum class Style { Bar, Lines, Quiet };
  // Seconds on a monotonic clock; replaceable for tests.
  using Clock = std::function<double()>;

  // Quiet when asked; otherwise Bar when `out` is a terminal, else Lines.
  static Style StyleFor(bool quiet, std::FILE* out);

  // `columns`: the width of the bar line; 0 asks the terminal (80 when it
  // cannot tell).
  ProgressReporter(Style style, std::FILE* out, Clock clock = {}, int columns = 0);
  ~ProgressReporter() override;
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // Frame `frame` is the index-th (0-based) of `count` frames to render.
  void StartFrame(int frame, int index, int count);
  // Completes the frame's bar (100 %, the time it took) and ends its line.
  void FinishFrame();
  // Ends an open bar line, e.g. before an error message or after Ctrl-C.
  void EndLine();

  BOOL Check() override;
  BOOL Progress(int done, int total) override;
  void SetTitle(const MCHAR* title) override;

  bool Interrupted() const { return InterruptGuard::Requested(); }

 private:
  void Draw();
  std::string BarLine(bool finished) const;

  Style style_;
  std::FILE* out_;
  Clock clock_;
  int columns_;
  std::string title_;
  int frame_ = 0;
  int index_ = 0;
  int count_ = 1;
  double fraction_ = 0.0;     // of the current stage, 0..1
  double renderStart_ = -1;   // clock at the first frame's start
  double frameStart_ = 0;
  double lastDraw_ = -1e300;
  bool lineOpen_ = false;
};

// "0:07", "12:34", "1:02:03".
std::string FormatDuration(double seconds);

}  // namespace velumbra
