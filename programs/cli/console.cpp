#include "cli/console.h"

#include <cstdio>

#include "base/errors.h"
#include "cli/interrupt.h"

namespace kestrion {

void PrintWarning(const std::string& line) {
  std::fprintf(stderr, "kestrion: warning: %s\n", PrintableMessage(line).c_str());
}

void PrintMessageBox(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "kestrion: %s\n", PrintableMessage(OneLine(caption + ": " + text)).c_str());
}

bool StopRequested() { return InterruptRequested(); }

RenderCallbacks CommandCallbacks() {
  RenderCallbacks callbacks;
  callbacks.abort = &StopRequested;
  callbacks.warning = &PrintWarning;
  callbacks.messageBox = &PrintMessageBox;
  return callbacks;
}

}  // namespace kestrion
