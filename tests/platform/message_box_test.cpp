#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageBox, IsRecordedShownToTheObserverAndAnsweredOk) {
  platform::ClearShownMessages();
  std::vector<std::string> observed;
  platform::SetMessageBoxObserver(
      [&](const platform::ShownMessage& m) { observed.push_back(m.caption + ": " + m.text); });
  HWND owner = reinterpret_cast<HWND>(0x10);  // recorded, never dereferenced
  EXPECT_EQ(MessageBoxA(owner, "Error : Object undefined!", "Kestrion", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, 0x30), IDOK);
  platform::SetMessageBoxObserver({});
  MessageBoxA(nullptr, "unobserved", "x", MB_OK);

  const auto& shown = platform::ShownMessages();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].owner, owner);
  EXPECT_EQ(shown[0].text, "Error : Object undefined!");
  EXPECT_EQ(shown[1].caption, "Error");
  EXPECT_EQ(shown[1].type, 0x30u);
  EXPECT_EQ(observed, (std::vector<std::string>{"Kestrion: Error : Object undefined!", "Error: "}));
  platform::ClearShownMessages();
  EXPECT_TRUE(platform::ShownMessages().empty());
}

TEST(Cursor, StandardCursorsAreStaticHandlesAndSetCursorSwapsThem) {
  const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  const HCURSOR ibeam = LoadCursorA(nullptr, MAKEINTRESOURCEA(32513));
  ASSERT_NE(arrow, nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), arrow);
  EXPECT_NE(ibeam, arrow);
  EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
  const HCURSOR before = GetCursor();
  EXPECT_EQ(SetCursor(ibeam), before);
  EXPECT_EQ(SetCursor(arrow), ibeam);
  EXPECT_EQ(GetCursor(), arrow);
  SetCursor(before);
}

}  // namespace
