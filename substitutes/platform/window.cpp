// window.cpp: windows, window classes, synchronous messages and the window
// state that dialogs and controls read and write.
//
// The registry of classes and live windows and the active and focus
// windows are shared by every thread of the process, so they are kept under
// one lock, held only while the registry itself is read or changed: never
// while a window procedure runs, which may create, destroy or send to
// windows itself. A window's own state belongs to the thread that uses the
// window (win32.h).
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/standard_classes.h"
#include "platform/window_internal.h"

namespace {

// Class names compare without regard to case, as Windows compares them.
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) <
             std::tolower(static_cast<unsigned char>(y));
    });
  }
};

using ClassMap = std::map<std::string, WNDCLASSA, NoCaseLess>;

WNDCLASSA StandardClass(const char* name, WNDPROC proc) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.lpszClassName = name;
  return wc;
}

const ClassMap& StandardClasses() {
  static const ClassMap standard{
      {platform::BUTTON_CLASS, StandardClass(platform::BUTTON_CLASS, platform::ButtonProcedure)},
      {platform::STATIC_CLASS, StandardClass(platform::STATIC_CLASS, platform::StaticProcedure)},
      {platform::DIALOG_CLASS, StandardClass(platform::DIALOG_CLASS, platform::DialogProcedure)}};
  return standard;
}

// The lock of everything below it in this namespace.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
using Locked = std::lock_guard<std::mutex>;

ClassMap& Classes() {
  static ClassMap classes = StandardClasses();
  return classes;
}

std::vector<HWND>& Live() {
  static std::vector<HWND> live;
  return live;
}

HWND activeWindow = nullptr;
HWND focusWindow = nullptr;

bool IsPopup(HWND wnd) { return (wnd->style & WS_POPUP) != 0; }

// With the registry locked.
bool AliveLocked(HWND wnd) {
  const auto& live = Live();
  return wnd && std::find(live.begin(), live.end(), wnd) != live.end();
}

bool Alive(HWND wnd) {
  const Locked locked(RegistryLock());
  return AliveLocked(wnd);
}

void CopyText(const std::string& text, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

namespace platform {

std::vector<HWND> LiveWindows() {
  const Locked locked(RegistryLock());
  return Live();
}

WNDPROC FindClassProcedure(const std::string& className) {
  const Locked locked(RegistryLock());
  auto it = Classes().find(className);
  return it == Classes().end() ? nullptr : it->second.lpfnWndProc;
}

bool EnabledWithAncestors(HWND wnd) {
  for (HWND w = wnd; w; w = IsPopup(w) ? nullptr : w->parent) {
    if (!Alive(w) || (w->style & WS_DISABLED)) return false;
  }
  return true;
}

void PaintInvalid(HWND top) {
  if (!Alive(top)) return;
  if (top->invalid) {
    top->invalid = false;
    SendMessageA(top, WM_PAINT, 0, 0);
  }
  const std::vector<HWND> children = top->children;
  for (HWND child : children) PaintInvalid(child);
}

void PaintAllInvalid() {
  // A paint may create or destroy windows: walk a copy and skip the dead.
  const std::vector<HWND> live = LiveWindows();
  for (HWND wnd : live) {
    if (Alive(wnd) && (!wnd->parent || IsPopup(wnd))) PaintInvalid(wnd);
  }
}

void SetFocusWindow(HWND wnd) {
  const Locked locked(RegistryLock());
  focusWindow = AliveLocked(wnd) ? wnd : nullptr;
}

}  // namespace platform

BOOL RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return FALSE;
  const Locked locked(RegistryLock());
  Classes()[wc->lpszClassName] = *wc;
  return TRUE;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (!className || StandardClasses().count(className)) return FALSE;
  const Locked locked(RegistryLock());
  return Classes().erase(className) ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR text, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE instance,
                     LPVOID param) {
  const UINT_PTR id = reinterpret_cast<UINT_PTR>(menuOrId);
  if (!className) return nullptr;
  WNDPROC proc = platform::FindClassProcedure(className);
  if (!proc) return nullptr;
  HWND wnd = new Window;
  wnd->className = className;
  wnd->proc = proc;
  wnd->instance = instance;
  wnd->parent = parent;
  wnd->id = id;
  wnd->text = text ? text : "";
  wnd->style = style;
  wnd->exStyle = exStyle;
  wnd->rect = {x, y, x + width, y + height};
  if (IsPopup(wnd)) wnd->popupOwner = parent;
  {
    const Locked locked(RegistryLock());
    if (parent && !AliveLocked(parent)) {
      delete wnd;
      return nullptr;
    }
    Live().push_back(wnd);
  }
  if (parent && !IsPopup(wnd)) parent->children.push_back(wnd);
  CREATESTRUCTA create{
      param, instance,  menuOrId, parent, height, width, y, x, static_cast<LONG>(style),
      text,  className, exStyle};
  if (proc(wnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(wnd);
    return nullptr;
  }
  return wnd;
}

BOOL DestroyWindow(HWND wnd) {
  if (!Alive(wnd) || wnd->destroying) return FALSE;
  wnd->destroying = true;
  // Popups owned by the window go first, as they cannot outlive it.
  std::vector<HWND> owned;
  {
    const Locked locked(RegistryLock());
    for (HWND other : Live()) {
      if (other->popupOwner == wnd) owned.push_back(other);
    }
  }
  for (HWND popup : owned) DestroyWindow(popup);
  wnd->proc(wnd, WM_DESTROY, 0, 0);
  const std::vector<HWND> children = wnd->children;
  for (HWND child : children) DestroyWindow(child);
  if (wnd->parent && Alive(wnd->parent)) {
    auto& siblings = wnd->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), wnd), siblings.end());
  }
  {
    const Locked locked(RegistryLock());
    auto& live = Live();
    live.erase(std::remove(live.begin(), live.end(), wnd), live.end());
    if (activeWindow == wnd) activeWindow = nullptr;
    if (focusWindow == wnd) focusWindow = nullptr;
  }
  delete wnd;
  return TRUE;
}

