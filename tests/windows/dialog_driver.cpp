// dialog_driver.cpp: the module's dialogs on the system's own services,
// worked by messages from a timer that the dialogs' modal loops dispatch:
// each tick finds the dialog by its caption and takes the next step of a
// script (look at the controls, click, type, take a screenshot, close).
// A script that has not closed its dialog after 15 s ends it, so a run
// never hangs.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/filter_pipeline.h"
#include "host/scene.h"
#include "kestrion/focus_config.h"
#include "tests/windows/windows_checks.h"
#include "ui/dialog_ids.h"

namespace kestrion_test {
namespace {

constexpr UINT TICK_MS = 150;
constexpr int MAX_TICKS = 100;
constexpr INT_PTR TIMED_OUT = -2;

using Step = std::function<void(HWND dialog)>;

struct Script {
  const char* caption;
  std::vector<Step> steps;
  HWND dialog = nullptr;
  size_t next = 0;
  int ticks = 0;
};

Script* running = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  Script* script = running;
  if (!script) return;
  if (++script->ticks > MAX_TICKS) {
    if (script->dialog) EndDialog(script->dialog, TIMED_OUT);
    return;
  }
  if (!script->dialog) script->dialog = FindWindowA(nullptr, script->caption);
  if (script->dialog && script->next < script->steps.size()) {
    script->steps[script->next++](script->dialog);
  }
}

// Runs `open` (which shows a modal dialog) while the timer works `script`.
int32_t RunScripted(Script& script, const std::function<int32_t()>& open) {
  running = &script;
  const UINT_PTR timer = SetTimer(nullptr, 0, TICK_MS, Tick);
  const int32_t result = open();
  KillTimer(nullptr, timer);
  running = nullptr;
  return result;
}

std::string ItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

// Types `text` into the edit as keystrokes, after selecting what it holds,
// then presses Enter.
void Type(HWND dialog, int id, const char* text) {
  HWND edit = GetDlgItem(dialog, id);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  for (const char* c = text; *c; ++c) SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(*c), 1);
  SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Redraw(HWND window) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME | RDW_ERASE);
  GdiFlush();
}

// The window as it is on the screen, as a 24-bit .bmp file.
bool Screenshot(HWND window, const std::string& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool written = false;
  if (dib && bits) {
    HGDIOBJ previous = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
      written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                std::fwrite(bits, imageSize, 1, out) == 1;
      written = std::fclose(out) == 0 && written;
    }
    SelectObject(memory, previous);
    DeleteObject(dib);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

// The about box's bitmap static: the child with SS_BITMAP.
HWND LogoControl(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) return child;
  }
  return nullptr;
}

LRESULT CALLBACK HostWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

// The host application's main window, over which the about box opens.
HWND CreateHostWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = HostWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  wc.lpszClassName = "KestrionTestHost";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowExA(0, wc.lpszClassName, "Test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                             30, 720, 520, nullptr, nullptr, wc.hInstance, nullptr);
  UpdateWindow(wnd);
  return wnd;
}

bool CentredOver(HWND wnd, HWND over) {
  RECT a, b;
  GetWindowRect(wnd, &a);
  GetWindowRect(over, &b);
  const auto within = [](LONG p, LONG q) { return p - q <= 1 && q - p <= 1; };
  return within(a.left + a.right, b.left + b.right) && within(a.top + a.bottom, b.top + b.bottom);
}

