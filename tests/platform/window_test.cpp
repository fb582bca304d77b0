#include <gtest/gtest.h>

#include <vector>

#include "platform/window_internal.h"

namespace {

struct Seen {
  HWND wnd;
  UINT msg;
  WPARAM wParam;
};

std::vector<Seen> seen;

LRESULT Recording(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  seen.push_back({wnd, msg, wParam});
  if (msg == WM_USER) return static_cast<LRESULT>(wParam * 3 + 1);
  if (msg == WM_CREATE && reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams ==
                              reinterpret_cast<LPVOID>(-1)) {
    return -1;  // refuse creation
  }
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

class PlatformWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Recording;
    wc.lpszClassName = "Recording";
    ASSERT_TRUE(RegisterClassA(&wc));
    seen.clear();
  }
  void TearDown() override { UnregisterClassA("Recording", nullptr); }

  // Class names are found without regard to case.
  HWND Make(HWND parent, UINT_PTR id, DWORD style = WS_CHILD, LPARAM param = 0) {
    return CreateWindowExA(0, "recording", "text", style, 1, 2, 30, 17, parent,
                           reinterpret_cast<HMENU>(id), nullptr, reinterpret_cast<LPVOID>(param));
  }
};

TEST_F(PlatformWindow, MessagesAreDeliveredAtOnceToLiveWindowsOnly) {
  const size_t windows = platform::LiveWindows().size();
  EXPECT_EQ(CreateWindowExA(0, "Nowhere", "", 0, 0, 0, 1, 1, nullptr, 0, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(Make(nullptr, 0, WS_POPUP, -1), nullptr);  // refused at WM_CREATE
  EXPECT_EQ(platform::LiveWindows().size(), windows);
  EXPECT_FALSE(UnregisterClassA("BUTTON", nullptr));  // standard classes stay

  HWND wnd = Make(nullptr, 0, WS_POPUP);
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(SendMessageA(wnd, WM_USER, 7, 0), 22);
  EXPECT_EQ(seen.back().wParam, 7u);
  DestroyWindow(wnd);
  const size_t count = seen.size();
  EXPECT_EQ(SendMessageA(wnd, WM_USER, 7, 0), 0);
  EXPECT_EQ(seen.size(), count);
}

TEST_F(PlatformWindow, DestroyReachesOwnedPopupsThenTheWindowThenItsChildren) {
  HWND top = Make(nullptr, 0, WS_POPUP);
  HWND first = Make(top, 11);
  HWND grandchild = Make(first, 12);
  HWND second = Make(top, 13);
  HWND owned = Make(top, 14, WS_POPUP);
  EXPECT_EQ(GetParent(owned), top);
  EXPECT_EQ(GetDlgItem(top, 14), nullptr);  // an owned popup is no child
  EXPECT_EQ(GetDlgItem(top, 13), second);
  seen.clear();
  EXPECT_TRUE(DestroyWindow(top));
  std::vector<HWND> order;
  for (const Seen& s : seen) {
    if (s.msg == WM_DESTROY) order.push_back(s.wnd);
  }
  EXPECT_EQ(order, (std::vector<HWND>{owned, top, first, grandchild, second}));
  for (HWND wnd : {top, first, grandchild, second, owned}) EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(DestroyWindow(top));
}

TEST_F(PlatformWindow, TextsAreCopiedAndCutToTheBuffer) {
  HWND dialog = Make(nullptr, 0, WS_POPUP);
  HWND item = Make(dialog, 21);
  EXPECT_TRUE(SetDlgItemTextA(dialog, 21, "Depth of field"));
  char small[6] = "XXXXX";
  EXPECT_EQ(GetWindowTextA(item, small, sizeof small), 5);
  EXPECT_STREQ(small, "Depth");
  char big[32] = "Q";
  EXPECT_EQ(GetDlgItemTextA(dialog, 99, big, sizeof big), 0u);
  EXPECT_STREQ(big, "");
  EXPECT_EQ(SendMessageA(item, WM_GETTEXTLENGTH, 0, 0), 14);
  DestroyWindow(dialog);
}

TEST_F(PlatformWindow, EnableNotifiesOnChangeAndDisablesChildrenButNotPopups) {
  HWND popup = Make(nullptr, 0, WS_POPUP);
  HWND child = Make(popup, 31);
  HWND owned = Make(popup, 0, WS_POPUP);
  seen.clear();
  EXPECT_FALSE(EnableWindow(child, FALSE));  // was enabled
  EXPECT_TRUE(EnableWindow(child, FALSE));   // was disabled: no second WM_ENABLE
  EXPECT_TRUE(EnableWindow(child, TRUE));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].wParam, static_cast<WPARAM>(FALSE));
  EXPECT_EQ(seen[1].wParam, static_cast<WPARAM>(TRUE));
  EnableWindow(popup, FALSE);
  EXPECT_TRUE(IsWindowEnabled(child));
  EXPECT_FALSE(platform::EnabledWithAncestors(child));
  EXPECT_TRUE(platform::EnabledWithAncestors(owned));
  DestroyWindow(popup);
}

TEST_F(PlatformWindow, PaintReachesInvalidWindowsOnceParentsFirst) {
  HWND top = Make(nullptr, 0, WS_POPUP);
  HWND child = Make(top, 41);
  HWND other = Make(top, 42);
  InvalidateRect(child, nullptr, FALSE);
  InvalidateRect(top, nullptr, TRUE);
  seen.clear();
  UpdateWindow(top);
  UpdateWindow(top);  // nothing is invalid any more
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].wnd, top);
  EXPECT_EQ(seen[1].wnd, child);
  InvalidateRect(other, nullptr, FALSE);
  platform::PaintAllInvalid();
  EXPECT_EQ(seen.back().wnd, other);
  DestroyWindow(top);
}

}  // namespace
