// CheckAbortCallback: how a long operation reports progress and learns that
// the user asked it to stop.
#pragma once

#include "max_types.h"

class CheckAbortCallback {
 public:
  virtual ~CheckAbortCallback() = default;
  // Nonzero when the user has asked to stop.
  virtual BOOL Check() = 0;
  // Reports `done` of `total`; nonzero asks the caller to stop at once.
  virtual BOOL Progress(int done, int total) = 0;
  // Shows a title for the current stage; the host copies the text.
  virtual void SetTitle(const MCHAR* title) = 0;
};
