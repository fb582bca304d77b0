// door_keeper.cpp: the studio server's watch over connections that have
// not passed its access rules.
#include "studio/door_keeper.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace studio {

namespace {

// How often the door keeper looks at the connections.
constexpr auto DOOR_INTERVAL = std::chrono::milliseconds(50);

// A connection to the server, as the door keeper sees it.
struct Visitor {
  int fd;
  uint16_t peerPort;
};

// The peer's port when `fd` is a connection accepted on `port`.
std::optional<uint16_t> PeerPort(int fd, uint16_t port) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      local.sin_family != AF_INET || ntohs(local.sin_port) != port) {
    return std::nullopt;
  }
  sockaddr_in peer{};
  size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return std::nullopt;
  return ntohs(peer.sin_port);
}

enum class Unread { Nothing, Part, Header };

// What waits unread in the connection's buffer: a whole request header
// (civetweb has yet to take the connection from its queue, and will answer
// it at once), part of one (a queued connection that sent half a header: a
// browser sends its header in one piece), or nothing (its thread has read
// what came, or nothing came).
Unread UnreadBytes(int fd, std::vector<char>& buffer) {
  const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_PEEK | MSG_DONTWAIT);
  if (got <= 0) return Unread::Nothing;
  const std::string_view bytes(buffer.data(), static_cast<size_t>(got));
  return bytes.find("\r\n\r\n") != std::string_view::npos ? Unread::Header : Unread::Part;
}

void ShutDown(const Visitor& visitor, uint16_t port) {
  // Still the same connection: civetweb may have closed it meanwhile and
  // the descriptor gone to another.
  if (PeerPort(visitor.fd, port) == visitor.peerPort) shutdown(visitor.fd, SHUT_RDWR);
}

// Every connection civetweb has accepted on `port` (the listening socket
// has no peer), found among the process's descriptors.
std::vector<Visitor> Visitors(uint16_t port) {
  std::vector<Visitor> visitors;
  DIR* listing = opendir("/proc/self/fd");
  if (!listing) return visitors;
  while (const dirent* entry = readdir(listing)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || end == entry->d_name || fd == dirfd(listing)) continue;
    if (const auto peer = PeerPort(static_cast<int>(fd), port)) {
      visitors.push_back({static_cast<int>(fd), *peer});
    }
  }
  closedir(listing);
  return visitors;
}

}  // namespace

void DoorKeeper::Start(uint16_t serverPort, int deadlineMs, size_t requestBytes) {
  port = serverPort;
  requestDeadlineMs = deadlineMs;
  maxRequestBytes = requestBytes;
  closing = false;
  watcher = std::thread([this] { Watch(); });
}

void DoorKeeper::Stop() {
  {
    std::lock_guard lock(mutex);
    closing = true;
  }
  wake.notify_all();
  if (watcher.joinable()) watcher.join();
}

void DoorKeeper::Admit(uint16_t peerPort) {
  std::lock_guard lock(mutex);
  admitted.insert(peerPort);
}

void DoorKeeper::Forget(uint16_t peerPort) {
  std::lock_guard lock(mutex);
  admitted.erase(peerPort);
}

// Looks at every connection each DOOR_INTERVAL, and shuts down (civetweb
// then ends them on their threads) those not admitted that hold a thread or
// a place in the queue for nothing: a queued one with half a header, at
// once; of those with nothing unread, counted from when it first sees
// them, the oldest once more than STRANGERS_KEPT of them are older than
// STRANGER_GRACE, and every one older than REQUEST_DEADLINE, queued ones
// included, which civetweb's own deadline has yet to see. A request header
// takes a browser a moment: a young connection is left alone, and one
// whose header has come waits its turn.
void DoorKeeper::Watch() {
  using Clock = std::chrono::steady_clock;
  std::map<uint16_t, Clock::time_point> firstSeen;
  std::vector<char> peeked(maxRequestBytes);
  std::unique_lock lock(mutex);
  while (!wake.wait_for(lock, DOOR_INTERVAL, [this] { return closing; })) {
    const std::set<uint16_t> known = admitted;
    lock.unlock();
    const Clock::time_point now = Clock::now();
    std::map<uint16_t, Clock::time_point> seen;
    std::vector<std::pair<Clock::time_point, Visitor>> strangers;
    for (const Visitor& visitor : Visitors(port)) {
      if (known.count(visitor.peerPort)) continue;
      const Unread unread = UnreadBytes(visitor.fd, peeked);
      if (unread == Unread::Header) continue;
      if (unread == Unread::Part) {
        ShutDown(visitor, port);
        continue;
      }
      const auto earlier = firstSeen.find(visitor.peerPort);
      const Clock::time_point since = earlier == firstSeen.end() ? now : earlier->second;
      seen[visitor.peerPort] = since;
      if (now - since >= std::chrono::milliseconds(STRANGER_GRACE_MS)) {
        strangers.emplace_back(since, visitor);
      }
    }
    firstSeen = std::move(seen);
    std::sort(strangers.begin(), strangers.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const size_t kept = static_cast<size_t>(STRANGERS_KEPT);
    for (size_t i = 0; i < strangers.size(); ++i) {
      const auto& [since, visitor] = strangers[i];
      const bool late = now - since >= std::chrono::milliseconds(requestDeadlineMs);
      if (!late && strangers.size() - i <= kept) break;
      ShutDown(visitor, port);
    }
    lock.lock();
  }
}

}  // namespace studio
