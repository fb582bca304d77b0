// about_box.h: the about box (resource 101). It shows the product's name,
// version, author, copyright, web address and logo, and changes nothing.
#pragma once

#include "platform/win32.h"

// Centres the box over its parent and shows the arrow cursor; OK ends it
// with 1, Cancel (also Escape and the close box) with 0.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
