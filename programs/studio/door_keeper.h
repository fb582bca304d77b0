// door_keeper.h: watches the connections of the studio's server that have
// not passed its access rules, and shuts down those that hold a thread or a
// place in civetweb's queue for nothing, so that other local clients cannot
// lock the person out: a queued connection with half a request header at
// once; of those with nothing unread, the oldest once more than
// STRANGERS_KEPT of them are older than STRANGER_GRACE, and every one older
// than REQUEST_DEADLINE. civetweb then ends them on their threads.
//
// It finds the connections among the process's descriptors (those accepted
// on the server's port) and tells them by their peer's port; the server
// names the admitted ones as they pass the rules and forgets them as they
// close. Admit and Forget may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

namespace studio {

constexpr int STRANGER_GRACE_MS = 250;
constexpr int STRANGERS_KEPT = 8;

class DoorKeeper {
 public:
  DoorKeeper() = default;
  DoorKeeper(const DoorKeeper&) = delete;
  DoorKeeper& operator=(const DoorKeeper&) = delete;
  ~DoorKeeper() { Stop(); }

  // Starts watching the connections accepted on `port`; connections older
  // than `requestDeadlineMs` that were never admitted are closed.
  void Start(uint16_t port, int requestDeadlineMs, size_t maxRequestBytes);
  // Stops watching; returns once the watching thread has ended.
  void Stop();
  void Admit(uint16_t peerPort);
  void Forget(uint16_t peerPort);

 private:
  void Watch();

  uint16_t port = 0;
  int requestDeadlineMs = 0;
  size_t maxRequestBytes = 0;
  std::mutex mutex;
  std::condition_variable wake;
  // The peer ports of the connections that passed the access rules.
  std::set<uint16_t> admitted;
  bool closing = false;
  std::thread watcher;
};

}  // namespace studio
