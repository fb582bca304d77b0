// stop_signals.cpp: the signal-waiting thread.
#include "studio/stop_signals.h"

#include <pthread.h>

#include <cstdlib>

namespace studio {

namespace {

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
// Sent by the destructor to wake the waiter; never delivered otherwise.
constexpr int WAKE_SIGNAL = SIGUSR2;

}  // namespace

StopSignals::StopSignals(std::function<void(int)> onStop) : stop(std::move(onStop)) {
  sigemptyset(&signals);
  for (int signal : STOP_SIGNALS) sigaddset(&signals, signal);
  sigaddset(&signals, WAKE_SIGNAL);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  waiter = std::thread([this] {
    int received = 0;
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      if (signal == WAKE_SIGNAL) return;
      if (++received > 1) std::_Exit(128 + signal);
      if (stop) stop(signal);
    }
  });
}

StopSignals::~StopSignals() {
  pthread_kill(waiter.native_handle(), WAKE_SIGNAL);
  waiter.join();
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace studio
