#include "host/custom_controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/messages.h"
#include "tests/host/recording_window.h"

namespace {

constexpr int SPIN_ID = 1006;
constexpr int EDIT_ID = 1005;

struct Note {
  UINT msg;
  int id;
  int high;
  bool operator==(const Note&) const = default;
};

LPARAM At(int y) { return MAKELPARAM(0, static_cast<WORD>(static_cast<int16_t>(y))); }

class SpinnerControl : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCustomControls(nullptr);
    InitCustomControls(nullptr);  // a second start-up changes nothing
    spinWnd = Create(SPINNER_CLASS, SPIN_ID);
    editWnd = Create(CUSTEDIT_CLASS, EDIT_ID);
    spin = GetISpinner(spinWnd);
    ASSERT_NE(spin, nullptr);
    spin->LinkToEdit(editWnd, EDITTYPE_FLOAT);
    spin->SetFloatLimits(0.0f, 1000.0f, 0);
    spin->SetFloatValue(50.0f, 0);
    parent.Clear();
  }
  void TearDown() override {
    if (spin) ReleaseISpinner(spin);
    EXPECT_EQ(OutstandingSpinners(), 0);
  }

  HWND Create(const char* cls, int id) {
    return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, parent.hwnd,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, nullptr);
  }
  std::vector<Note> Notes() const {
    std::vector<Note> notes;
    for (const auto& m : parent.Received()) {
      notes.push_back({m.msg, LOWORD(m.wParam), HIWORD(m.wParam)});
    }
    return notes;
  }
  std::string EditText() const {
    char text[64];
    GetWindowTextA(editWnd, text, sizeof text);
    return text;
  }
  void Mouse(UINT msg, int y = 0) { SendMessageA(spinWnd, msg, 0, At(y)); }
  void TypeAndEnter(const char* text) {
    SetWindowTextA(editWnd, text);
    SendMessageA(editWnd, WM_KEYDOWN, VK_RETURN, 0);
  }

  kestrion_test::RecordingWindow parent;
  HWND spinWnd = nullptr;
  HWND editWnd = nullptr;
  ISpinnerControl* spin = nullptr;
};

TEST_F(SpinnerControl, AcceptedDragSendsPressChangesAndAcceptingRelease) {
  EXPECT_EQ(EditText(), "50.0");
  Mouse(WM_LBUTTONDOWN, 0);
  Mouse(WM_MOUSEMOVE, -100);
  EXPECT_FLOAT_EQ(spin->GetFloatValue(), 60.0f);
  Mouse(WM_MOUSEMOVE, -300);
  EXPECT_EQ(spin->GetFloatValue(), 80.0f) << "exactly, not 80.00001";
  EXPECT_EQ(EditText(), "80.0");
  Mouse(WM_LBUTTONUP, -300);
  EXPECT_EQ(Notes(), (std::vector<Note>{{SPINNER_PRESS, SPIN_ID, 0},
                                        {SPINNER_CHANGE, SPIN_ID, 0},
                                        {SPINNER_CHANGE, SPIN_ID, 0},
                                        {SPINNER_RELEASE, SPIN_ID, 1}}));
  EXPECT_EQ(parent.Received(SPINNER_PRESS)[0].lParam, reinterpret_cast<LPARAM>(spinWnd));

  parent.Clear();
  Mouse(WM_MOUSEMOVE, -500);
  Mouse(WM_LBUTTONUP);
  EXPECT_TRUE(Notes().empty()) << "moves and releases without a press do nothing";
  EXPECT_EQ(spin->GetFloatValue(), 80.0f);
}

TEST_F(SpinnerControl, RightButtonCancelsTheDragAndRestoresSilently) {
  Mouse(WM_LBUTTONDOWN, 7);
  Mouse(WM_MOUSEMOVE, 27);  // 20 pixels down
  EXPECT_FLOAT_EQ(spin->GetFloatValue(), 48.0f);
  Mouse(WM_RBUTTONDOWN, 27);
  EXPECT_EQ(spin->GetFloatValue(), 50.0f);
  EXPECT_EQ(EditText(), "50.0");
  EXPECT_EQ(Notes(), (std::vector<Note>{{SPINNER_PRESS, SPIN_ID, 0},
                                        {SPINNER_CHANGE, SPIN_ID, 0},
                                        {SPINNER_RELEASE, SPIN_ID, 0}}));
  parent.Clear();
  Mouse(WM_RBUTTONDOWN);
  EXPECT_TRUE(Notes().empty());
}

TEST_F(SpinnerControl, IntegerSpinnerStepsOnePerPixelAndShowsIntegers) {
  spin->LinkToEdit(editWnd, EDITTYPE_INT);
  spin->SetIntLimits(-100, 100, 0);
  spin->SetIntValue(5, 0);
  EXPECT_EQ(EditText(), "5");
  Mouse(WM_LBUTTONDOWN, 10);
  Mouse(WM_MOUSEMOVE, 17);
  EXPECT_EQ(spin->GetIntValue(), -2);
  EXPECT_EQ(EditText(), "-2");
  Mouse(WM_MOUSEMOVE, 500);
  Mouse(WM_MOUSEMOVE, 600);
  EXPECT_EQ(spin->GetIntValue(), -100);
  EXPECT_EQ(parent.Received(SPINNER_CHANGE).size(), 2u) << "no change while held at the limit";

  TypeAndEnter("+7.6");
  EXPECT_EQ(spin->GetIntValue(), 8);
  EXPECT_EQ(EditText(), "8");
}

