#include <string>

#include "test_dialogs.h"

namespace {

using namespace test_dialogs;
using platform::User;

TEST_F(ModalDialog, BuildsControlsFromTheTemplateInOrder) {
  HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, 0, nullptr, nullptr);
  User().Call([&](HWND dialog) {
    EXPECT_EQ(GetActiveWindow(), dialog);
    EXPECT_EQ(GetParent(dialog), owner);
    EXPECT_EQ(Text(dialog), "Main");
    ASSERT_EQ(dialog->children.size(), std::size(MAIN_ITEMS));
    for (size_t i = 0; i < std::size(MAIN_ITEMS); ++i) {
      HWND control = dialog->children[i];
      EXPECT_EQ(GetDlgCtrlID(control), MAIN_ITEMS[i].id) << i;
      EXPECT_EQ(Text(control), MAIN_ITEMS[i].text) << i;
      EXPECT_EQ(GetWindowStyle(control), MAIN_ITEMS[i].style) << i;
      RECT rect;
      GetWindowRect(control, &rect);
      EXPECT_EQ(rect.bottom - rect.top, MAIN_ITEMS[i].cy) << i;
    }
    const auto* logo = reinterpret_cast<const BitmapResource*>(
        SendMessageA(GetDlgItem(dialog, BITMAP_ID), STM_GETIMAGE, 0, 0));
    ASSERT_EQ(logo, &LOGO_BITMAP);
  });
  EXPECT_EQ(Run(MAIN_DIALOG, owner), 0);
  EXPECT_EQ(GetActiveWindow(), nullptr);  // the previous active window again
  DestroyWindow(owner);
}

TEST_F(ModalDialog, SetsTheFontThenInitialisesThenFocusesTheFirstEnabledTabStop) {
  rec.disableAtInit = NESTED_BUTTON;
  int focusId = -1;
  User().Call([&](HWND) { focusId = GetDlgCtrlID(GetFocus()); });
  Run(MAIN_DIALOG, nullptr, 0x5eed);
  ASSERT_GE(rec.log.size(), 2u);
  EXPECT_EQ(rec.log[0].msg, WM_SETFONT);
  EXPECT_EQ(rec.log[1].msg, WM_INITDIALOG);
  EXPECT_EQ(rec.log[1].lParam, 0x5eed);
  EXPECT_EQ(focusId, IDOK);  // "More" comes first but was disabled

  Recorder noFocus;  // no DS_SETFONT, and initialisation keeps the focus
  noFocus.initResult = FALSE;
  recorder = &noFocus;
  HWND focus = reinterpret_cast<HWND>(1);
  User().Call([&](HWND) { focus = GetFocus(); });
  Run(INNER_DIALOG);
  EXPECT_EQ(noFocus.log[0].msg, WM_INITDIALOG);
  EXPECT_EQ(focus, nullptr);
}

TEST_F(ModalDialog, MissingTemplateOrUnknownClassCreatesNothing) {
  const size_t windows = platform::LiveWindows().size();
  EXPECT_EQ(Run(999), -1);
  EXPECT_EQ(Run(LOGO), -1);  // a bitmap is not a dialog
  EXPECT_EQ(DialogBoxParamA(instance, "Main", nullptr, RecordingProc, 0), -1);
  EXPECT_EQ(Run(BROKEN_DIALOG), -1);
  EXPECT_EQ(platform::LiveWindows().size(), windows);
  EXPECT_TRUE(rec.log.empty());
}

TEST_F(ModalDialog, EndsWithTheCodeOfTheWayItWasClosed) {
  User().Click(IDOK);
  EXPECT_EQ(Run(MAIN_DIALOG), 1);
  User().Escape();
  EXPECT_EQ(Run(MAIN_DIALOG), 0);
  User().Close();
  EXPECT_EQ(Run(MAIN_DIALOG), 0);
  User().Call([](HWND dialog) { SendMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0); });
  EXPECT_EQ(Run(MAIN_DIALOG), 1);  // Enter chooses the default push button
  rec.log.clear();
  EXPECT_EQ(Run(MAIN_DIALOG), 0);  // the script ran out: Cancel
  EXPECT_EQ(rec.Count(WM_COMMAND), 1);

  Recorder stubborn;
  stubborn.endOnCancel = false;
  recorder = &stubborn;
  EXPECT_EQ(Run(MAIN_DIALOG), IDCANCEL);  // ended for it, so nothing hangs
  EXPECT_EQ(stubborn.Count(WM_COMMAND), 1);
  EXPECT_EQ(stubborn.Count(WM_DESTROY), 1);
}

TEST_F(ModalDialog, DestroyFollowsEndDialogAndReachesTheProcedureBeforeTheChildren) {
  HWND seen = nullptr;
  User().Call([&](HWND dialog) { seen = dialog; }).Click(IDOK);
  EXPECT_EQ(Run(MAIN_DIALOG), 1);
  ASSERT_GE(rec.log.size(), 2u);
  EXPECT_EQ(rec.log[rec.log.size() - 2].msg, WM_COMMAND);
  EXPECT_EQ(rec.log.back().msg, WM_DESTROY);
  EXPECT_EQ(rec.log.back().wnd, seen);
  EXPECT_NE(rec.log.back().okButton, nullptr);  // the controls still existed
  EXPECT_FALSE(IsWindow(seen));
}

