// messages.h: the window messages of the host's protocol with filters.
#pragma once

#include "platform/win32.h"

// Sent by a filter's blur to the host's progress window.
constexpr UINT HOST_PROGRESS = 1056;     // wParam current row, lParam last row
constexpr UINT HOST_ABORT_QUERY = 1057;  // lParam: address of an int32_t abort flag

// Sent by the host to a filter's dialog made interactive.
constexpr UINT HOST_TIME_CHANGE = 1059;  // lParam the new time

// Sent by the host's custom controls to their parent dialog; the control
// identifier is the low word of wParam.
constexpr UINT SPINNER_CHANGE = 1624;   // value changed
constexpr UINT SPINNER_PRESS = 1625;    // button pressed
constexpr UINT SPINNER_RELEASE = 1626;  // button released; high word of wParam non-zero: accepted
constexpr UINT CUSTEDIT_ENTER = 1709;   // an entry was made in the edit
