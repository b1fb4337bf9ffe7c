#include "host/app/interrupt.h"

#include <csignal>

namespace velumbra {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: the first Ctrl-C asks the render to stop; a second one,
  // meeting the default action, ends the process.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, &previous_);
}

InterruptGuard::~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

bool InterruptGuard::Requested() noexcept { return g_interrupted != 0; }

void InterruptGuard::Clear() noexcept { g_interrupted = 0; }

}  // namespace velumbra
