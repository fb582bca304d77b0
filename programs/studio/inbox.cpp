// inbox.cpp: the request queue.
#include "studio/inbox.h"

namespace studio {

namespace {

bool SameDrag(const Request& a, const Request& b) {
  return a.kind == RequestKind::Action && b.kind == RequestKind::Action &&
         a.input == UserInput::Drag && b.input == UserInput::Drag && a.dialog == b.dialog &&
         a.control == b.control;
}

// Frames asked for while scrubbing: only the last one matters.
bool SameScrub(const Request& a, const Request& b) {
  return a.kind == RequestKind::Host && b.kind == RequestKind::Host && a.command == "frame" &&
         b.command == "frame";
}

}  // namespace

bool Inbox::Push(Request request) {
  {
    std::lock_guard lock(mutex);
    if (closed || queue.size() >= capacity) return false;
    queue.push_back(std::move(request));
    waiting.store(true, std::memory_order_release);
  }
  ready.notify_one();
  return true;
}

void Inbox::Close() {
  {
    std::lock_guard lock(mutex);
    closed = true;
    waiting.store(true, std::memory_order_release);
  }
  ready.notify_all();
}

Request Inbox::PopLocked() {
  if (closed) return Request{};  // Quit
  while (queue.size() > 1 && (SameDrag(queue[0], queue[1]) || SameScrub(queue[0], queue[1]))) {
    queue.pop_front();
  }
  Request next = std::move(queue.front());
  queue.pop_front();
  waiting.store(!queue.empty(), std::memory_order_release);
  return next;
}

Request Inbox::Take() {
  std::unique_lock lock(mutex);
  ready.wait(lock, [this] { return closed || !queue.empty(); });
  return PopLocked();
}

std::optional<Request> Inbox::TryTake() {
  std::lock_guard lock(mutex);
  if (!closed && queue.empty()) return std::nullopt;
  return PopLocked();
}

}  // namespace studio
