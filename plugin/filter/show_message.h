// show_message.h: the module's one way of telling the user about an error,
// a message box owned by the active window.
#pragma once

#include <cstdint>

#include "filter/identity.h"

// Caption of every message the module shows.
constexpr const char* MESSAGE_CAPTION = KESTRION_PRODUCT_NAME;

// Formats printf-style into a 256-byte buffer (longer texts are cut off),
// shows it in an MB_OK box owned by the active window (none if no window is
// active) and returns the box's result. Blocks until it is dismissed.
int32_t ShowMessage(const char* caption, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
