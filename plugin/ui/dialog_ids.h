// dialog_ids.h: the identifiers of the controls that the dialog code
// addresses, and the logo's resource number. The dialogs' own resource
// numbers are the filter's (ABOUT_DIALOG_ID, CONTROL_DIALOG_ID). The
// templates in resources.cpp and the handlers use these names only; the
// controls' identifiers themselves are published in kestrion/control_ids.h,
// where the studio and its page read them too.
#pragma once

#include "kestrion/control_ids.h"
#include "kestrion/focus_config.h"
#include "platform/win32.h"

// The logo that the about box shows.
constexpr WORD LOGO_BITMAP_RESOURCE = 104;

// The material ID spinner's upper limit, lower than the channel's
// (MATERIAL_ID_MAX). The object ID spinner offers the whole channel
// (OBJECT_ID_MAX), the float spinners the record's limits.
constexpr int MATERIAL_ID_SPINNER_MAX = 15;
