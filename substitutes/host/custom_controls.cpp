#include "host/custom_controls.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "host/control_base.h"
#include "host/messages.h"

namespace {

constexpr double INT_STEP = 1.0;    // per pixel of drag
constexpr double FLOAT_STEP = 0.1;  // per pixel of drag
constexpr int WORK_AREA_WIDTH = 1920;
constexpr int WORK_AREA_HEIGHT = 1080;
constexpr int EDIT_TEXT_MAX = 64;

class Spinner;
// Every live spinner and custom edit, by window; an edit maps to the
// spinner it is linked to (or null). Links are dropped from both sides when
// either window is destroyed, so neither holds a dead handle.
std::map<HWND, std::unique_ptr<Spinner>> spinners;
std::map<HWND, HWND> edits;
// Spinner interfaces handed out by GetISpinner and not yet released. Keys
// are never dereferenced: a release may come after the window is gone.
std::map<const ISpinnerControl*, int> outstanding;

Spinner* FindSpinner(HWND wnd) {
  auto it = spinners.find(wnd);
  return it == spinners.end() ? nullptr : it->second.get();
}

int ToInt(double v) {
  return static_cast<int>(std::lround(std::clamp<double>(v, INT_MIN, INT_MAX)));
}

// "%.3f" without the trailing zeros, keeping one decimal: 80.0, 2.5, 0.125.
std::string FormatFloat(double v) {
  char buffer[EDIT_TEXT_MAX];
  std::snprintf(buffer, sizeof buffer, "%.3f", v);
  std::string text = buffer;
  while (text.size() > 2 && text.back() == '0' && text[text.size() - 2] != '.') text.pop_back();
  if (text == "-0.0") text = "0.0";
  return text;
}

// A finite decimal number filling the whole text (blanks and a '+' around
// it allowed); false otherwise.
bool ParseNumber(const std::string& text, double& value) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return false;
  const size_t end = text.find_last_not_of(" \t") + 1;
  const char* first = text.data() + begin;
  const char* last = text.data() + end;
  if (*first == '+') {
    ++first;
    if (first == last || *first == '-') return false;
  }
  const auto [stop, error] = std::from_chars(first, last, value);
  return error == std::errc() && stop == last && std::isfinite(value);
}

void Notify(HWND from, UINT msg, WORD high) {
  HWND parent = GetParent(from);
  if (!parent) return;
  SendMessageA(parent, msg, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(from)), high),
               reinterpret_cast<LPARAM>(from));
}

class Spinner final : public ISpinnerControl {
 public:
  explicit Spinner(HWND wnd) : wnd(wnd) {}

  void LinkToEdit(HWND newEdit, int editType) override {
    isFloat = editType == EDITTYPE_FLOAT;
    if (edit) edits[edit] = nullptr;
    edit = nullptr;
    auto it = edits.find(newEdit);
    if (it == edits.end()) return;  // only custom edits can be linked
    if (Spinner* other = FindSpinner(it->second)) other->edit = nullptr;
    it->second = wnd;
    edit = newEdit;
    Show();
  }
  void SetIntLimits(int lo, int hi, int limitCurrent) override {
    isFloat = false;
    SetLimits(lo, hi, limitCurrent);
  }
  void SetFloatLimits(float lo, float hi, int limitCurrent) override {
    isFloat = true;
    SetLimits(lo, hi, limitCurrent);
  }
  void SetIntValue(int v, int notify) override { SetValue(v, notify); }
  void SetFloatValue(float v, int notify) override { SetValue(v, notify); }
  int GetIntValue() override { return ToInt(value); }
  float GetFloatValue() override { return static_cast<float>(value); }
  void SetKeyIndication(int on) override { key = on ? 1 : 0; }
  int KeyIndication() override { return key; }
  float FloatMinimum() override { return static_cast<float>(minimum); }
  float FloatMaximum() override { return static_cast<float>(maximum); }
  int IntMinimum() override { return ToInt(minimum); }
  int IntMaximum() override { return ToInt(maximum); }
  HWND LinkedEdit() override { return edit; }

  void Press(int y) {
    pressed = true;
    pressY = y;
    valueAtPress = value;
    Notify(wnd, SPINNER_PRESS, 0);
  }
  void Drag(int y) {
    if (!pressed) return;
    const int pixels = pressY - y;  // upward is positive
    const double before = value;
    Store(valueAtPress + pixels * (isFloat ? FLOAT_STEP : INT_STEP));
    if (value != before) Notify(wnd, SPINNER_CHANGE, 0);
  }
  void Release(bool accept) {
    if (!pressed) return;
    pressed = false;
    if (!accept) Store(valueAtPress);
    Notify(wnd, SPINNER_RELEASE, accept ? 1 : 0);
  }
  // A number entered in the linked edit.
  void Enter(double v) { SetValue(v, 1); }
  void Unlink() { edit = nullptr; }
  // Puts the value back into the linked edit.
  void Show() {
    if (edit)
      SetWindowTextA(edit, (isFloat ? FormatFloat(value) : std::to_string(ToInt(value))).c_str());
  }

