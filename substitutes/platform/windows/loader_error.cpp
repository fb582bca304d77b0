// loader_error.cpp (Windows): the reason the last LoadLibraryA failed, from
// the system's error code.
#include <cstdio>
#include <string>

#include "platform/resources.h"

namespace platform {

const char* LoaderError() {
  static std::string text;
  const DWORD code = GetLastError();
  char buffer[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, buffer, sizeof buffer, nullptr);
  text.assign(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    std::snprintf(buffer, sizeof buffer, "system error %lu", static_cast<unsigned long>(code));
    text = buffer;
  }
  return text.c_str();
}

}  // namespace platform
