// parameter_hold.cpp: the control dialog's undo hold.
#include "ui/parameter_hold.h"

#include "filter/focus_filter.h"
#include "host/hold.h"

void BeginHold(FilterBase& filter) {
  theHold.Begin();
  filter.holdActive = true;
}

void BeginHoldIfNone(FilterBase& filter) {
  if (!filter.holdActive) BeginHold(filter);
}

void EndHold(FilterBase& filter, WPARAM wParam, const char* name) {
  if (!filter.holdActive) return;
  if (HIWORD(wParam)) {
    theHold.Accept(name);
  } else {
    theHold.Cancel();
  }
  filter.holdActive = false;
}

void AcceptHold(FilterBase& filter, const char* name) {
  if (!filter.holdActive) return;
  theHold.Accept(name);
  filter.holdActive = false;
}
