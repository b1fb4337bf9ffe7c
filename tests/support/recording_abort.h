// A CheckAbortCallback that records every call and can ask to stop.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "plugin/host.h"

class RecordingAbort : public CheckAbortCallback {
 public:
  // Progress answers nonzero on its call number `stopAtCall` (0-based);
  // -1 never stops.
  explicit RecordingAbort(int stopAtCall = -1) : stopAtCall_(stopAtCall) {}

  BOOL Check() override { return FALSE; }
  BOOL Progress(int done, int total) override {
    progress.emplace_back(done, total);
    return static_cast<int>(progress.size()) - 1 == stopAtCall_ ? TRUE : FALSE;
  }
  void SetTitle(const MCHAR* title) override { titles.emplace_back(title ? title : "(null)"); }

  std::vector<std::pair<int, int>> progress;
  std::vector<std::string> titles;

 private:
  int stopAtCall_;
};

// Never stops, records nothing: progress without allocating (for tests
// that count or fail allocations).
class QuietAbort : public CheckAbortCallback {
 public:
  BOOL Check() override { return FALSE; }
  BOOL Progress(int, int) override { return FALSE; }
  void SetTitle(const MCHAR*) override {}
};
