// Stop requests for the velumbra command: while an InterruptGuard lives,
// SIGINT (Ctrl-C), SIGTERM and SIGHUP only record that the work should stop;
// the work in hand looks at Requested() at its next safe point (the effect's
// Progress and Check, between the writes of a file) and stops there,
// publishing nothing half-done. The command then exits with 128 + the
// signal's number (130, 143, 129).
//
// A second signal while the first is being honoured ends the process at
// once, as the user asked; the temporary files registered with
// RegisterTemporary (AtomicFile's) are removed first, so that no partial
// file stays behind on that path either.
#pragma once

#include <signal.h>

namespace velumbra {

// Installs the handlers for its lifetime (sigaction) and restores the
// previous actions when it dies. One at a time.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // True once a stop signal arrived since the newest guard was made (or Clear).
  static bool Requested() noexcept;
  // The signal that asked to stop (SIGINT, SIGTERM, SIGHUP), or 0.
  static int Signal() noexcept;
  static void Clear() noexcept;

 private:
  struct sigaction previous_[3] {};
};

// A file to remove should a signal end the process: returns a slot for
// UnregisterTemporary, or -1 when all slots are taken (the file is then
// only removed on the paths the program itself controls). `path` is copied;
// it must be shorter than PATH_MAX.
int RegisterTemporary(const char* path) noexcept;
void UnregisterTemporary(int slot) noexcept;

}  // namespace velumbra