TEST_F(ModalDialog, PaintsInvalidatedWindowsBeforeTheNextAction) {
  int paintsSeen = -1;
  User()
      .Call([](HWND dialog) { InvalidateRect(GetDlgItem(dialog, PROBE_ID), nullptr, FALSE); })
      .Call([](HWND dialog) { InvalidateRect(dialog, nullptr, FALSE); })
      .Call([&](HWND) { paintsSeen = rec.Count(WM_PAINT); });
  Run(MAIN_DIALOG);
  EXPECT_EQ(paintsSeen, 1);  // the probe's own paint does not reach the dialog
  EXPECT_EQ(rec.Count(WM_PAINT), 1);
}

TEST_F(ModalDialog, RadioButtonsCheckWithinTheirGroupAndTellTheDialog) {
  std::vector<UINT> checks;
  auto state = [&](HWND dialog) {
    for (int id : {11, 12, 13, 31, 32}) checks.push_back(IsDlgButtonChecked(dialog, id));
  };
  std::vector<int> clicked;
  User()
      .Call([](HWND dialog) { CheckDlgButton(dialog, 31, BST_CHECKED); })
      .Click(11)
      .Click(13)
      .Call(state)
      .Click(32)
      .Call(state)
      .Call([](HWND dialog) { CheckRadioButton(dialog, 11, 13, 12); })
      .Call(state)
      .Call([](HWND dialog) {
        CheckRadioButton(dialog, 11, 31, 99);       // outside the range: none stays checked
        CheckDlgButton(dialog, IDOK, BST_CHECKED);  // push buttons hold no check
      })
      .Call(state)
      .Call([&](HWND dialog) {
        checks.push_back(IsDlgButtonChecked(dialog, IDOK));
        checks.push_back(IsDlgButtonChecked(dialog, 4242));
        for (const Received& r : rec.log) {
          if (r.msg != WM_COMMAND) continue;
          clicked.push_back(LOWORD(r.wParam));
          EXPECT_EQ(HIWORD(r.wParam), BN_CLICKED);
          EXPECT_EQ(reinterpret_cast<HWND>(r.lParam), GetDlgItem(dialog, LOWORD(r.wParam)));
        }
      });
  Run(MAIN_DIALOG);
  const std::vector<UINT> expected = {0,      0, 1, 1, 0, /**/ 0, 0, 1, 0, 1, /**/ 0, 1, 0, 0, 1,
                                      /**/ 0, 0, 0, 0, 1, /**/ 0, 0};
  EXPECT_EQ(checks, expected);
  EXPECT_EQ(clicked, (std::vector<int>{11, 13, 32}));
}

TEST_F(ModalDialog, InputToDisabledControlsIsRefused) {
  User()
      .Call([](HWND dialog) { EnableWindow(GetDlgItem(dialog, IDOK), FALSE); })
      .Click(IDOK)
      .Click(4242)  // no such control
      .Call([](HWND dialog) {
        EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
        EnableWindow(dialog, FALSE);
      })
      .Click(IDOK)
      .Escape();
  EXPECT_EQ(Run(MAIN_DIALOG), 0);  // nothing got through; the script ran out
  EXPECT_EQ(User().Refused(), 4);
  EXPECT_EQ(rec.Count(WM_ENABLE), 1);  // the button's changes went to the button
}

TEST_F(ModalDialog, ScriptedInputArrivesAsMouseAndKeyboardMessages) {
  std::string typed;
  User()
      .Type(PROBE_ID, "12.5")
      .Call([&](HWND dialog) { typed = Text(GetDlgItem(dialog, PROBE_ID)); })
      .Press(PROBE_ID)
      .Drag(PROBE_ID, 7)
      .Drag(PROBE_ID, -3)
      .Release(PROBE_ID, false)
      .Release(PROBE_ID)
      .Click(PROBE_ID);
  Run(MAIN_DIALOG);
  const std::vector<Received>& in = rec.probeInput;
  std::vector<UINT> messages;
  for (const Received& r : in) messages.push_back(r.msg);
  EXPECT_EQ(messages,
            (std::vector<UINT>{WM_SETTEXT, WM_KEYDOWN, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_MOUSEMOVE,
                               WM_RBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}));
  ASSERT_EQ(in.size(), 9u);
  EXPECT_EQ(in[1].wParam, VK_RETURN);
  EXPECT_EQ(in[3].wParam, MK_LBUTTON);
  EXPECT_EQ(GET_Y_LPARAM(in[3].lParam), -7);  // 7 pixels above the press point
  EXPECT_EQ(GET_Y_LPARAM(in[4].lParam), 3);
  EXPECT_EQ(typed, "12.5");
  EXPECT_EQ(User().Refused(), 0);
}

TEST_F(ModalDialog, NestedDialogTakesTheActionsWhileItIsOpen) {
  HWND outer = nullptr, inner = nullptr, activeAfter = nullptr;
  INT_PTR firstInner = -2;
  User()
      .Call([&](HWND dialog) { outer = dialog; })
      .Click(NESTED_BUTTON)
      .Call([&](HWND dialog) {
        inner = GetActiveWindow();
        EXPECT_EQ(inner, dialog);
        EXPECT_EQ(GetParent(dialog), outer);
      })
      .Click(IDOK)  // ends the inner dialog only
      .Call([&](HWND) {
        activeAfter = GetActiveWindow();
        firstInner = rec.innerResult;
      })
      .Click(NESTED_BUTTON);  // and this one runs out of script inside
  EXPECT_EQ(Run(MAIN_DIALOG), 0);
  EXPECT_NE(inner, outer);
  EXPECT_EQ(activeAfter, outer);
  EXPECT_EQ(firstInner, 1);
  EXPECT_EQ(rec.innerResult, 0);
}

}  // namespace
