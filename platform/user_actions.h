// user_actions.h: how a modal loop takes the scripted user's next action.
// Platform files only.
#pragma once

#include "platform/win32.h"

namespace platform {

// Takes the next queued action of User() and performs it on `dialog`, the
// innermost open dialog. Returns false, doing nothing, when none is queued.
bool PerformNextAction(HWND dialog);

}  // namespace platform
