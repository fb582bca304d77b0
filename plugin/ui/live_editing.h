// live_editing.h: how the control dialog edits blur range and blur size
// live and follows the host while it is open.
//
// Only the float spinners (1004 size, 1006 range) and their edits (1003,
// 1005) count; the ID spinners and edits are read on OK alone.
//
//   spinner press (1625)     begin an undo hold (again, if one is open)
//   spinner change (1624)    begin a hold if none is open; field = spinner
//                            value; the track at the current time = field
//   spinner release (1626)   accept the hold as "Parameter Change" when the
//                            high word of wParam is non-zero, else cancel it
//   edit entry (1709)        accept the hold as "Parameter Change"
//   time change (1059)       fields and spinners from the tracks at lParam;
//                            key indications for the host's current time
//   node changed (1060)      remember that the tracks changed
//   WM_PAINT                 once the tracks changed: fields and spinners
//                            from the tracks at the current time
//
// The undo hold covers the track controllers only; the configuration fields
// are plain memory.
#pragma once

#include "platform/win32.h"

class FocusFilter;

// True for the seven messages above.
bool IsLiveEditingMessage(UINT message);
// Handles one of them; the dialog answers each with 0.
void HandleLiveEditing(FocusFilter& filter, HWND dialog, UINT message, WPARAM wParam,
                       LPARAM lParam);
