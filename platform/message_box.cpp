// message_box.cpp: message boxes are recorded, shown to the observer and
// answered with IDOK.
#include "platform/message_box.h"

#include <utility>

namespace platform {

namespace {

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

const std::vector<ShownMessage>& ShownMessages() { return Shown(); }

void ClearShownMessages() { Shown().clear(); }

void SetMessageBoxObserver(std::function<void(const ShownMessage&)> observer) {
  Observer() = std::move(observer);
}

}  // namespace platform

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  platform::ShownMessage message{owner, text ? text : "",
                                 caption ? caption : platform::DEFAULT_CAPTION, type};
  platform::Shown().push_back(message);
  if (platform::Observer()) platform::Observer()(message);
  return IDOK;
}
