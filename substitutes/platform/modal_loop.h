// modal_loop.h: what a host program that puts a live user in front of the
// headless dialogs needs of the modal loops: which dialogs are open, and a
// user who waits instead of running out of script.
//
// A waiting user is asked whenever a modal loop finds the scripted user's
// queue empty. It runs on the thread of the modal loop, with the innermost
// open dialog (the one the actions reach). It may wait for its user, queue
// actions on User() (scripted_user.h) and return true: the loop performs
// them, paints, and asks again when they are done. It may also do work of
// its own there, on the dialogs' thread, open a nested dialog (which asks
// it again, with that dialog), and return true with nothing queued. When it
// returns false the dialog ends as it would without one: as Cancel.
#pragma once

#include <functional>
#include <vector>

#include "platform/win32.h"

namespace platform {

using WaitingUser = std::function<bool(HWND dialog)>;

// Sets the waiting user of every modal loop; an empty function removes it.
void SetWaitingUser(WaitingUser user);

// The dialogs whose modal loops are running, outermost first: the last is
// the one the user's actions reach.
std::vector<HWND> OpenModalDialogs();

}  // namespace platform
