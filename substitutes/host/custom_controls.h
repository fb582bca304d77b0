// custom_controls.h: the host's custom controls for filter dialogs (a
// spinner linked to a custom edit), window centring, and their start-up.
//
// A SpinnerControl window holds an integer or float value within limits.
// It sends its parent SPINNER_PRESS when its button is pressed, SPINNER_CHANGE
// on each change of value while dragged (WM_MOUSEMOVE: the value moves one
// step per pixel upward from the value at the press; steps 1 for integers,
// 0.1 for floats) and SPINNER_RELEASE when the button is released, with a
// non-zero high word of wParam when the drag is accepted (left button up)
// and zero when it is cancelled (right button while dragging; the value goes
// back to what it was at the press, without a change message).
//
// A CustEdit window linked to a spinner shows the spinner's value. On Enter
// (WM_KEYDOWN VK_RETURN) it parses its text; a number updates the linked
// spinner (held to its limits), which sends SPINNER_CHANGE; then the edit
// sends CUSTEDIT_ENTER. Text that is not a number restores the display and
// sends nothing: no entry was made. All messages carry the sender's control
// identifier in the low word of wParam (and its window in lParam).
//
// A change message is sent only when a drag step actually changes the value
// (not for a move that stays at a limit); SetIntValue / SetFloatValue with a
// non-zero notify and a typed number always send one. An integer spinner
// shows "%d"; a float spinner shows "%.3f" with trailing zeros dropped down
// to one decimal ("80.0", "2.5", "0.125"). Typed text may be any decimal
// number, with blanks around it; an integer spinner rounds it to nearest.
// The spinner's kind (integer or float) is that of its last LinkToEdit or
// limits call; only CustEdit windows can be linked.
#pragma once

#include "platform/win32.h"

constexpr const char* CUSTEDIT_CLASS = "CustEdit";
constexpr const char* SPINNER_CLASS = "SpinnerControl";

// Edit types for LinkToEdit.
constexpr int EDITTYPE_INT = 0;
constexpr int EDITTYPE_FLOAT = 4;

// Registers the CustEdit and SpinnerControl window classes.
void InitCustomControls(HINSTANCE instance);

class ISpinnerControl {
 public:
  virtual void LinkToEdit(HWND edit, int editType) = 0;
  virtual void SetIntLimits(int minimum, int maximum, int limitCurrent) = 0;
  virtual void SetFloatLimits(float minimum, float maximum, int limitCurrent) = 0;
  virtual void SetIntValue(int value, int notify) = 0;
  virtual void SetFloatValue(float value, int notify) = 0;
  virtual int GetIntValue() = 0;
  virtual float GetFloatValue() = 0;
  virtual void SetKeyIndication(int on) = 0;

  // --- host side ---
  virtual int KeyIndication() = 0;
  virtual float FloatMinimum() = 0;
  virtual float FloatMaximum() = 0;
  virtual int IntMinimum() = 0;
  virtual int IntMaximum() = 0;
  virtual HWND LinkedEdit() = 0;

 protected:
  ~ISpinnerControl() = default;
};

// The interface of a SpinnerControl window (null for any other window);
// every GetISpinner must be matched by one ReleaseISpinner.
ISpinnerControl* GetISpinner(HWND spinner);
void ReleaseISpinner(ISpinnerControl* spinner);
// Number of spinner interfaces handed out and not yet released.
int OutstandingSpinners();

// Centres `wnd` over `over` (over the whole work area when `over` is 0).
void CenterWindow(HWND wnd, HWND over);
