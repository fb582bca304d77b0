// services_check.cpp (Windows): checked when the Windows build compiles,
// that the headless services (platform/headless_win32.h) agree with
// <windows.h> in every number, width and signedness that the module and
// the host share, so that the same sources mean the same on both. It
// defines nothing.
//
// The headless header is read first, into a namespace of its own, and the
// values it gives are kept under their names; <windows.h>, read after it,
// turns the same names into its own values, which are compared with them.
#include <cstddef>
#include <cstdint>
#include <type_traits>

// clang-format off
#define KESTRION_SHARED_CONSTANTS(X)                                                              \
  X(TRUE) X(FALSE) X(WM_CREATE) X(WM_DESTROY) X(WM_ENABLE) X(WM_SETTEXT) X(WM_GETTEXT)            \
  X(WM_GETTEXTLENGTH) X(WM_PAINT) X(WM_CLOSE) X(WM_SETFONT) X(WM_KEYDOWN) X(WM_CHAR)              \
  X(WM_INITDIALOG) X(WM_COMMAND) X(WM_SYSCOMMAND) X(WM_MOUSEMOVE) X(WM_LBUTTONDOWN)               \
  X(WM_LBUTTONUP) X(WM_RBUTTONDOWN) X(WM_USER) X(BM_GETCHECK) X(BM_SETCHECK) X(STM_SETIMAGE)      \
  X(STM_GETIMAGE) X(BN_CLICKED) X(SC_CLOSE) X(VK_RETURN) X(VK_ESCAPE) X(MK_LBUTTON)               \
  X(BST_UNCHECKED) X(BST_CHECKED) X(WS_POPUP) X(WS_CHILD) X(WS_VISIBLE) X(WS_DISABLED)            \
  X(WS_CAPTION) X(WS_SYSMENU) X(WS_GROUP) X(WS_TABSTOP) X(DS_SETFONT) X(DS_MODALFRAME)            \
  X(BS_PUSHBUTTON) X(BS_DEFPUSHBUTTON) X(BS_GROUPBOX) X(BS_AUTORADIOBUTTON) X(BS_TYPEMASK)        \
  X(SS_LEFT) X(SS_CENTER) X(SS_RIGHT) X(SS_BITMAP) X(SS_TYPEMASK) X(IDOK) X(IDCANCEL) X(MB_OK)    \
  X(DLL_PROCESS_DETACH) X(DLL_PROCESS_ATTACH) X(DLL_THREAD_ATTACH) X(DLL_THREAD_DETACH)           \
  X(CS_GLOBALCLASS) X(GWLP_USERDATA)

#define KESTRION_SHARED_TYPES(X)                                                                  \
  X(BOOL) X(UINT) X(DWORD) X(WORD) X(BYTE) X(LONG) X(WPARAM) X(LPARAM) X(LRESULT) X(INT_PTR)      \
  X(UINT_PTR) X(LONG_PTR) X(HWND) X(HINSTANCE) X(HMODULE) X(HCURSOR) X(HMENU) X(RECT)             \
  X(CREATESTRUCTA) X(WNDPROC) X(DLGPROC)
// clang-format on

namespace headless {
#include "platform/headless_win32.h"

#define KEEP_VALUE(name) constexpr long long name##_VALUE = static_cast<long long>(name);
KESTRION_SHARED_CONSTANTS(KEEP_VALUE)
#undef KEEP_VALUE
}  // namespace headless

// The headless header's own macros give way to <windows.h>'s.
#undef IDC_ARROW
#undef WINAPI
#undef CALLBACK

#include "platform/win32.h"

namespace {

#define SAME_VALUE(name)                                                \
  static_assert(headless::name##_VALUE == static_cast<long long>(name), \
                #name " differs between the headless services and <windows.h>");
KESTRION_SHARED_CONSTANTS(SAME_VALUE)
#undef SAME_VALUE

template <class A, class B>
constexpr bool SameShape() {
  if constexpr (std::is_integral_v<A> || std::is_integral_v<B>) {
    return sizeof(A) == sizeof(B) && std::is_signed_v<A> == std::is_signed_v<B>;
  } else {
    return sizeof(A) == sizeof(B) && alignof(A) == alignof(B);
  }
}

#define SAME_SHAPE(name)                             \
  static_assert(SameShape<headless::name, ::name>(), \
                #name " has another width, alignment or signedness in <windows.h>");
KESTRION_SHARED_TYPES(SAME_SHAPE)
#undef SAME_SHAPE

static_assert(offsetof(headless::RECT, bottom) == offsetof(::RECT, bottom));

// The window and dialog procedures of the module and the host are written
// CALLBACK, which is what <windows.h> asks of them.
static_assert(std::is_same_v<WNDPROC, LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM)>);
static_assert(std::is_same_v<DLGPROC, INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM)>);

}  // namespace
