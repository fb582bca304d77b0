// inbox.h: the queue from the server's threads to the studio's thread.
//
// Server threads push the page's requests; the studio thread, the one that
// runs the module, the host and the platform, takes them in order. A run
// of drags of the same spinner is taken as its last one: each drag places
// the pointer relative to the press, so the last says all of them; so is a
// run of frame changes (the "frame" host command of a scrubbed slider). Closing
// (Ctrl-C) makes every take answer Quit from then on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "studio/requests.h"

namespace studio {

class Inbox {
 public:
  explicit Inbox(size_t capacity = 1024) : capacity(capacity) {}

  // Any thread. False, dropping it, when the inbox is full or closed.
  bool Push(Request request);
  // Any thread: what follows is Quit.
  void Close();

  // The studio thread: the next request, waiting for one.
  Request Take();
  // The studio thread: the next request, if one is there.
  std::optional<Request> TryTake();
  // Any thread: a request is waiting, or the inbox is closed. Cheap, for a
  // long piece of work that should give way (a render's abort query).
  bool Waiting() const { return waiting.load(std::memory_order_acquire); }

 private:
  Request PopLocked();

  const size_t capacity;
  mutable std::mutex mutex;
  std::condition_variable ready;
  std::deque<Request> queue;
  bool closed = false;
  std::atomic<bool> waiting{false};
};

}  // namespace studio
