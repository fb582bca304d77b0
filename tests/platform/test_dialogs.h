// test_dialogs.h: dialog templates, a recording dialog procedure and a
// recording control shared by the platform tests.
#pragma once

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "platform/scripted_user.h"
#include "platform/window_internal.h"

namespace test_dialogs {

constexpr WORD MAIN_DIALOG = 200;    // radio groups, bitmap, probe, OK/Cancel, DS_SETFONT
constexpr WORD BROKEN_DIALOG = 201;  // a control of an unknown class
constexpr WORD INNER_DIALOG = 202;   // OK only, no DS_SETFONT
constexpr WORD LOGO = 7;
constexpr int NESTED_BUTTON = 50;  // opens INNER_DIALOG
constexpr int PROBE_ID = 60;       // a "Probe" control that records its input
constexpr int BITMAP_ID = 40;
constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;

// 5 x 3 palette indices, all different, so a flip shows.
inline const BYTE LOGO_BITS[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
inline const BitmapResource LOGO_BITMAP{5, 3, 8, nullptr, LOGO_BITS};

inline const DialogItemTemplate MAIN_ITEMS[] = {
    {CHILD | BS_GROUPBOX, 0, 4, 2, 120, 60, 65535, "BUTTON", "Colour", 0},
    {CHILD | BS_AUTORADIOBUTTON | WS_GROUP, 0, 8, 10, 50, 10, 11, "BUTTON", "Red", 0},
    {CHILD | BS_AUTORADIOBUTTON, 0, 8, 22, 50, 10, 12, "Button", "Green", 0},
    {CHILD | BS_AUTORADIOBUTTON, 0, 8, 34, 50, 10, 13, "BUTTON", "Blue", 0},
    {CHILD | SS_LEFT | WS_GROUP, 0, 8, 46, 50, 8, 20, "STATIC", "Label", 0},
    {CHILD | BS_AUTORADIOBUTTON | WS_GROUP, 0, 70, 10, 50, 10, 31, "BUTTON", "Near", 0},
    {CHILD | BS_AUTORADIOBUTTON, 0, 70, 22, 50, 10, 32, "BUTTON", "Far", 0},
    {CHILD | SS_BITMAP, 0, 70, 34, 5, 3, BITMAP_ID, "STATIC", "", LOGO},
    {CHILD | WS_GROUP, 0, 70, 40, 9, 9, PROBE_ID, "Probe", "", 0},
    {CHILD | BS_PUSHBUTTON | WS_TABSTOP, 0, 4, 70, 40, 12, NESTED_BUTTON, "BUTTON", "More", 0},
    {CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 50, 70, 30, 12, IDOK, "BUTTON", "OK", 0},
    {CHILD | BS_PUSHBUTTON | WS_TABSTOP, 0, 90, 70, 30, 12, IDCANCEL, "BUTTON", "Cancel", 0},
};
inline const DialogItemTemplate BROKEN_ITEMS[] = {
    {CHILD | BS_PUSHBUTTON, 0, 0, 0, 10, 10, IDOK, "BUTTON", "OK", 0},
    {CHILD, 0, 0, 12, 10, 10, 70, "NoSuchClass", "", 0},
};
inline const DialogTemplate TEMPLATES[] = {
    {WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, 0, 10, 20, 131, 87, "Main", 8, "Sans",
     MAIN_ITEMS, static_cast<WORD>(std::size(MAIN_ITEMS))},
    {WS_POPUP | DS_SETFONT, 0, 0, 0, 50, 30, "Broken", 8, "Sans", BROKEN_ITEMS, 2},
    {WS_POPUP | WS_CAPTION, 0, 0, 0, 40, 20, "Inner", 0, "", MAIN_ITEMS + 10, 1},
};
inline const ResourceEntry ENTRIES[] = {
    {RT_DIALOG_TYPE, MAIN_DIALOG, &TEMPLATES[0]},
    {RT_DIALOG_TYPE, BROKEN_DIALOG, &TEMPLATES[1]},
    {RT_DIALOG_TYPE, INNER_DIALOG, &TEMPLATES[2]},
    {RT_BITMAP_TYPE, LOGO, &LOGO_BITMAP},
};
inline const ResourceTable TABLE{ENTRIES, static_cast<uint32_t>(std::size(ENTRIES))};

struct Received {
  HWND wnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  HWND okButton;  // the dialog's OK button as the message arrived
};

// What the recording dialog procedure saw, and how it behaves.
struct Recorder {
  std::vector<Received> log;
  std::vector<Received> probeInput;  // what the Probe control received
  bool endOnCancel = true;           // false: ignore IDCANCEL, as a stubborn dialog would
  INT_PTR initResult = TRUE;
  int disableAtInit = 0;     // a control that initialisation disables
  INT_PTR innerResult = -2;  // result of the dialog opened by NESTED_BUTTON

  int Count(UINT msg) const {
    int n = 0;
    for (const Received& r : log) n += r.msg == msg;
    return n;
  }
};

inline Recorder* recorder = nullptr;
inline HINSTANCE instance = nullptr;

inline INT_PTR RecordingProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!recorder) return FALSE;
  recorder->log.push_back({dialog, msg, wParam, lParam, GetDlgItem(dialog, IDOK)});
  if (msg == WM_INITDIALOG) {
    EnableWindow(GetDlgItem(dialog, recorder->disableAtInit), FALSE);
    return recorder->initResult;
  }
  if (msg != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
  if (LOWORD(wParam) == IDCANCEL && recorder->endOnCancel) EndDialog(dialog, 0);
  if (LOWORD(wParam) == NESTED_BUTTON) {
    recorder->innerResult =
        DialogBoxParamA(instance, MAKEINTRESOURCEA(INNER_DIALOG), dialog, RecordingProc, 0);
  }
  return TRUE;
}

inline LRESULT ProbeProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (recorder && msg != WM_CREATE && msg != WM_DESTROY && msg != WM_PAINT && msg != WM_GETTEXT) {
    recorder->probeInput.push_back({wnd, msg, wParam, lParam, nullptr});
  }
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

// Each test starts with an empty script and a fresh recorder.
class ModalDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::User().Clear();
    instance = platform::RegisterStaticModule(&TABLE);
    recorder = &rec;
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = "Probe";
    RegisterClassA(&wc);
  }
  void TearDown() override {
    UnregisterClassA("Probe", nullptr);
    recorder = nullptr;
    platform::ReleaseStaticModule(instance);
    platform::User().Clear();
  }
  INT_PTR Run(WORD id, HWND owner = nullptr, LPARAM param = 0) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, RecordingProc, param);
  }

  Recorder rec;
};

inline std::string Text(HWND wnd) {
  char buffer[64];
  GetWindowTextA(wnd, buffer, sizeof buffer);
  return buffer;
}

}  // namespace test_dialogs
