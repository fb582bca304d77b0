// dialogs.cpp: modal dialogs built from a module's dialog templates.
//
// DialogBoxParamA builds the dialog window and its controls from the
// template, lets the dialog procedure initialise them, then runs the modal
// loop: paint what is invalid, stop once EndDialog was called, otherwise
// perform the scripted user's next action. A loop whose script runs out
// sends the dialog IDCANCEL and, if that does not end it, ends it with
// IDCANCEL itself, so no dialog outlives its script (unless a waiting user
// supplies more, modal_loop.h). Dialogs nest: a dialog opened while another
// is open runs its own loop, and actions go to it.
#include <cstdint>
#include <vector>

#include "platform/modal_loop.h"
#include "platform/resources.h"
#include "platform/standard_classes.h"
#include "platform/user_actions.h"
#include "platform/window_internal.h"

namespace {

// The state of one running modal loop. It outlives its window, so a dialog
// destroyed from inside its own loop still has a result.
struct ModalFrame {
  HWND dialog;
  bool ended = false;
  INT_PTR result = IDCANCEL;
};

std::vector<ModalFrame*>& OpenFrames() {
  static std::vector<ModalFrame*> frames;
  return frames;
}

// Registers a frame for the duration of its modal loop.
class FrameScope {
 public:
  explicit FrameScope(ModalFrame& frame) { OpenFrames().push_back(&frame); }
  ~FrameScope() { OpenFrames().pop_back(); }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
};

// Makes the dialog active and restores the previous active window and focus
// when the dialog is done.
class ActivationScope {
 public:
  explicit ActivationScope(HWND dialog) : focus(GetFocus()) { previous = SetActiveWindow(dialog); }
  ~ActivationScope() {
    SetActiveWindow(previous);
    platform::SetFocusWindow(focus);
  }
  ActivationScope(const ActivationScope&) = delete;
  ActivationScope& operator=(const ActivationScope&) = delete;

 private:
  HWND previous = nullptr;
  HWND focus;
};

ModalFrame* FrameOf(HWND dialog) {
  for (ModalFrame* frame : OpenFrames()) {
    if (frame->dialog == dialog) return frame;
  }
  return nullptr;
}

bool IsDialog(HWND wnd) {
  return IsWindow(wnd) && platform::FindClassProcedure(wnd->className) == platform::DialogProcedure;
}

void SendCommand(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The identifier that Enter chooses: the default push button's, or IDOK
// when the dialog has none. 0 when the default push button is disabled.
int DefaultButtonId(HWND dialog) {
  for (HWND child : dialog->children) {
    if (platform::FindClassProcedure(child->className) == platform::ButtonProcedure &&
        (child->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      return IsWindowEnabled(child) ? static_cast<int>(child->id) : 0;
    }
  }
  return IDOK;
}

HWND FirstEnabledTabStop(HWND dialog) {
  for (HWND child : dialog->children) {
    if ((child->style & WS_TABSTOP) && IsWindowEnabled(child)) return child;
  }
  return nullptr;
}

// What the system does with a message that the dialog procedure left alone.
LRESULT DefaultDialogProcessing(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        SendCommand(dialog, IDCANCEL);
      } else if (wParam == VK_RETURN) {
        if (const int id = DefaultButtonId(dialog)) SendCommand(dialog, id);
      }
      return 0;
    case WM_SYSCOMMAND:
      if (wParam == SC_CLOSE) SendCommand(dialog, IDCANCEL);
      return 0;
    case WM_CLOSE:
      // A dialog is closed by its procedure through EndDialog, never destroyed here.
      SendCommand(dialog, IDCANCEL);
      return 0;
    default:
      return DefWindowProcA(dialog, msg, wParam, lParam);
  }
}

// The dialog font's average character width and height in pixels. Nothing
// is drawn here, so the platform knows one font's metrics: the 8-point
// "MS Sans Serif" of the module's dialogs at 96 dots per inch, 6 x 13,
// scaled for other point sizes; without DS_SETFONT, the system font's.
constexpr LONG FONT_BASE_X = 6;
constexpr LONG FONT_BASE_Y = 13;
constexpr LONG FONT_BASE_POINTS = 8;
constexpr LONG SYSTEM_BASE_X = 8;
constexpr LONG SYSTEM_BASE_Y = 16;

// a * b / c rounded half away from zero.
LONG MulDiv(LONG a, LONG b, LONG c) {
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = c / 2;
  return static_cast<LONG>(product >= 0 ? (product + half) / c : (product - half) / c);
}

void SetBaseUnits(HWND dialog, const DialogTemplate& tmpl) {
  if ((tmpl.style & DS_SETFONT) && tmpl.pointSize > 0) {
    dialog->baseUnitX = MulDiv(FONT_BASE_X, tmpl.pointSize, FONT_BASE_POINTS);
    dialog->baseUnitY = MulDiv(FONT_BASE_Y, tmpl.pointSize, FONT_BASE_POINTS);
  } else {
    dialog->baseUnitX = SYSTEM_BASE_X;
    dialog->baseUnitY = SYSTEM_BASE_Y;
  }
}

const DialogTemplate* FindTemplate(HINSTANCE instance, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) return nullptr;
  const WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  return static_cast<const DialogTemplate*>(
      platform::FindModuleResource(instance, RT_DIALOG_TYPE, id));
}

