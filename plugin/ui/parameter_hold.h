// parameter_hold.h: the undo hold that the control dialog opens around live
// edits of blur range and blur size. The filter's holdActive flag says
// whether the dialog has a hold of theHold open.
#pragma once

#include "platform/win32.h"

class FilterBase;

// Name of the undo step of a live edit of range or size.
constexpr const char* PARAMETER_CHANGE = "Parameter Change";

// Begins a hold, also when one is open already.
void BeginHold(FilterBase& filter);
// Begins a hold unless one is open.
void BeginHoldIfNone(FilterBase& filter);
// Ends an open hold: accepted as `name` when the high word of `wParam` (a
// spinner release's) is non-zero, else cancelled.
void EndHold(FilterBase& filter, WPARAM wParam, const char* name);
// Accepts an open hold as `name`.
void AcceptHold(FilterBase& filter, const char* name);
