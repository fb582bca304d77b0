// console.h: what the commands print on stderr besides their errors, and
// the callbacks that connect the library to it: warnings, the filter's
// message boxes, and the abort query answered by the interrupt record.
#pragma once

#include <string>

#include "frame/frame_render.h"

namespace kestrion {

// "kestrion: warning: LINE", printable.
void PrintWarning(const std::string& line);
// "kestrion: CAPTION: TEXT", as the filter showed it.
void PrintMessageBox(const std::string& caption, const std::string& text);
// Whether a signal has asked the command to stop (interrupt.h).
bool StopRequested();

// Callbacks that print warnings and message boxes as above and abort on a
// signal; no progress.
RenderCallbacks CommandCallbacks();

}  // namespace kestrion