// Creates the dialog window and its controls, in template order. On any
// failure everything created is destroyed again and null returned; the
// dialog procedure is attached later, so it sees none of this.
HWND BuildDialog(HINSTANCE instance, const DialogTemplate& tmpl, HWND owner) {
  if (tmpl.itemCount && !tmpl.items) return nullptr;
  HWND dialog =
      CreateWindowExA(tmpl.exStyle, platform::DIALOG_CLASS, tmpl.caption, tmpl.style | WS_POPUP,
                      tmpl.x, tmpl.y, tmpl.cx, tmpl.cy, owner, 0, instance, nullptr);
  if (!dialog) return nullptr;
  SetBaseUnits(dialog, tmpl);
  for (WORD i = 0; i < tmpl.itemCount; ++i) {
    const DialogItemTemplate& item = tmpl.items[i];
    HWND control = CreateWindowExA(
        item.exStyle, item.windowClass, item.text, item.style, item.x, item.y, item.cx, item.cy,
        dialog, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.id)), instance, nullptr);
    if (!control) {
      DestroyWindow(dialog);
      return nullptr;
    }
    if (platform::FindClassProcedure(control->className) == platform::StaticProcedure &&
        (item.style & SS_TYPEMASK) == SS_BITMAP) {
      control->image = platform::FindModuleResource(instance, RT_BITMAP_TYPE, item.imageId);
    }
  }
  return dialog;
}

void RunModalLoop(ModalFrame& frame) {
  bool cancelSent = false;
  for (;;) {
    platform::PaintAllInvalid();
    if (frame.ended || !IsWindow(frame.dialog)) return;
    if (platform::PerformNextAction(frame.dialog)) continue;
    if (cancelSent) {
      EndDialog(frame.dialog, IDCANCEL);
    } else {
      cancelSent = true;
      SendCommand(frame.dialog, IDCANCEL);
    }
  }
}

}  // namespace

namespace platform {

LRESULT DialogProcedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (wnd->dialogProc) {
    const INT_PTR handled = wnd->dialogProc(wnd, msg, wParam, lParam);
    if (handled) return handled;
    // The dialog procedure may have destroyed its own window.
    if (!IsWindow(wnd)) return 0;
  }
  return DefaultDialogProcessing(wnd, msg, wParam, lParam);
}

std::vector<HWND> OpenModalDialogs() {
  std::vector<HWND> dialogs;
  for (const ModalFrame* frame : OpenFrames()) {
    if (IsWindow(frame->dialog)) dialogs.push_back(frame->dialog);
  }
  return dialogs;
}

}  // namespace platform

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
  const DialogTemplate* tmpl = FindTemplate(instance, templateName);
  if (!tmpl) return -1;
  HWND dialog = BuildDialog(instance, *tmpl, parent);
  if (!dialog) return -1;

  ModalFrame frame{dialog};
  {
    FrameScope open(frame);
    ActivationScope active(dialog);
    dialog->dialogProc = proc;
    if (tmpl->style & DS_SETFONT) SendMessageA(dialog, WM_SETFONT, 0, FALSE);
    if (IsWindow(dialog)) {
      const LRESULT setFocus = SendMessageA(
          dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(FirstEnabledTabStop(dialog)), initParam);
      if (setFocus && IsWindow(dialog)) platform::SetFocusWindow(FirstEnabledTabStop(dialog));
    }
    RunModalLoop(frame);
    DestroyWindow(dialog);
  }
  return frame.result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  if (!IsDialog(dialog)) return FALSE;
  dialog->dialogEnded = true;
  dialog->dialogResult = result;
  if (ModalFrame* frame = FrameOf(dialog)) {
    frame->ended = true;
    frame->result = result;
  }
  return TRUE;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
  if (!IsDialog(dialog) || !rect) return FALSE;
  rect->left = MulDiv(rect->left, dialog->baseUnitX, 4);
  rect->right = MulDiv(rect->right, dialog->baseUnitX, 4);
  rect->top = MulDiv(rect->top, dialog->baseUnitY, 8);
  rect->bottom = MulDiv(rect->bottom, dialog->baseUnitY, 8);
  return TRUE;
}
