// show_dialogs.cpp: the filter's operations that show its dialogs.
#include "filter/dialogs.h"
#include "filter/focus_filter.h"

int32_t FocusFilter::ShowAboutBox(HWND parent) { return RunAboutBox(*this, parent); }

int32_t FocusFilter::ShowControl(HWND parent) { return RunControlDialog(*this, parent); }