 private:
  void SetLimits(double lo, double hi, int limitCurrent) {
    minimum = std::min(lo, hi);
    maximum = std::max(lo, hi);
    if (limitCurrent) Store(value);
  }
  void SetValue(double v, int notify) {
    Store(v);
    if (notify) Notify(wnd, SPINNER_CHANGE, 0);
  }
  // Holds v to the limits and to the spinner's kind, and shows it.
  void Store(double v) {
    v = std::clamp(v, minimum, maximum);
    value = isFloat ? static_cast<double>(static_cast<float>(v)) : std::round(v);
    Show();
  }

  HWND wnd;
  HWND edit = nullptr;
  bool isFloat = false;
  double value = 0.0;
  double minimum = INT_MIN;
  double maximum = INT_MAX;
  int key = 0;
  bool pressed = false;
  int pressY = 0;
  double valueAtPress = 0.0;
};

LRESULT CALLBACK SpinnerProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      spinners[wnd] = std::make_unique<Spinner>(wnd);
      return 0;
    case WM_DESTROY:
      if (Spinner* spinner = FindSpinner(wnd); spinner && spinner->LinkedEdit()) {
        edits[spinner->LinkedEdit()] = nullptr;
      }
      spinners.erase(wnd);
      return 0;
    case WM_LBUTTONDOWN:
      if (Spinner* spinner = FindSpinner(wnd)) {
        CaptureDrag(wnd);
        spinner->Press(GET_Y_LPARAM(lParam));
      }
      return 0;
    case WM_MOUSEMOVE:
      if (Spinner* spinner = FindSpinner(wnd)) spinner->Drag(GET_Y_LPARAM(lParam));
      return 0;
    case WM_LBUTTONUP:
      EndDragCapture(wnd);
      if (Spinner* spinner = FindSpinner(wnd)) spinner->Release(true);
      return 0;
    case WM_RBUTTONDOWN:
      EndDragCapture(wnd);
      if (Spinner* spinner = FindSpinner(wnd)) spinner->Release(false);
      return 0;
    case WM_PAINT: {
      Spinner* spinner = FindSpinner(wnd);
      return PaintSpinner(wnd, spinner && spinner->KeyIndication());
    }
    default:
      return DefWindowProcA(wnd, msg, wParam, lParam);
  }
}

// Enter in a custom edit: see the header. Text that is not a number is
// replaced by the spinner's value and the entry is not reported.
void EditEnter(HWND edit) {
  Spinner* spinner = FindSpinner(edits[edit]);
  if (spinner) {
    std::string text(static_cast<size_t>(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
    text.resize(
        static_cast<size_t>(GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
    double v = 0.0;
    if (!ParseNumber(text, v)) {
      spinner->Show();
      return;
    }
    spinner->Enter(v);
  }
  // The spinner's parent may have destroyed the edit meanwhile.
  if (IsWindow(edit)) Notify(edit, CUSTEDIT_ENTER, 0);
}

// Whatever the edit does not handle itself is the text field's own
// (EditDefault): typing, the caret and painting where there is a screen.
LRESULT CALLBACK EditProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      edits[wnd] = nullptr;
      return EditDefault(wnd, msg, wParam, lParam);
    case WM_DESTROY:
      if (Spinner* spinner = FindSpinner(edits[wnd])) spinner->Unlink();
      edits.erase(wnd);
      return EditDefault(wnd, msg, wParam, lParam);
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        EditEnter(wnd);
        return 0;
      }
      return EditDefault(wnd, msg, wParam, lParam);
    default:
      return EditDefault(wnd, msg, wParam, lParam);
  }
}

}  // namespace

// The classes belong to the host, not to the module that asks for them, so
// they are registered as global classes, without an instance: the module's
// dialogs find them. Registering again is harmless.
void InitCustomControls(HINSTANCE) {
  RegisterEditClass(CUSTEDIT_CLASS, EditProc);
  RegisterSpinnerClass(SPINNER_CLASS, SpinnerProc);
}

ISpinnerControl* GetISpinner(HWND wnd) {
  Spinner* spinner = FindSpinner(wnd);
  if (spinner) ++outstanding[spinner];
  return spinner;
}

void ReleaseISpinner(ISpinnerControl* spinner) {
  auto it = outstanding.find(spinner);
  if (it == outstanding.end()) return;
  if (--it->second == 0) outstanding.erase(it);
}

int OutstandingSpinners() {
  int count = 0;
  for (const auto& entry : outstanding) count += entry.second;
  return count;
}

void CenterWindow(HWND wnd, HWND over) {
  RECT own;
  if (!GetWindowRect(wnd, &own)) return;
  RECT area{0, 0, WORK_AREA_WIDTH, WORK_AREA_HEIGHT};
  if (over) GetWindowRect(over, &area);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  const int x = area.left + ((area.right - area.left) - width) / 2;
  const int y = area.top + ((area.bottom - area.top) - height) / 2;
  MoveWindow(wnd, x, y, width, height, FALSE);
}
