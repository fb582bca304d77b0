// The waiting user, the open dialogs and the dialog-unit conversion.
#include "platform/modal_loop.h"

#include <vector>

#include "test_dialogs.h"

namespace {

using namespace test_dialogs;
using platform::User;

class WaitingUser : public ModalDialog {
 protected:
  void TearDown() override {
    platform::SetWaitingUser({});
    ModalDialog::TearDown();
  }
};

TEST_F(WaitingUser, IsAskedForMoreWithTheDialogInFrontUntilItGivesUp) {
  // Asked once the script ran out: it opens the nested dialog, then OKs it
  // from inside, then gives up on the outer one, which ends as Cancel.
  std::vector<std::vector<HWND>> open;
  std::vector<HWND> asked;
  int calls = 0;
  platform::SetWaitingUser([&](HWND dialog) {
    asked.push_back(dialog);
    open.push_back(platform::OpenModalDialogs());
    switch (++calls) {
      case 1:
        User().Click(NESTED_BUTTON);
        return true;
      case 2:
        User().Click(IDOK);
        return true;
      default:
        return false;
    }
  });
  User().Click(12);
  EXPECT_EQ(Run(MAIN_DIALOG), 0);
  EXPECT_EQ(rec.innerResult, 1);
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(open[0], (std::vector<HWND>{asked[0]}));
  EXPECT_EQ(open[1], (std::vector<HWND>{asked[0], asked[1]})) << "outermost first";
  EXPECT_NE(asked[1], asked[0]);
  EXPECT_EQ(asked[2], asked[0]);
  EXPECT_EQ(rec.Count(WM_COMMAND), 4) << "the script's click, More, inner OK, Cancel";
  EXPECT_TRUE(platform::OpenModalDialogs().empty());
}

TEST_F(WaitingUser, MayWorkWithoutQueuingAndIsAskedAgain) {
  int calls = 0;
  platform::SetWaitingUser([&](HWND dialog) {
    if (++calls < 3) return true;  // work of its own, no action
    EndDialog(dialog, 7);
    return true;
  });
  EXPECT_EQ(Run(MAIN_DIALOG), 7);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(User().Refused(), 0);
}

TEST_F(ModalDialog, MapsDialogUnitsByTheTemplateFontsBaseUnits) {
  RECT main{};
  RECT inner{};
  User().Call([&](HWND dialog) {
    main = {4, 8, 54, 22};
    EXPECT_TRUE(MapDialogRect(dialog, &main));
    EXPECT_FALSE(MapDialogRect(GetDlgItem(dialog, IDOK), &inner)) << "a control is no dialog";
    SendMessageA(GetDlgItem(dialog, NESTED_BUTTON), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageA(GetDlgItem(dialog, NESTED_BUTTON), WM_LBUTTONUP, 0, 0);
  });
  User().Call([&](HWND dialog) {
    inner = {4, 8, 54, 22};
    MapDialogRect(dialog, &inner);
    EndDialog(dialog, 1);
  });
  Run(MAIN_DIALOG);
  // 8-point font: 6 x 13 pixels; 22 * 13 / 8 = 35.75 rounds up.
  EXPECT_EQ(main.left, 6);
  EXPECT_EQ(main.top, 13);
  EXPECT_EQ(main.right, 81);
  EXPECT_EQ(main.bottom, 36);
  // No DS_SETFONT: the system font's 8 x 16.
  EXPECT_EQ(inner.right, 108);
  EXPECT_EQ(inner.bottom, 44);
}

TEST_F(ModalDialog, WalksControlsInTemplateOrderWithTheirRegisteredClassNames) {
  std::vector<int> ids;
  std::vector<std::string> classes;
  User().Call([&](HWND dialog) {
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      ids.push_back(GetDlgCtrlID(c));
      char name[16];
      GetClassNameA(c, name, sizeof name);
      classes.push_back(name);
    }
    EXPECT_EQ(GetWindow(GetDlgItem(dialog, IDOK), GW_CHILD), nullptr);
    EXPECT_EQ(GetWindow(dialog, GW_HWNDNEXT), nullptr) << "a popup has no siblings";
  });
  Run(MAIN_DIALOG);
  ASSERT_EQ(ids.size(), std::size(MAIN_ITEMS));
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], MAIN_ITEMS[i].id) << i;
  EXPECT_EQ(classes[2], "BUTTON") << "the template says \"Button\"";
  EXPECT_EQ(classes[8], "Probe");
}

}  // namespace
