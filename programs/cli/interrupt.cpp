#include "cli/interrupt.h"

#include <csignal>

#include "shot/exit_codes.h"

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

}  // namespace

void CatchInterruptsUntilExit() {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : HANDLED_SIGNALS) sigaction(signal, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int signal : IGNORED_SIGNALS) sigaction(signal, &ignore, nullptr);
}

bool InterruptRequested() { return interruptSignal != 0; }

int InterruptSignal() { return interruptSignal; }

int InterruptExitCode(int signal) { return signal > 0 ? 128 + signal : EXIT_ABORTED; }

}  // namespace kestrion
