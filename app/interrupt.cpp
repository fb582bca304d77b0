#include "app/interrupt.h"

#include <csignal>

#include "app/errors.h"

namespace kestrion {

namespace {
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }
}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);
}

InterruptGuard::~InterruptGuard() { sigaction(SIGINT, &previous, nullptr); }

bool InterruptRequested() { return interrupted != 0; }

void ThrowIfInterrupted() {
  if (InterruptRequested()) throw Aborted();
}

}  // namespace kestrion