BOOL IsWindow(HWND wnd) { return Alive(wnd) ? TRUE : FALSE; }

LRESULT SendMessageA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!Alive(wnd)) return 0;
  return wnd->proc(wnd, msg, wParam, lParam);
}

LRESULT DefWindowProcA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETTEXT:
      wnd->text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
      return TRUE;
    case WM_GETTEXT:
      CopyText(wnd->text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
      return static_cast<LRESULT>(std::min(wnd->text.size(), wParam ? wParam - 1 : 0));
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(wnd->text.size());
    case WM_CLOSE:
      DestroyWindow(wnd);
      return 0;
    default:
      return 0;
  }
}

LONG_PTR GetWindowLongPtrA(HWND wnd, int index) {
  return Alive(wnd) && index == GWLP_USERDATA ? wnd->userData : 0;
}

LONG_PTR SetWindowLongPtrA(HWND wnd, int index, LONG_PTR value) {
  if (!Alive(wnd) || index != GWLP_USERDATA) return 0;
  LONG_PTR old = wnd->userData;
  wnd->userData = value;
  return old;
}

HWND GetParent(HWND wnd) { return Alive(wnd) ? wnd->parent : nullptr; }

HWND GetWindow(HWND wnd, UINT command) {
  if (!Alive(wnd)) return nullptr;
  if (command == GW_CHILD) return wnd->children.empty() ? nullptr : wnd->children.front();
  if (command != GW_HWNDNEXT || !wnd->parent || IsPopup(wnd)) return nullptr;
  const std::vector<HWND>& siblings = wnd->parent->children;
  const auto at = std::find(siblings.begin(), siblings.end(), wnd);
  return at == siblings.end() || at + 1 == siblings.end() ? nullptr : *(at + 1);
}

int GetClassNameA(HWND wnd, LPSTR buffer, int size) {
  if (!Alive(wnd) || !buffer || size <= 0) return 0;
  const auto registered = Classes().find(wnd->className);
  const std::string& name = registered == Classes().end() ? wnd->className : registered->first;
  CopyText(name, buffer, size);
  return static_cast<int>(std::min(name.size(), static_cast<size_t>(size - 1)));
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!Alive(dialog)) return nullptr;
  for (HWND child : dialog->children) {
    if (static_cast<int>(child->id) == id) return child;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND wnd) { return Alive(wnd) ? static_cast<int>(wnd->id) : 0; }

BOOL SetWindowTextA(HWND wnd, LPCSTR text) {
  if (!Alive(wnd)) return FALSE;
  return SendMessageA(wnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextA(HWND wnd, LPSTR buffer, int size) {
  if (!Alive(wnd) || !buffer || size <= 0) return 0;
  return static_cast<int>(
      SendMessageA(wnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  return SetWindowTextA(GetDlgItem(dialog, id), text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(item, buffer, size));
}

BOOL EnableWindow(HWND wnd, BOOL enable) {
  if (!Alive(wnd)) return FALSE;
  const BOOL wasDisabled = (wnd->style & WS_DISABLED) ? TRUE : FALSE;
  const bool changes = (enable != FALSE) == (wasDisabled != FALSE);
  if (enable) {
    wnd->style &= ~WS_DISABLED;
  } else {
    wnd->style |= WS_DISABLED;
  }
  if (changes) SendMessageA(wnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND wnd) { return Alive(wnd) && !(wnd->style & WS_DISABLED) ? TRUE : FALSE; }

DWORD GetWindowStyle(HWND wnd) { return Alive(wnd) ? wnd->style : 0; }

BOOL InvalidateRect(HWND wnd, const RECT*, BOOL) {
  if (!Alive(wnd)) return FALSE;
  wnd->invalid = true;
  return TRUE;
}

BOOL UpdateWindow(HWND wnd) {
  if (!Alive(wnd)) return FALSE;
  platform::PaintInvalid(wnd);
  return TRUE;
}

BOOL GetWindowRect(HWND wnd, RECT* rect) {
  if (!Alive(wnd) || !rect) return FALSE;
  *rect = wnd->rect;
  return TRUE;
}

BOOL MoveWindow(HWND wnd, int x, int y, int width, int height, BOOL repaint) {
  if (!Alive(wnd)) return FALSE;
  wnd->rect = {x, y, x + width, y + height};
  if (repaint) wnd->invalid = true;
  return TRUE;
}

HWND GetActiveWindow() {
  const Locked locked(RegistryLock());
  return AliveLocked(activeWindow) ? activeWindow : nullptr;
}

HWND SetActiveWindow(HWND wnd) {
  const Locked locked(RegistryLock());
  HWND old = AliveLocked(activeWindow) ? activeWindow : nullptr;
  activeWindow = AliveLocked(wnd) ? wnd : nullptr;
  return old;
}

HWND GetFocus() {
  const Locked locked(RegistryLock());
  return AliveLocked(focusWindow) ? focusWindow : nullptr;
}