void ControlDialog(ImageFilter& filter, HWND host, const std::string& shots, Report& report) {
  FocusConfig config{};
  filter.SaveConfigure(&config);
  std::strncpy(config.focalObjectName, "Sphere02", FOCAL_NAME_SIZE - 1);
  config.blurRange = 17.5f;
  config.blurSize = 6.0f;
  filter.LoadConfigure(&config);

  Script script{"Kestrion Control", {}};
  script.steps = {
      [&](HWND d) {
        report.Check(ItemText(d, IDC_OBJECT_NAME) == "Sphere02",
                     "control dialog: focal object shown", ItemText(d, IDC_OBJECT_NAME));
        report.Check(ItemText(d, IDC_RANGE_EDIT) == "17.5" && ItemText(d, IDC_SIZE_EDIT) == "6.0",
                     "control dialog: range and size shown in the edits",
                     ItemText(d, IDC_RANGE_EDIT) + ", " + ItemText(d, IDC_SIZE_EDIT));
        report.Check(IsDlgButtonChecked(d, IDC_WHOLE_IMAGE) == BST_CHECKED &&
                         !IsWindowEnabled(GetDlgItem(d, IDC_OBJECT_ID_EDIT)) &&
                         !IsWindowEnabled(GetDlgItem(d, IDC_MATERIAL_ID_SPINNER)),
                     "control dialog: whole image checked, the ID controls disabled");
        Redraw(d);
      },
      [&](HWND d) {
        if (!shots.empty()) {
          report.Check(Screenshot(d, shots + "/control-dialog.bmp"), "control dialog screenshot");
        }
      },
      [&](HWND d) {
        Click(d, IDC_OBJECT_CHANNEL);
        report.Check(IsDlgButtonChecked(d, IDC_OBJECT_CHANNEL) == BST_CHECKED &&
                         IsDlgButtonChecked(d, IDC_WHOLE_IMAGE) == BST_UNCHECKED &&
                         IsWindowEnabled(GetDlgItem(d, IDC_OBJECT_ID_EDIT)) &&
                         !IsWindowEnabled(GetDlgItem(d, IDC_MATERIAL_ID_EDIT)),
                     "control dialog: a click on Object Channel enables its ID only");
        Type(d, IDC_SIZE_EDIT, "7.5");
        Type(d, IDC_OBJECT_ID_EDIT, "42");
        Type(d, IDC_RANGE_EDIT, "not a number");
        report.Check(ItemText(d, IDC_SIZE_EDIT) == "7.5" && ItemText(d, IDC_OBJECT_ID_EDIT) == "42",
                     "control dialog: typed values entered",
                     ItemText(d, IDC_SIZE_EDIT) + ", " + ItemText(d, IDC_OBJECT_ID_EDIT));
        report.Check(ItemText(d, IDC_RANGE_EDIT) == "17.5",
                     "control dialog: text that is no number restores the edit",
                     ItemText(d, IDC_RANGE_EDIT));
        Redraw(d);
      },
      [&](HWND d) {
        if (!shots.empty()) {
          report.Check(Screenshot(d, shots + "/control-dialog-edited.bmp"),
                       "edited control dialog screenshot");
        }
      },
      [&](HWND d) { Click(d, IDOK); },
  };
  const int32_t result = RunScripted(script, [&] { return filter.ShowControl(host); });
  report.Check(result == 1, "control dialog: OK returns 1", std::to_string(result));
  FocusConfig after{};
  filter.SaveConfigure(&after);
  report.Check(after.sourceMode == SOURCE_OBJECT_CHANNEL && after.objectChannelId == 42 &&
                   after.blurSize == 7.5f && after.blurRange == 17.5f &&
                   std::strcmp(after.focalObjectName, "Sphere02") == 0,
               "control dialog: OK commits source, object ID and size",
               std::to_string(after.sourceMode) + " " + std::to_string(after.objectChannelId) +
                   " " + std::to_string(after.blurSize) + " " + std::to_string(after.blurRange));
}

void AboutBox(ImageFilter& filter, HWND host, const std::string& shots, Report& report) {
  Script look{"About Kestrion", {}};
  look.steps = {
      [&](HWND d) {
        report.Check(CentredOver(d, host), "about box: centred over its parent");
        report.Check(GetCursor() == LoadCursor(nullptr, IDC_ARROW), "about box: arrow cursor");
        HWND logo = LogoControl(d);
        report.Check(logo && SendMessageA(logo, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0,
                     "about box: the logo loaded from the module's bitmap 104");
        Redraw(d);
      },
      [&](HWND d) {
        if (!shots.empty())
          report.Check(Screenshot(d, shots + "/about-box.bmp"), "about box screenshot");
      },
      [&](HWND d) { SendMessageA(d, WM_CLOSE, 0, 0); },
  };
  int32_t result = RunScripted(look, [&] { return filter.ShowAboutBox(host); });
  report.Check(result == 0, "about box: the close box returns 0", std::to_string(result));

  Script escape{"About Kestrion", {[](HWND d) {
                  PostMessageA(GetFocus() ? GetFocus() : d, WM_KEYDOWN, VK_ESCAPE, 0);
                }}};
  result = RunScripted(escape, [&] { return filter.ShowAboutBox(host); });
  report.Check(result == 0, "about box: Escape returns 0", std::to_string(result));

  Script ok{"About Kestrion", {[](HWND d) { Click(d, IDOK); }}};
  result = RunScripted(ok, [&] { return filter.ShowAboutBox(host); });
  report.Check(result == 1, "about box: OK returns 1", std::to_string(result));
}

}  // namespace

void CheckDialogs(const std::string& modulePath, const std::string& shots, Report& report) {
  HostInterface().Reset();
  std::string error;
  std::unique_ptr<FilterModule> module = FilterModule::Load(modulePath, error);
  if (!report.Check(module != nullptr, "the module loads through the host's pipeline", error))
    return;
  HWND host = CreateHostWindow();
  {
    std::unique_ptr<ImageFilter> filter = module->CreateFilter();
    if (report.Check(filter != nullptr, "the module creates a filter")) {
      ControlDialog(*filter, host, shots, report);
      AboutBox(*filter, host, shots, report);
    }
  }
  DestroyWindow(host);
  HostInterface().Reset();
}

}  // namespace kestrion_test
