// abort_check.h: how long work learns that it should stop. Whoever starts
// the work answers one question, "stop now?" (a command when a signal has
// come, an interactive program when the next change of settings comes), and
// every long loop asks it at short intervals: OpenEXR reads and writes
// between blocks of scanlines or runs of tiles, PNG and TIFF files between
// rows, loops over a frame's pixels every ABORT_STRIDE pixels, the filter
// once a row through its progress window's abort query. Once the answer is
// yes it stays yes, and the work ends with the Aborted() error (errors.h)
// without writing its output.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace kestrion {

// Pixels a loop over a frame handles between two questions: a millisecond
// or so of work.
inline constexpr size_t ABORT_STRIDE = size_t{1} << 18;

class AbortCheck {
 public:
  // A check that never stops the work.
  AbortCheck() = default;
  // `query` is asked on the thread that was handed the check; an empty one
  // never stops the work.
  explicit AbortCheck(std::function<bool()> query) : query(std::move(query)) {}
  AbortCheck(const AbortCheck&) = delete;
  AbortCheck& operator=(const AbortCheck&) = delete;

  // Asks the query, until it has once said yes.
  bool Requested() const;
  // Whether the query has said yes, without asking it again: for threads
  // that help the one the check was handed to.
  bool Stopped() const { return stopped.load(std::memory_order_acquire); }
  // Throws Aborted() when Requested().
  void ThrowIfRequested() const;
  // ThrowIfRequested at every ABORT_STRIDE-th index of a loop.
  void Poll(size_t index) const {
    if ((index & (ABORT_STRIDE - 1)) == 0) ThrowIfRequested();
  }

 private:
  std::function<bool()> query;
  mutable std::atomic<bool> stopped{false};
};

// The check of work that nobody stops.
const AbortCheck& NeverAbort();

// `values` grown to `count` elements of `value`, a slice at a time with a
// question between slices: the first touch of a large frame's planes (the
// kernel handing out their pages) takes a good part of a second.
template <typename T>
void ResizeInterruptibly(std::vector<T>& values, size_t count, const AbortCheck& abort,
                         const T& value = T()) {
  values.reserve(count);
  while (values.size() < count) {
    abort.ThrowIfRequested();
    values.resize(std::min(count, values.size() + 16 * ABORT_STRIDE), value);
  }
}

template <typename T>
std::vector<T> FilledInterruptibly(size_t count, const AbortCheck& abort, const T& value = T()) {
  std::vector<T> values;
  ResizeInterruptibly(values, count, abort, value);
  return values;
}

}  // namespace kestrion
