// message_box.h: headless message boxes. Each MessageBoxA is recorded here
// and answered with IDOK, so that tests and host programs can show the user
// what the module said. Message boxes may be shown on several threads at
// once: each is recorded whole and reaches the observer once, on the thread
// that showed it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

struct ShownMessage {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

// Every message box shown since the last ClearShownMessages, oldest first.
std::vector<ShownMessage> ShownMessages();
void ClearShownMessages();

// An optional observer called for each message box as it is shown (a host
// program prints it). Pass an empty function to remove it. A message box
// being shown on another thread meanwhile may still reach the observer
// that was set when it was shown.
void SetMessageBoxObserver(std::function<void(const ShownMessage&)> observer);

}  // namespace platform
