// window_tree.cpp: reads the open dialogs' windows into DialogNodes.
#include "studio/window_tree.h"

#include "host/custom_controls.h"
#include "platform/modal_loop.h"
#include "studio/text.h"

namespace studio {

namespace {

constexpr int CLASS_NAME_MAX = 64;

std::string WindowText(HWND wnd) {
  std::string text(static_cast<size_t>(SendMessageA(wnd, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string ClassName(HWND wnd) {
  char name[CLASS_NAME_MAX];
  const int length = GetClassNameA(wnd, name, sizeof name);
  return std::string(name, static_cast<size_t>(length));
}

Box ToBox(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

Box InPixels(HWND dialog, RECT r) {
  MapDialogRect(dialog, &r);
  return ToBox(r);
}

std::optional<SpinnerState> ReadSpinner(HWND wnd) {
  ISpinnerControl* spinner = GetISpinner(wnd);
  if (!spinner) return std::nullopt;
  SpinnerState state;
  state.value = spinner->GetFloatValue();
  state.minimum = spinner->FloatMinimum();
  state.maximum = spinner->FloatMaximum();
  state.key = spinner->KeyIndication() != 0;
  state.edit = spinner->LinkedEdit() ? GetDlgCtrlID(spinner->LinkedEdit()) : 0;
  ReleaseISpinner(spinner);
  return state;
}

ControlNode CaptureControl(HWND dialog, HWND wnd) {
  ControlNode node;
  node.className = ClassName(wnd);
  node.id = GetDlgCtrlID(wnd);
  node.text = WindowText(wnd);
  node.style = GetWindowStyle(wnd);
  node.enabled = IsWindowEnabled(wnd) != FALSE;
  node.visible = (node.style & WS_VISIBLE) != 0;
  node.focused = GetFocus() == wnd;
  RECT rect{};
  GetWindowRect(wnd, &rect);
  node.units = ToBox(rect);
  node.pixels = InPixels(dialog, rect);
  if (SameNoCase(node.className, "BUTTON")) {
    node.checked = static_cast<uint32_t>(SendMessageA(wnd, BM_GETCHECK, 0, 0));
  } else if (SameNoCase(node.className, "STATIC") && (node.style & SS_TYPEMASK) == SS_BITMAP) {
    node.bitmap = reinterpret_cast<const BitmapResource*>(SendMessageA(wnd, STM_GETIMAGE, 0, 0));
  } else if (SameNoCase(node.className, SPINNER_CLASS)) {
    node.spinner = ReadSpinner(wnd);
  }
  return node;
}

}  // namespace

DialogNode CaptureDialog(HWND dialog) {
  DialogNode node;
  node.window = dialog;
  node.caption = WindowText(dialog);
  node.style = GetWindowStyle(dialog);
  RECT placed{};
  GetWindowRect(dialog, &placed);
  node.placed = ToBox(placed);
  node.pixels = InPixels(dialog, {0, 0, node.placed.width, node.placed.height});
  RECT base{0, 0, 4, 8};
  MapDialogRect(dialog, &base);
  node.baseUnitX = base.right;
  node.baseUnitY = base.bottom;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    node.controls.push_back(CaptureControl(dialog, child));
  }
  return node;
}

std::vector<DialogNode> CaptureOpenDialogs() {
  std::vector<DialogNode> dialogs;
  for (HWND dialog : platform::OpenModalDialogs()) dialogs.push_back(CaptureDialog(dialog));
  return dialogs;
}

const ControlNode* FindControl(const DialogNode& dialog, int32_t id) {
  for (const ControlNode& control : dialog.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

}  // namespace studio
