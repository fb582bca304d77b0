// interrupt.h: Ctrl-C, SIGTERM and SIGHUP during a command. While an
// InterruptGuard lives, each of them only records which signal came; every
// long loop polls the record (the filter through its progress window's
// abort answer, OpenEXR reads and writes between blocks of scanlines or
// runs of tiles, PNG and TIFF files between rows, loops over a frame's
// pixels every INTERRUPT_STRIDE pixels, the demo ray caster once per row)
// and the command then ends as "aborted" without writing its output, with
// the exit code of the signal: 130 (SIGINT), 143 (SIGTERM), 129 (SIGHUP). SIGPIPE and SIGXFSZ are
// ignored meanwhile, so a closed pipe or a full file-size limit becomes a write error, not a silent
// death that would leave a temporary file behind.
#pragma once

#include <signal.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kestrion {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();  // restores the previous handling of every signal
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  static constexpr int HANDLED = 3;
  static constexpr int IGNORED = 2;
  struct sigaction previous[HANDLED + IGNORED]{};
};

// Records SIGINT, SIGTERM and SIGHUP (and ignores SIGPIPE and SIGXFSZ) for
// the rest of the process: a signal that comes once a command has committed
// its output, while the program winds down, must not kill a finished run.
void CatchInterruptsUntilExit();

bool InterruptRequested();
// The signal that interrupted the command; 0 when none has.
int InterruptSignal();
// The exit code a command interrupted by `signal` ends with: 128 + signal.
int InterruptExitCode(int signal);
// Throws the "aborted" CommandError with the signal's exit code once a
// signal has come.
void ThrowIfInterrupted();

// Pixels a loop over a frame handles between two looks at the record: a
// millisecond or so of work.
inline constexpr size_t INTERRUPT_STRIDE = size_t{1} << 18;

// ThrowIfInterrupted at every INTERRUPT_STRIDE-th index of a loop.
inline void PollInterrupt(size_t index) {
  if ((index & (INTERRUPT_STRIDE - 1)) == 0) ThrowIfInterrupted();
}

// `values` grown to `count` elements of `value`, a slice at a time with a
// look at the record between slices: the first touch of a large frame's
// planes (the kernel handing out their pages) takes a good part of a
// second.
template <typename T>
void ResizeInterruptibly(std::vector<T>& values, size_t count, const T& value = T()) {
  values.reserve(count);
  while (values.size() < count) {
    ThrowIfInterrupted();
    values.resize(std::min(count, values.size() + 16 * INTERRUPT_STRIDE), value);
  }
}

template <typename T>
std::vector<T> FilledInterruptibly(size_t count, const T& value = T()) {
  std::vector<T> values;
  ResizeInterruptibly(values, count, value);
  return values;
}

}  // namespace kestrion
