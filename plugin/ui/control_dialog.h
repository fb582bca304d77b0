// control_dialog.h: the filter's modal control dialog (resource 102).
//
// One control dialog is open at a time, so its state is module-wide: the
// filter whose dialog is open, a snapshot of that filter's configuration
// taken when the dialog opened (Cancel copies it back), and the interfaces
// of the four spinners while the dialog holds them.
//
// What the dialog commits, and when:
//   source mode and both IDs   on OK only;
//   focal object name          when picked through Browse...;
//   blur range and blur size   on every spinner change (field and track, in
//                              an undo hold), and again, from the spinners,
//                              when the dialog is destroyed.
#pragma once

#include <memory>

#include "host/custom_controls.h"
#include "kestrion/focus_config.h"
#include "platform/win32.h"

class FocusFilter;

// Releases a spinner interface back to the host.
struct SpinnerRelease {
  void operator()(ISpinnerControl* spinner) const { ReleaseISpinner(spinner); }
};
// A held spinner interface; null while the spinner is not held.
using SpinnerHandle = std::unique_ptr<ISpinnerControl, SpinnerRelease>;

struct ControlDialogState {
  // Recorded by WM_INITDIALOG, cleared once WM_DESTROY has been handled.
  FocusFilter* filter = nullptr;
  FocusConfig snapshot{};
  SpinnerHandle materialIdSpinner;  // 1046
  SpinnerHandle objectIdSpinner;    // 1047
  SpinnerHandle sizeSpinner;        // 1004
  SpinnerHandle rangeSpinner;       // 1006
};

// The module's one control dialog state. Only the dialog procedure and the
// dialog's helpers (dialog_controls.h) write it.
extern ControlDialogState controlDialog;

// The dialog procedure of every control dialog. WM_INITDIALOG records
// lParam as the dialog's filter; each message is then handled for that
// filter. With no filter recorded (messages that precede
// WM_INITDIALOG, such as WM_SETFONT, or that follow WM_DESTROY) the answer
// is 0.
INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the focal object's name in label 1001, or "Undefined" when it is
// empty. A loaded record may hold a name without terminator, so the name is
// read within its field only.
void ShowFocalName(HWND dialog, const FocusConfig& config);
