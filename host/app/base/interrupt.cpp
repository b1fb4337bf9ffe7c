#include "host/app/base/interrupt.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace velumbra {

namespace {

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_signal = 0;

// The temporaries to remove on a hard stop. A slot is free (0), being
// filled (1) or holds a path (2); the handler only reads slots in state 2
// and only calls unlink, which is async-signal-safe.
constexpr int kSlots = 16;
struct TemporarySlot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
TemporarySlot g_temporaries[kSlots];

void RemoveTemporaries() noexcept {
  for (TemporarySlot& slot : g_temporaries)
    if (slot.state.load(std::memory_order_acquire) == 2) ::unlink(slot.path);
}

extern "C" void OnStopSignal(int signal) {
  if (g_signal == 0) {
    g_signal = signal;
    return;
  }
  // The second request: stop now, as the default action would, without
  // leaving half-written files.
  const int saved = errno;
  RemoveTemporaries();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  errno = saved;
  ::raise(signal);
}

}  // namespace

InterruptGuard::InterruptGuard() {
  g_signal = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int s : kStopSignals) sigaddset(&action.sa_mask, s);  // one handler at a time
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &previous_[i]);
}

InterruptGuard::~InterruptGuard() {
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
}

bool InterruptGuard::Requested() noexcept { return g_signal != 0; }

int InterruptGuard::Signal() noexcept { return g_signal; }

void InterruptGuard::Clear() noexcept { g_signal = 0; }

int RegisterTemporary(const char* path) noexcept {
  const std::size_t n = std::strlen(path);
  if (n >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_temporaries[i].state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      std::memcpy(g_temporaries[i].path, path, n + 1);
      g_temporaries[i].state.store(2, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void UnregisterTemporary(int slot) noexcept {
  if (slot >= 0 && slot < kSlots) g_temporaries[slot].state.store(0, std::memory_order_release);
}

}  // namespace velumbra
