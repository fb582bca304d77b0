// standard_classes.h: the window classes that exist before anyone registers
// a class: "BUTTON", "STATIC" and the dialog class. Platform files only.
#pragma once

#include "platform/win32.h"

namespace platform {

constexpr const char* BUTTON_CLASS = "BUTTON";
constexpr const char* STATIC_CLASS = "STATIC";
constexpr const char* DIALOG_CLASS = "#32770";

LRESULT ButtonProcedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT StaticProcedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DialogProcedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace platform
