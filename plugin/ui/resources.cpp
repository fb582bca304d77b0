// resources.cpp: the module's resources as constant data: the about box
// (dialog 101), the control dialog (dialog 102) and the logo (bitmap 104).
// The platform finds them through the module's instance handle.
#include "ui/resources.h"

#include <iterator>

#include "filter/focus_filter.h"
#include "filter/identity.h"
#include "host/custom_controls.h"
#include "kestrion/version.h"
#include "ui/dialog_ids.h"
#include "ui/logo.h"

namespace {

constexpr const char* DIALOG_FONT = "MS Sans Serif";
constexpr WORD DIALOG_FONT_POINTS = 8;
constexpr const char* BUTTON = "BUTTON";
constexpr const char* STATIC = "STATIC";
constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;
constexpr DWORD LABEL = CHILD | SS_CENTER | WS_GROUP;
constexpr DWORD EDIT = CHILD | WS_TABSTOP;
constexpr const char* WEB_ADDRESS = "www.kestrion.example";
// The about box's version line and the control dialog's heading, from the
// project's version.
constexpr const char* VERSION_TEXT = "Version " KESTRION_VERSION_TEXT;
constexpr const char* PRODUCT_AND_VERSION =
    KESTRION_PRODUCT_NAME ", Version " KESTRION_VERSION_TEXT;

constexpr WORD Id(int id) { return static_cast<WORD>(id); }

// The control dialog, in template (and tab) order.
constexpr DialogItemTemplate CONTROL_ITEMS[] = {
    {CHILD | BS_GROUPBOX, 0, 6, 0, 177, 32, IDC_STATIC, BUTTON, "", 0},
    {LABEL, 0, 8, 8, 173, 8, IDC_STATIC, STATIC, PRODUCT_AND_VERSION, 0},
    {LABEL, 0, 8, 19, 173, 8, IDC_STATIC, STATIC, KESTRION_COPYRIGHT_NOTICE, 0},
    {CHILD | BS_AUTORADIOBUTTON | WS_GROUP, 0, 20, 51, 95, 10, Id(IDC_WHOLE_IMAGE), BUTTON,
     "Whole Image", 0},
    {CHILD | BS_AUTORADIOBUTTON, 0, 20, 66, 95, 10, Id(IDC_MATERIAL_EFFECTS), BUTTON,
     "Material Effects Channel", 0},
    {CHILD | BS_AUTORADIOBUTTON, 0, 20, 81, 67, 10, Id(IDC_OBJECT_CHANNEL), BUTTON,
     "Object Channel", 0},
    {EDIT, 0, 127, 66, 28, 10, Id(IDC_MATERIAL_ID_EDIT), CUSTEDIT_CLASS, "", 0},
    {EDIT, 0, 155, 66, 10, 10, Id(IDC_MATERIAL_ID_SPINNER), SPINNER_CLASS, "", 0},
    {EDIT, 0, 127, 81, 28, 10, Id(IDC_OBJECT_ID_EDIT), CUSTEDIT_CLASS, "", 0},
    {EDIT, 0, 155, 81, 10, 10, Id(IDC_OBJECT_ID_SPINNER), SPINNER_CLASS, "", 0},
    {CHILD | BS_GROUPBOX, 0, 6, 34, 177, 70, IDC_STATIC, BUTTON, "Source", 0},
    {CHILD | BS_GROUPBOX, 0, 6, 106, 177, 30, IDC_STATIC, BUTTON, " Object ", 0},
    {CHILD | SS_LEFT | WS_GROUP, 0, 12, 119, 85, 8, Id(IDC_OBJECT_NAME), STATIC, "Undefined", 0},
    {CHILD | BS_PUSHBUTTON | WS_TABSTOP, 0, 127, 117, 40, 12, Id(IDC_BROWSE), BUTTON, "Browse...",
     0},
    {CHILD | SS_RIGHT | WS_GROUP, 0, 100, 145, 30, 8, IDC_STATIC, STATIC, "Blur size:", 0},
    {EDIT, 0, 135, 145, 35, 10, Id(IDC_SIZE_EDIT), CUSTEDIT_CLASS, "", 0},
    {EDIT, 0, 170, 145, 7, 10, Id(IDC_SIZE_SPINNER), SPINNER_CLASS, "", 0},
    {CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 34, 164, 50, 14, Id(IDOK), BUTTON, "OK", 0},
    {CHILD | BS_PUSHBUTTON | WS_TABSTOP, 0, 104, 164, 50, 14, Id(IDCANCEL), BUTTON, "Cancel", 0},
    {CHILD | SS_RIGHT | WS_GROUP, 0, 12, 145, 35, 8, IDC_STATIC, STATIC, "Blur range:", 0},
    {EDIT, 0, 50, 145, 35, 10, Id(IDC_RANGE_EDIT), CUSTEDIT_CLASS, "", 0},
    {EDIT, 0, 85, 145, 7, 10, Id(IDC_RANGE_SPINNER), SPINNER_CLASS, "", 0},
};

const DialogTemplate CONTROL_DIALOG{
    .style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    .exStyle = 0,
    .x = 0,
    .y = 0,
    .cx = 189,
    .cy = 185,
    .caption = "Kestrion Control",
    .pointSize = DIALOG_FONT_POINTS,
    .typeface = DIALOG_FONT,
    .items = CONTROL_ITEMS,
    .itemCount = static_cast<WORD>(std::size(CONTROL_ITEMS)),
};

// The about box, in template order.
constexpr DialogItemTemplate ABOUT_ITEMS[] = {
    {CHILD | BS_GROUPBOX, 0, 14, 2, 160, 90, IDC_STATIC, BUTTON, "", 0},
    {LABEL, 0, 16, 35, 156, 8, IDC_STATIC, STATIC, KESTRION_PRODUCT_NAME, 0},
    {LABEL, 0, 16, 46, 156, 8, IDC_STATIC, STATIC, VERSION_TEXT, 0},
    {LABEL, 0, 16, 57, 156, 8, IDC_STATIC, STATIC, KESTRION_AUTHOR_CREDIT, 0},
    {LABEL, 0, 16, 68, 156, 8, IDC_STATIC, STATIC, KESTRION_COPYRIGHT_NOTICE, 0},
    {CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 69, 96, 50, 14, Id(IDOK), BUTTON, "OK", 0},
    {CHILD | SS_BITMAP, 0, 51, 12, 90, 15, IDC_STATIC, STATIC, "", LOGO_BITMAP_RESOURCE},
    {LABEL, 0, 16, 79, 156, 8, IDC_STATIC, STATIC, WEB_ADDRESS, 0},
};

constexpr DWORD ABOUT_STYLE =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
static_assert(ABOUT_STYLE == 0x90C800C0u);

const DialogTemplate ABOUT_DIALOG{
    .style = ABOUT_STYLE,
    .exStyle = 0,
    .x = 0,
    .y = 0,
    .cx = 189,
    .cy = 115,
    .caption = "About Kestrion",
    .pointSize = DIALOG_FONT_POINTS,
    .typeface = DIALOG_FONT,
    .items = ABOUT_ITEMS,
    .itemCount = static_cast<WORD>(std::size(ABOUT_ITEMS)),
};

constexpr auto LOGO_PALETTE = logo::MakePalette();
constexpr auto LOGO_PIXELS = logo::MakePixels();

const BitmapResource LOGO{logo::WIDTH, logo::HEIGHT, 8, LOGO_PALETTE.data(), LOGO_PIXELS.data()};

const ResourceEntry ENTRIES[] = {
    {RT_DIALOG_TYPE, static_cast<WORD>(ABOUT_DIALOG_ID), &ABOUT_DIALOG},
    {RT_DIALOG_TYPE, static_cast<WORD>(CONTROL_DIALOG_ID), &CONTROL_DIALOG},
    {RT_BITMAP_TYPE, LOGO_BITMAP_RESOURCE, &LOGO},
};

}  // namespace

const ResourceTable moduleResourceTable{ENTRIES, static_cast<uint32_t>(std::size(ENTRIES))};
