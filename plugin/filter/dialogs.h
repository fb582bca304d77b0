// dialogs.h: the filter's two modal dialogs, as ShowControl and ShowAboutBox
// run them. Defined with the dialog code, which the filter does not see.
//
// Each runs its dialog from the module's resources, owned by `parent`, with
// the filter as the creation parameter, and returns what the modal dialog
// returns: 1 after OK, 0 after Cancel, the platform's failure value when
// the dialog cannot be created.
#pragma once

#include <cstdint>

#include "platform/win32.h"

class FocusFilter;

// The control dialog (resource 102).
int32_t RunControlDialog(FocusFilter& filter, HWND parent);
// The about box (resource 101).
int32_t RunAboutBox(FocusFilter& filter, HWND parent);