TEST_F(SpinnerControl, SetValueNotifiesOnlyWhenAskedAndHoldsToLimits) {
  spin->SetFloatValue(3.5f, 0);
  EXPECT_TRUE(Notes().empty());
  EXPECT_EQ(EditText(), "3.5");
  spin->SetFloatValue(4.25f, 1);
  EXPECT_EQ(Notes(), (std::vector<Note>{{SPINNER_CHANGE, SPIN_ID, 0}}));
  spin->SetFloatValue(5000.0f, 0);
  EXPECT_EQ(spin->GetFloatValue(), 1000.0f);
  spin->SetFloatValue(-0.0001f, 0);
  EXPECT_EQ(EditText(), "0.0");

  spin->SetFloatValue(900.0f, 0);
  spin->SetFloatLimits(10.0f, 1.0f, 0);  // reversed limits are put in order
  EXPECT_EQ(spin->FloatMinimum(), 1.0f);
  EXPECT_EQ(spin->GetFloatValue(), 900.0f) << "limitCurrent 0 leaves the value";
  spin->SetFloatLimits(1.0f, 10.0f, 1);
  EXPECT_EQ(spin->GetFloatValue(), 10.0f);
  spin->SetKeyIndication(7);
  EXPECT_EQ(spin->KeyIndication(), 1) << "any non-zero is on";
}

TEST_F(SpinnerControl, TypedNumberChangesTheSpinnerThenReportsTheEntryOthersAreRefused) {
  TypeAndEnter(" 12.3456 ");
  EXPECT_FLOAT_EQ(spin->GetFloatValue(), 12.3456f);
  EXPECT_EQ(EditText(), "12.346");
  EXPECT_EQ(Notes(),
            (std::vector<Note>{{SPINNER_CHANGE, SPIN_ID, 0}, {CUSTEDIT_ENTER, EDIT_ID, 0}}));

  parent.Clear();
  TypeAndEnter("-5");
  EXPECT_EQ(spin->GetFloatValue(), 0.0f) << "held to the limits";
  EXPECT_EQ(Notes().size(), 2u);

  parent.Clear();
  for (const char* bad : {"abc", "", "12x", "1e999", "nan", "+-3", "3 4"}) {
    TypeAndEnter(bad);
    EXPECT_EQ(EditText(), "0.0") << "not a number: the display is restored";
  }
  EXPECT_TRUE(Notes().empty()) << "and no entry is reported";
}

TEST_F(SpinnerControl, InterfacesAreCountedAndSurviveTheirWindows) {
  EXPECT_EQ(OutstandingSpinners(), 1);
  ISpinnerControl* again = GetISpinner(spinWnd);
  EXPECT_EQ(again, spin);
  EXPECT_EQ(OutstandingSpinners(), 2);
  EXPECT_EQ(GetISpinner(editWnd), nullptr);
  EXPECT_EQ(GetISpinner(parent.hwnd), nullptr);
  EXPECT_EQ(OutstandingSpinners(), 2);
  ReleaseISpinner(again);
  ReleaseISpinner(nullptr);

  HWND otherEdit = Create(CUSTEDIT_CLASS, 1003);
  spin->LinkToEdit(otherEdit, EDITTYPE_FLOAT);
  DestroyWindow(otherEdit);
  EXPECT_EQ(spin->LinkedEdit(), nullptr);
  spin->SetFloatValue(20.0f, 0);  // must not touch the destroyed edit

  DestroyWindow(spinWnd);  // released after its window is gone, as a dialog does
  EXPECT_EQ(OutstandingSpinners(), 1);
  TypeAndEnter("3");
  EXPECT_EQ(Notes(), (std::vector<Note>{{CUSTEDIT_ENTER, EDIT_ID, 0}}))
      << "an unlinked edit only reports the entry";
}

TEST_F(SpinnerControl, RelinkingMovesTheEditToTheNewSpinner) {
  HWND otherWnd = Create(SPINNER_CLASS, 1004);
  ISpinnerControl* other = GetISpinner(otherWnd);
  other->LinkToEdit(editWnd, EDITTYPE_FLOAT);
  EXPECT_EQ(spin->LinkedEdit(), nullptr);
  TypeAndEnter("7.5");
  EXPECT_EQ(other->GetFloatValue(), 7.5f);
  EXPECT_EQ(spin->GetFloatValue(), 50.0f);
  EXPECT_EQ(Notes().front(), (Note{SPINNER_CHANGE, 1004, 0}));
  ReleaseISpinner(other);
}

TEST(CenterWindow, CentresOverAWindowOrTheWorkAreaKeepingTheSize) {
  kestrion_test::RecordingWindow over;  // 300 x 200 at (100, 50)
  kestrion_test::RecordingWindow box;
  MoveWindow(box.hwnd, 7, 9, 201, 99, FALSE);
  CenterWindow(box.hwnd, over.hwnd);
  RECT r;
  GetWindowRect(box.hwnd, &r);
  EXPECT_EQ(r.left, 149);
  EXPECT_EQ(r.top, 100);
  EXPECT_EQ(r.right - r.left, 201);
  EXPECT_EQ(r.bottom - r.top, 99);
  CenterWindow(box.hwnd, nullptr);
  GetWindowRect(box.hwnd, &r);
  EXPECT_EQ(r.left, 859);
  EXPECT_EQ(r.top, 490);
}

}  // namespace
