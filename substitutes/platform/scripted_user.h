// scripted_user.h: the user in front of a headless modal dialog.
//
// Tests and host programs queue actions; the modal loop of DialogBoxParamA
// (and any nested modal loop) takes them one at a time, in order. After each
// action the loop delivers WM_PAINT to invalidated windows. When the script
// runs out while a dialog is open, the dialog is ended as if the user had
// pressed Escape (command IDCANCEL), so no test can hang; a host program
// with a live user sets a waiting user instead (modal_loop.h).
//
// How each action reaches the controls, as a Windows user's input would:
// - Click(id): WM_LBUTTONDOWN then WM_LBUTTONUP to the control. Buttons send
//   WM_COMMAND (BN_CLICKED) to their parent; an auto radio button checks
//   itself and unchecks the others of its group first.
// - Type(id, text): WM_SETTEXT with the text, then WM_KEYDOWN VK_RETURN.
// - Press(id): WM_LBUTTONDOWN. Drag(id, pixels): WM_MOUSEMOVE with the
//   pointer `pixels` above the press point (y = -pixels in lParam).
//   Release(id, true): WM_LBUTTONUP. Release(id, false): WM_RBUTTONDOWN, the
//   right button pressed while dragging, which cancels the drag.
// - Escape(): WM_KEYDOWN VK_ESCAPE to the dialog, which ends up as
//   WM_COMMAND IDCANCEL. Close(): WM_SYSCOMMAND SC_CLOSE, likewise.
// - Call(fn): runs fn with the active dialog window (to inspect state or
//   to play the host's part, e.g. change the time).
// An action aimed at a disabled control (or a control inside a disabled
// window), or at a control the dialog does not have, is refused: nothing is
// sent and the refusal is counted.
#pragma once

#include <functional>
#include <string>

#include "platform/win32.h"

namespace platform {

class ScriptedUser {
 public:
  ScriptedUser& Click(int id);
  ScriptedUser& Type(int id, std::string text);
  ScriptedUser& Press(int id);
  ScriptedUser& Drag(int id, int pixels);
  ScriptedUser& Release(int id, bool accept = true);
  ScriptedUser& Escape();
  ScriptedUser& Close();
  ScriptedUser& Call(std::function<void(HWND dialog)> fn);

  // Drops every queued action and the refusal count.
  void Clear();
  bool Empty() const;
  int Refused() const;
};

// The one user of this process.
ScriptedUser& User();

}  // namespace platform
