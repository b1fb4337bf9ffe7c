// Ctrl-C for the velumbra command: while an InterruptGuard lives, SIGINT only
// records that the user asked to stop; the work in hand looks at Requested()
// at its next safe point (the effect's Progress and Check, between the
// writes of a file) and stops there, publishing nothing half-done.
#pragma once

#include <signal.h>

namespace velumbra {

// Installs the SIGINT handler for its lifetime (sigaction) and restores the
// previous action when it dies. One at a time.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // True once SIGINT arrived since the newest guard was made (or Clear).
  static bool Requested() noexcept;
  static void Clear() noexcept;

 private:
  struct sigaction previous_ {};
};

}  // namespace velumbra
