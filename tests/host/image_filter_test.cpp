#include "host/image_filter.h"

#include <gtest/gtest.h>

#include <climits>

#include "host/messages.h"
#include "tests/host/recording_window.h"

namespace {

class BareFilter : public ImageFilter {
 public:
  const char* DescriptionText() override { return "bare"; }
  const char* AuthorText() override { return ""; }
  const char* CopyrightText() override { return ""; }
  uint32_t VersionNumber() override { return 1; }
  uint32_t CapabilityFlags() override { return 0; }
  int32_t ShowAboutBox(HWND) override { return 0; }
  int32_t Render(HWND) override { return 1; }
};

class InteractiveDialog : public ::testing::Test {
 protected:
  void SetUp() override { HostInterface().Reset(); }
  void TearDown() override { HostInterface().Reset(); }
};

TEST(ImageFilterLerp, FloatTruncatesTowardZeroAndIntDividesBy255) {
  BareFilter f;
  EXPECT_EQ(f.Lerp(10, 20, 0.55f), 15);
  EXPECT_EQ(f.Lerp(20, 10, 0.55f), 15) << "-5.5 truncates to -5";
  EXPECT_EQ(f.Lerp(-7, 7, 1.0f), 7);
  EXPECT_EQ(f.Lerp(INT_MIN, INT_MAX, 2.0f), INT_MAX) << "held to the int range";
  EXPECT_EQ(f.Lerp(0, 1000, 128), 501);
  EXPECT_EQ(f.Lerp(1000, 0, 128), 499);
  EXPECT_EQ(f.Lerp(3, 900, 255), 900);
  EXPECT_EQ(f.Lerp(3, 900, 0), 3);
  EXPECT_EQ(f.Lerp(-INT_MAX, INT_MAX, 255), INT_MAX) << "no overflow in the product";
}

TEST_F(InteractiveDialog, InteractiveDialogGetsTimeChangesUntilReplacedOrFilterGone) {
  kestrion_test::RecordingWindow first;
  kestrion_test::RecordingWindow second;
  {
    BareFilter f;
    EXPECT_EQ(f.IsInteractive(), 0);
    f.MakeDlgInteractive(first.hwnd);
    EXPECT_EQ(f.IsInteractive(), 1);
    EXPECT_EQ(f.DlgHandle(), first.hwnd);
    HostInterface().SetTime(160);
    f.MakeDlgInteractive(second.hwnd);
    HostInterface().SetTime(320);
    EXPECT_EQ(first.Received(HOST_TIME_CHANGE).size(), 1u);
    EXPECT_EQ(second.Received(HOST_TIME_CHANGE).size(), 1u);
  }
  HostInterface().SetTime(480);
  EXPECT_EQ(second.Received(HOST_TIME_CHANGE).size(), 1u) << "the filter's destructor unregisters";
}

TEST_F(InteractiveDialog, DestroyedDialogIsNoLongerInteractive) {
  BareFilter f;
  kestrion_test::RecordingWindow dialog;
  f.MakeDlgInteractive(dialog.hwnd);
  dialog.Destroy();
  EXPECT_EQ(f.IsInteractive(), 0);
  HostInterface().SetTime(10);  // must not reach the destroyed window
}

}  // namespace
