// message_box.cpp: message boxes are recorded, shown to the observer and
// answered with IDOK. The record and the observer are shared by every
// thread, so both are kept under a lock; the observer is called outside it,
// on a copy, so that it may show a message box or change the observer
// itself.
#include "platform/message_box.h"

#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
using Locked = std::lock_guard<std::mutex>;

std::vector<ShownMessage>& Shown() {
  static std::vector<ShownMessage> shown;
  return shown;
}

std::function<void(const ShownMessage&)>& Observer() {
  static std::function<void(const ShownMessage&)> observer;
  return observer;
}

// The caption Windows gives a message box shown without one.
constexpr const char* DEFAULT_CAPTION = "Error";

}  // namespace

std::vector<ShownMessage> ShownMessages() {
  const Locked locked(Lock());
  return Shown();
}

void ClearShownMessages() {
  const Locked locked(Lock());
  Shown().clear();
}

void SetMessageBoxObserver(std::function<void(const ShownMessage&)> observer) {
  const Locked locked(Lock());
  Observer() = std::move(observer);
}

}  // namespace platform

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  platform::ShownMessage message{owner, text ? text : "",
                                 caption ? caption : platform::DEFAULT_CAPTION, type};
  std::function<void(const platform::ShownMessage&)> observer;
  {
    const platform::Locked locked(platform::Lock());
    platform::Shown().push_back(message);
    observer = platform::Observer();
  }
  if (observer) observer(message);
  return IDOK;
}
