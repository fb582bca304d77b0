// browser.h: opening the page in the user's browser (--open).
#pragma once

#include <string>

namespace studio {

// Starts `xdg-open URL` with the default signal handling and returns at
// once; false with `error` set when it cannot be started. The child is
// reaped when it ends, so none is left behind.
bool OpenInBrowser(const std::string& url, std::string& error);

}  // namespace studio
