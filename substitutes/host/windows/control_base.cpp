// control_base.cpp (Windows): the custom edit as a superclass of the
// system's text field, the spinner drawn as two arrow buttons.
#include "host/control_base.h"

namespace {

// The system text field's procedure, taken when the edit class is
// registered.
WNDPROC systemEdit = nullptr;

void Register(const char* name, WNDPROC procedure, HCURSOR cursor) {
  WNDCLASSA wc{};
  wc.style = CS_GLOBALCLASS | CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hCursor = cursor;
  wc.lpszClassName = name;
  // Room for the system text field's own window data.
  WNDCLASSA edit{};
  if (procedure && GetClassInfoA(nullptr, "EDIT", &edit)) wc.cbWndExtra = edit.cbWndExtra;
  RegisterClassA(&wc);
}

}  // namespace

void RegisterEditClass(const char* name, WNDPROC procedure) {
  WNDCLASSA edit{};
  if (GetClassInfoA(nullptr, "EDIT", &edit)) systemEdit = edit.lpfnWndProc;
  Register(name, procedure, LoadCursor(nullptr, IDC_IBEAM));
}

void RegisterSpinnerClass(const char* name, WNDPROC procedure) {
  Register(name, procedure, LoadCursor(nullptr, IDC_SIZENS));
}

LRESULT EditDefault(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!systemEdit) return DefWindowProcA(edit, msg, wParam, lParam);
  switch (msg) {
    case WM_NCCREATE:
      // Drawn sunken, as the host's edits are; the dialog template asks
      // for no border.
      SetWindowLongPtrA(edit, GWL_EXSTYLE, GetWindowLongPtrA(edit, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
      SetWindowLongPtrA(edit, GWL_STYLE, GetWindowLongPtrA(edit, GWL_STYLE) | ES_AUTOHSCROLL);
      break;
    case WM_GETDLGCODE: {
      // Enter belongs to the edit (it makes the entry), not to the
      // dialog's default button.
      const LRESULT code = CallWindowProcA(systemEdit, edit, msg, wParam, lParam);
      const auto* key = reinterpret_cast<const MSG*>(lParam);
      if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
        return code | DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_CHAR:
      if (wParam == '\r') return 0;  // the entry was made on WM_KEYDOWN
      break;
    default:
      break;
  }
  return CallWindowProcA(systemEdit, edit, msg, wParam, lParam);
}

LRESULT PaintSpinner(HWND spinner, bool keyIndication) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(spinner, &paint);
  RECT area;
  GetClientRect(spinner, &area);
  const LONG middle = (area.top + area.bottom) / 2;
  const UINT state = IsWindowEnabled(spinner) ? 0 : DFCS_INACTIVE;
  RECT up{area.left, area.top, area.right, middle};
  RECT down{area.left, middle, area.right, area.bottom};
  DrawFrameControl(dc, &up, DFC_SCROLL, DFCS_SCROLLUP | state);
  DrawFrameControl(dc, &down, DFC_SCROLL, DFCS_SCROLLDOWN | state);
  if (keyIndication) {
    HBRUSH red = CreateSolidBrush(RGB(200, 0, 0));
    FrameRect(dc, &area, red);
    DeleteObject(red);
  }
  EndPaint(spinner, &paint);
  return 0;
}

void CaptureDrag(HWND spinner) { SetCapture(spinner); }

void EndDragCapture(HWND spinner) {
  if (GetCapture() == spinner) ReleaseCapture();
}
