// stop_signals.h: Ctrl-C and its kin as a request to stop.
//
// SIGINT, SIGTERM and SIGHUP are blocked in the constructing thread and so
// in every thread started after it (the server's), and a thread of its own
// waits for them: the first calls `stop` there; a second one, should the
// stop hang, ends the process at once with 128 + the signal's number.
// Construct it before any other thread is started.
#pragma once

#include <csignal>
#include <functional>
#include <thread>

namespace studio {

class StopSignals {
 public:
  explicit StopSignals(std::function<void(int signal)> stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  sigset_t signals;
  std::thread waiter;
  std::function<void(int)> stop;
};

}  // namespace studio
