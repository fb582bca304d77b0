// interrupt.h: Ctrl-C during a command. While an InterruptGuard lives, SIGINT
// only sets a flag; long loops poll it (the filter through its progress
// window's abort answer, the demo ray caster once per row) and the command
// then ends as "aborted" without writing its output.
#pragma once

#include <signal.h>

namespace kestrion {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();  // restores the previous SIGINT handling
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous {};
};

bool InterruptRequested();
// Throws Aborted() when the user has pressed Ctrl-C.
void ThrowIfInterrupted();

}  // namespace kestrion
