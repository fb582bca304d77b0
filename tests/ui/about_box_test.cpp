#include "host/custom_controls.h"
#include "tests/ui/ui_fixture.h"

namespace {

using AboutBox = UiFixture;

LRESULT PlainWindow(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

TEST_F(AboutBox, OkAnswersOneEscapeAndCloseBoxZero) {
  User().Click(IDOK);
  EXPECT_EQ(filter.ShowAboutBox(nullptr), 1);
  User().Escape();
  EXPECT_EQ(filter.ShowAboutBox(nullptr), 0);
  User().Close();
  EXPECT_EQ(filter.ShowAboutBox(nullptr), 0);
}

TEST_F(AboutBox, OpensCentredOverItsParentWithTheArrowCursor) {
  const WNDCLASSA plain{0, PlainWindow, 0, 0, nullptr, "AboutBoxTestParent"};
  RegisterClassA(&plain);
  HWND parent = CreateWindowExA(0, plain.lpszClassName, "Host", WS_POPUP, 301, 117, 640, 481,
                                nullptr, 0, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  SetCursor(nullptr);
  User().Call([parent](HWND dialog) {
    RECT box, owner;
    GetWindowRect(dialog, &box);
    GetWindowRect(parent, &owner);
    EXPECT_NEAR((box.left + box.right) / 2.0, (owner.left + owner.right) / 2.0, 1.0);
    EXPECT_NEAR((box.top + box.bottom) / 2.0, (owner.top + owner.bottom) / 2.0, 1.0);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW));
  });
  User().Click(IDOK);
  EXPECT_EQ(filter.ShowAboutBox(parent), 1);
  DestroyWindow(parent);
  UnregisterClassA(plain.lpszClassName, nullptr);
}

}  // namespace
