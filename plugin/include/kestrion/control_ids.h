// control_ids.h: the identifiers of the module's dialog controls, for the
// dialog code and for host programs that drive the dialogs (the studio and
// its page, which gets these values generated from this file at build
// time). One definition a line, `constexpr TYPE NAME = VALUE;`, VALUE a
// number or a name defined before it here or in focus_config.h: the page's
// generator reads them so.
#pragma once

#include <cstdint>

#include "kestrion/focus_config.h"

// A control that no handler addresses.
constexpr uint16_t IDC_STATIC = 65535;

// Control dialog 102. The radio buttons' identifiers are the source modes
// that the configuration stores.
constexpr int32_t IDC_OBJECT_NAME = 1001;
constexpr int32_t IDC_BROWSE = 1002;
constexpr int32_t IDC_SIZE_EDIT = 1003;
constexpr int32_t IDC_SIZE_SPINNER = 1004;
constexpr int32_t IDC_RANGE_EDIT = 1005;
constexpr int32_t IDC_RANGE_SPINNER = 1006;
constexpr int32_t IDC_WHOLE_IMAGE = SOURCE_WHOLE_IMAGE;
constexpr int32_t IDC_MATERIAL_EFFECTS = SOURCE_MATERIAL_EFFECTS;
constexpr int32_t IDC_OBJECT_CHANNEL = SOURCE_OBJECT_CHANNEL;
constexpr int32_t IDC_MATERIAL_ID_EDIT = 1026;
constexpr int32_t IDC_OBJECT_ID_EDIT = 1027;
constexpr int32_t IDC_MATERIAL_ID_SPINNER = 1046;
constexpr int32_t IDC_OBJECT_ID_SPINNER = 1047;
