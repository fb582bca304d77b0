// dialog_ids.h: the identifiers of the controls that the dialog code
// addresses, and the logo's resource number. The dialogs' own resource
// numbers are the filter's (ABOUT_DIALOG_ID, CONTROL_DIALOG_ID). The
// templates in resources.cpp and the handlers use these names only.
#pragma once

#include "kestrion/focus_config.h"
#include "platform/win32.h"

// The logo that the about box shows.
constexpr WORD LOGO_BITMAP_RESOURCE = 104;

// A control that no handler addresses.
constexpr WORD IDC_STATIC = 65535;

// Control dialog 102. The radio buttons' identifiers are the source modes
// that the configuration stores.
constexpr int IDC_OBJECT_NAME = 1001;
constexpr int IDC_BROWSE = 1002;
constexpr int IDC_SIZE_EDIT = 1003;
constexpr int IDC_SIZE_SPINNER = 1004;
constexpr int IDC_RANGE_EDIT = 1005;
constexpr int IDC_RANGE_SPINNER = 1006;
constexpr int IDC_WHOLE_IMAGE = SOURCE_WHOLE_IMAGE;
constexpr int IDC_MATERIAL_EFFECTS = SOURCE_MATERIAL_EFFECTS;
constexpr int IDC_OBJECT_CHANNEL = SOURCE_OBJECT_CHANNEL;
constexpr int IDC_MATERIAL_ID_EDIT = 1026;
constexpr int IDC_OBJECT_ID_EDIT = 1027;
constexpr int IDC_MATERIAL_ID_SPINNER = 1046;
constexpr int IDC_OBJECT_ID_SPINNER = 1047;

// The material ID spinner's upper limit, lower than the channel's
// (MATERIAL_ID_MAX). The object ID spinner offers the whole channel
// (OBJECT_ID_MAX), the float spinners the record's limits.
constexpr int MATERIAL_ID_SPINNER_MAX = 15;
