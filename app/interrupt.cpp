#include "app/interrupt.h"

#include <csignal>

#include "app/errors.h"

namespace kestrion {

namespace {
volatile std::sig_atomic_t interruptSignal = 0;

constexpr int HANDLED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int IGNORED_SIGNALS[] = {SIGPIPE, SIGXFSZ};

// The first signal wins: a SIGINT forwarded after a SIGTERM does not change
// the exit code.
extern "C" void OnInterrupt(int signal) {
  if (interruptSignal == 0) interruptSignal = signal;
}

// Records the handled signals and ignores the others from now on; the
// previous handling goes to `previous` when given.
void CatchSignals(struct sigaction* previous) {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  int slot = 0;
  for (const int signal : HANDLED_SIGNALS) {
    sigaction(signal, &action, previous ? &previous[slot++] : nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int signal : IGNORED_SIGNALS) {
    sigaction(signal, &ignore, previous ? &previous[slot++] : nullptr);
  }
}

}  // namespace

// A signal that came before the guard stays recorded: the command it
// interrupts still ends as interrupted.
InterruptGuard::InterruptGuard() { CatchSignals(previous); }

InterruptGuard::~InterruptGuard() {
  int slot = 0;
  for (const int signal : HANDLED_SIGNALS) sigaction(signal, &previous[slot++], nullptr);
  for (const int signal : IGNORED_SIGNALS) sigaction(signal, &previous[slot++], nullptr);
}

void CatchInterruptsUntilExit() { CatchSignals(nullptr); }

bool InterruptRequested() { return interruptSignal != 0; }

int InterruptSignal() { return interruptSignal; }

int InterruptExitCode(int signal) { return signal > 0 ? 128 + signal : EXIT_ABORTED; }

void ThrowIfInterrupted() {
  if (InterruptRequested()) throw CommandError(InterruptExitCode(InterruptSignal()), "aborted");
}

}  // namespace kestrion
