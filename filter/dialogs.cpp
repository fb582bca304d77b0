// dialogs.cpp: the filter's about box and control dialog.
#include "filter/focus_filter.h"

// No dialog resources are built into the module yet: both answer the modal
// dialog call's failure value.
int32_t FocusFilter::ShowAboutBox(HWND) { return -1; }
int32_t FocusFilter::ShowControl(HWND) { return -1; }
