// headless_win32.h: the Windows user-interface services that Kestrion uses,
// under their Windows names and signatures, implemented headlessly. Code
// includes platform/win32.h, which chooses between this and <windows.h>;
// names, widths, message numbers and styles agree with <windows.h>, which
// platform/windows/services_check.cpp checks when the Windows build
// compiles.
//
// A window is a platform object with a class, a window procedure, a parent,
// an identifier, a text, a style and an "enabled" and "invalid" state. There
// is no screen and no message queue: SendMessageA calls the target's window
// procedure synchronously and returns its result. Painting is simulated: a
// window marked invalid by InvalidateRect receives WM_PAINT when the modal
// loop next becomes idle, or at once through UpdateWindow.
//
// All handles are pointers to platform objects; a handle of 0 is "none".
//
// Threads: the registry of window classes and live windows and the active
// and focus windows are locked, so threads may register classes and create,
// send to and destroy windows at the same time. A window itself, like a
// window of a Windows thread, belongs to one thread at a time: no thread
// sends to, changes or destroys a window that another thread is using.
// Message boxes may be shown on any thread (platform/message_box.h).
// Modal dialogs and the scripted user are the user interface's, one thread
// at a time; modules are loaded and freed on one thread.
// Integer widths follow the Windows ABI of a 32-bit build where it matters
// (UINT, DWORD, WORD 32/32/16 bits; WPARAM and LPARAM pointer-sized).
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int32_t;
using UINT = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using LONG = int32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using LPCSTR = const char*;
using LPSTR = char*;
using LPVOID = void*;

// Calling conventions: __stdcall on 32-bit Windows, where <windows.h>
// defines them; the headless services have one convention only.
#define WINAPI
#define CALLBACK

struct Window;
using HWND = Window*;
struct ModuleRecord;
using HINSTANCE = ModuleRecord*;
using HMODULE = HINSTANCE;
struct CursorRecord;
using HCURSOR = const CursorRecord*;
// A child window's identifier travels in CreateWindowExA's menu argument.
struct MenuRecord;
using HMENU = MenuRecord*;

using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
  return static_cast<LPARAM>(
      static_cast<int32_t>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16)));
}
// Signed coordinates packed into an LPARAM, as the mouse messages carry them.
constexpr int GET_X_LPARAM(LPARAM lp) {
  return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
}
constexpr int GET_Y_LPARAM(LPARAM lp) {
  return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(lp)));
}

// Resource names: a small integer carried in a string pointer.
inline LPCSTR MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(id));
}
inline bool IS_INTRESOURCE(LPCSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

// Messages.
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_USER = 0x0400;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT STM_SETIMAGE = 0x0172;
constexpr UINT STM_GETIMAGE = 0x0173;

constexpr WORD BN_CLICKED = 0;
constexpr WPARAM SC_CLOSE = 0xF060;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

// Window styles.
constexpr DWORD WS_POPUP = 0x80000000u;
constexpr DWORD WS_CHILD = 0x40000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_DISABLED = 0x08000000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_GROUP = 0x00020000u;
constexpr DWORD WS_TABSTOP = 0x00010000u;
constexpr DWORD DS_SETFONT = 0x00000040u;
constexpr DWORD DS_MODALFRAME = 0x00000080u;
constexpr DWORD BS_PUSHBUTTON = 0x00000000u;
constexpr DWORD BS_DEFPUSHBUTTON = 0x00000001u;
constexpr DWORD BS_GROUPBOX = 0x00000007u;
constexpr DWORD BS_AUTORADIOBUTTON = 0x00000009u;
constexpr DWORD BS_TYPEMASK = 0x0000000Fu;
constexpr DWORD SS_LEFT = 0x00000000u;
constexpr DWORD SS_CENTER = 0x00000001u;
constexpr DWORD SS_RIGHT = 0x00000002u;
constexpr DWORD SS_BITMAP = 0x0000000Eu;
constexpr DWORD SS_TYPEMASK = 0x0000001Fu;

// Dialog results and message box.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr UINT MB_OK = 0x00000000u;

// Module attach and detach reasons.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

// Standard cursors.
inline LPCSTR IDC_ARROW_NAME() { return MAKEINTRESOURCEA(32512); }
#define IDC_ARROW IDC_ARROW_NAME()

// Window classes. A global class is found whichever module creates a
// window of it; headless, every class is.
constexpr UINT CS_GLOBALCLASS = 0x4000;

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  LPCSTR lpszClassName;
};

// What WM_CREATE's lParam points to, as on Windows: the creation arguments,
// the caller's parameter among them.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

BOOL RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
// Returns 0 when the class is unknown or the window procedure refused
// WM_CREATE (returned -1).
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR text, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE instance,
                     LPVOID param);
// Sends WM_DESTROY to the window, then destroys its children the same way.
BOOL DestroyWindow(HWND wnd);
BOOL IsWindow(HWND wnd);

LRESULT SendMessageA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Per-window storage of one pointer-sized value for the window procedure.
LONG_PTR GetWindowLongPtrA(HWND wnd, int index);
LONG_PTR SetWindowLongPtrA(HWND wnd, int index, LONG_PTR value);
constexpr int GWLP_USERDATA = -21;

HWND GetParent(HWND wnd);
// The window's first child (GW_CHILD) or its next sibling (GW_HWNDNEXT), in
// creation order, which is a dialog's template and tab order; 0 for none.
HWND GetWindow(HWND wnd, UINT command);
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_CHILD = 5;
// Copies the window's class name as it was registered; the length copied.
int GetClassNameA(HWND wnd, LPSTR buffer, int size);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND wnd);
BOOL SetWindowTextA(HWND wnd, LPCSTR text);
int GetWindowTextA(HWND wnd, LPSTR buffer, int size);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL EnableWindow(HWND wnd, BOOL enable);  // returns whether it was disabled
BOOL IsWindowEnabled(HWND wnd);
DWORD GetWindowStyle(HWND wnd);
BOOL InvalidateRect(HWND wnd, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND wnd);
BOOL GetWindowRect(HWND wnd, RECT* rect);
BOOL MoveWindow(HWND wnd, int x, int y, int width, int height, BOOL repaint);
HWND GetActiveWindow();
HWND SetActiveWindow(HWND wnd);
HWND GetFocus();

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// Shows a message box: headless, it is recorded (see platform/message_box.h)
// and answered with IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

void InitCommonControls();

// Modal dialogs from the module's resources. Returns the EndDialog code, or
// -1 when the template is missing or a control's window class is unknown.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
// Converts a rectangle in the dialog's units to pixels: x by a quarter of
// the dialog font's average character width, y by an eighth of its height.
// FALSE for a window that is not a dialog.
BOOL MapDialogRect(HWND dialog, RECT* rect);

// The module loader. LoadLibraryA opens the module file, calls its exported
// DllMain with DLL_PROCESS_ATTACH and the new instance handle, and returns
// the handle (0 when the file cannot be opened or the attach failed).
// FreeLibrary calls DllMain with DLL_PROCESS_DETACH and unloads the file.
// Loading a file that is already loaded returns the same handle and counts
// a reference; only the first load attaches and only the last free detaches.
HMODULE LoadLibraryA(LPCSTR path);
BOOL FreeLibrary(HMODULE module);
void* GetProcAddress(HMODULE module, LPCSTR name);
