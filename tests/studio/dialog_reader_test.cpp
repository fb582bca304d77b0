// What the studio reads from the open dialogs: the control dialog among
// them, and the source its buttons and spinners show before OK stores it.
#include "studio/dialog_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "kestrion/control_ids.h"

namespace {

using studio::ControlNode;
using studio::DialogNode;

ControlNode Button(int32_t id, bool checked) {
  ControlNode button;
  button.className = "BUTTON";
  button.id = id;
  button.checked = checked ? 1 : 0;
  return button;
}

ControlNode Spinner(int32_t id, float value) {
  ControlNode spinner;
  spinner.className = "SpinnerControl";
  spinner.id = id;
  spinner.spinner = studio::SpinnerState{value, 0.0f, 100.0f, false, 0};
  return spinner;
}

// The control dialog's source controls, `checked` the radio button on.
DialogNode ControlDialogShowing(int32_t checked) {
  DialogNode dialog;
  dialog.caption = "Kestrion Control";
  dialog.controls = {Button(IDC_BROWSE, false),
                     Button(IDC_WHOLE_IMAGE, checked == IDC_WHOLE_IMAGE),
                     Button(IDC_MATERIAL_EFFECTS, checked == IDC_MATERIAL_EFFECTS),
                     Button(IDC_OBJECT_CHANNEL, checked == IDC_OBJECT_CHANNEL),
                     Spinner(IDC_MATERIAL_ID_SPINNER, 5.0f),
                     Spinner(IDC_OBJECT_ID_SPINNER, 42.0f)};
  return dialog;
}

TEST(StudioDialogReader, FindsTheControlDialogBehindOthers) {
  DialogNode about;
  about.caption = "About Kestrion";
  about.controls = {Button(1, false)};
  EXPECT_EQ(studio::ControlDialog({about}), nullptr);
  const std::vector<DialogNode> open{ControlDialogShowing(IDC_WHOLE_IMAGE), about};
  ASSERT_NE(studio::ControlDialog(open), nullptr);
  EXPECT_EQ(studio::ControlDialog(open)->caption, "Kestrion Control");
}

TEST(StudioDialogReader, ReadsTheCheckedSourceWithItsOwnChannelsSpinner) {
  EXPECT_EQ(kestrion::SourceText(studio::ShownSource(ControlDialogShowing(IDC_WHOLE_IMAGE))),
            "whole");
  EXPECT_EQ(kestrion::SourceText(studio::ShownSource(ControlDialogShowing(IDC_MATERIAL_EFFECTS))),
            "material:5");
  EXPECT_EQ(kestrion::SourceText(studio::ShownSource(ControlDialogShowing(IDC_OBJECT_CHANNEL))),
            "object:42");
  // No button checked (the dialog is being built): the whole image.
  EXPECT_EQ(kestrion::SourceText(studio::ShownSource(ControlDialogShowing(0))), "whole");
}

}  // namespace
