// user_actions.h: how a modal loop takes the scripted user's next action.
// Platform files only.
#pragma once

#include "platform/win32.h"

namespace platform {

// Takes the next queued action of User() and performs it on `dialog`, the
// innermost open dialog. When none is queued the waiting user, if any, is
// asked (modal_loop.h). Returns false, doing nothing, when there is no
// action and no waiting user, or the waiting user gave up.
bool PerformNextAction(HWND dialog);

}  // namespace platform
