// control_base.h: what the host's custom controls (custom_controls.h) take
// from the window system they run on. Headless, a custom edit is a window
// whose text is its value and a spinner draws nothing; on Windows the edit
// is built on the system's text field (typing, caret, selection) and the
// spinner draws its two arrow buttons and holds the mouse while dragged.
// host/headless/ and host/windows/ each define these; the build picks one.
#pragma once

#include "platform/win32.h"

// Registers the custom edit class `name` with `procedure`, which passes
// what it does not handle to EditDefault.
void RegisterEditClass(const char* name, WNDPROC procedure);
// Registers the spinner class `name` with `procedure`.
void RegisterSpinnerClass(const char* name, WNDPROC procedure);
// The text field's own handling of a custom edit's message.
LRESULT EditDefault(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam);
// Answers WM_PAINT for a spinner, showing whether a key lies at the
// current time.
LRESULT PaintSpinner(HWND spinner, bool keyIndication);
// Keeps the mouse with the spinner while its button is held down, and lets
// it go.
void CaptureDrag(HWND spinner);
void EndDragCapture(HWND spinner);
