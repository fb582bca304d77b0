#include "ui/control_dialog.h"

#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "host/custom_controls.h"
#include "platform/resources.h"
#include "tests/ui/ui_fixture.h"
#include "ui/dialog_ids.h"
#include "ui/module_instance.h"

namespace {

using ControlDialog = UiFixture;

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// Runs the control dialog with a procedure that records, for each message,
// the answer and the filter recorded when the message arrived.
struct Answer {
  UINT message;
  INT_PTR result;
  FocusFilter* recorded;
};
std::vector<Answer> answers;

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  FocusFilter* recorded = controlDialog.filter;
  const INT_PTR result = ControlDialogProc(dialog, message, wParam, lParam);
  answers.push_back({message, result, recorded});
  return result;
}

INT_PTR RunRecorded(FocusFilter& filter) {
  answers.clear();
  return DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(static_cast<WORD>(CONTROL_DIALOG_ID)),
                         nullptr, RecordingProc, reinterpret_cast<LPARAM>(&filter));
}

TEST_F(ControlDialog, OpensWithTheStoredSettings) {
  filter.config.sourceMode = SOURCE_MATERIAL_EFFECTS;
  filter.config.materialEffectsId = 7;
  filter.config.objectChannelId = 300;
  filter.config.blurRange = 12.5f;
  filter.config.blurSize = 3.0f;
  User().Call([](HWND dialog) {
    EXPECT_EQ(Text(dialog, IDC_OBJECT_NAME), "Undefined");
    EXPECT_TRUE(Checked(dialog, IDC_MATERIAL_EFFECTS));
    EXPECT_FALSE(Checked(dialog, IDC_WHOLE_IMAGE) || Checked(dialog, IDC_OBJECT_CHANNEL));
    EXPECT_TRUE(Enabled(dialog, IDC_MATERIAL_ID_EDIT) && Enabled(dialog, IDC_MATERIAL_ID_SPINNER));
    EXPECT_FALSE(Enabled(dialog, IDC_OBJECT_ID_EDIT) || Enabled(dialog, IDC_OBJECT_ID_SPINNER));

    ISpinnerControl& range = *controlDialog.rangeSpinner;
    ISpinnerControl& size = *controlDialog.sizeSpinner;
    ISpinnerControl& material = *controlDialog.materialIdSpinner;
    ISpinnerControl& object = *controlDialog.objectIdSpinner;
    EXPECT_EQ(range.GetFloatValue(), 12.5f);
    EXPECT_EQ(size.GetFloatValue(), 3.0f);
    EXPECT_EQ(material.GetIntValue(), 7);
    EXPECT_EQ(object.GetIntValue(), 300);
    auto floatLimits = [](ISpinnerControl& s) {
      return std::pair(s.FloatMinimum(), s.FloatMaximum());
    };
    auto intLimits = [](ISpinnerControl& s) { return std::pair(s.IntMinimum(), s.IntMaximum()); };
    EXPECT_EQ(floatLimits(range), std::pair(0.0f, 99999.0f));
    EXPECT_EQ(floatLimits(size), std::pair(1.0f, 99999.0f));
    EXPECT_EQ(intLimits(material), std::pair(0, 15));
    EXPECT_EQ(intLimits(object), std::pair(0, 65535));
    EXPECT_EQ(range.LinkedEdit(), GetDlgItem(dialog, IDC_RANGE_EDIT));
    EXPECT_EQ(object.LinkedEdit(), GetDlgItem(dialog, IDC_OBJECT_ID_EDIT));
  });
  EXPECT_EQ(filter.ShowControl(nullptr), 0);
}

TEST_F(ControlDialog, UnknownSourceModeSelectsNoButtonAndOkStoresWholeImage) {
  filter.config.sourceMode = 1013;
  User().Call([](HWND dialog) {
    for (int id : {IDC_WHOLE_IMAGE, IDC_MATERIAL_EFFECTS, IDC_OBJECT_CHANNEL}) {
      EXPECT_FALSE(Checked(dialog, id)) << id;
    }
    for (int id : {IDC_MATERIAL_ID_EDIT, IDC_MATERIAL_ID_SPINNER, IDC_OBJECT_ID_EDIT,
                   IDC_OBJECT_ID_SPINNER}) {
      EXPECT_FALSE(Enabled(dialog, id)) << id;
    }
  });
  User().Click(IDOK);
  EXPECT_EQ(filter.ShowControl(nullptr), 1);
  EXPECT_EQ(filter.config.sourceMode, SOURCE_WHOLE_IMAGE);
}

TEST_F(ControlDialog, SourceAndIdsAreCommittedByOkOnlyWithinTheirLimits) {
  User().Click(IDC_OBJECT_CHANNEL).Type(IDC_OBJECT_ID_EDIT, "40000");
  User().Click(IDC_MATERIAL_EFFECTS).Type(IDC_MATERIAL_ID_EDIT, "99");
  User().Call([this](HWND) {
    EXPECT_EQ(filter.config.sourceMode, SOURCE_WHOLE_IMAGE);
    EXPECT_EQ(filter.config.materialEffectsId, 0);
    EXPECT_EQ(filter.config.objectChannelId, 0);
  });
  User().Click(IDOK);
  ASSERT_EQ(filter.ShowControl(nullptr), 1);
  EXPECT_EQ(filter.config.sourceMode, SOURCE_MATERIAL_EFFECTS);
  EXPECT_EQ(filter.config.materialEffectsId, 15);
  EXPECT_EQ(filter.config.objectChannelId, 40000);

  // Object Channel enables its own ID only; Cancel forgets mode and IDs.
  User().Click(IDC_OBJECT_CHANNEL).Call([](HWND dialog) {
    EXPECT_TRUE(Enabled(dialog, IDC_OBJECT_ID_EDIT) && Enabled(dialog, IDC_OBJECT_ID_SPINNER));
    EXPECT_FALSE(Enabled(dialog, IDC_MATERIAL_ID_EDIT) || Enabled(dialog, IDC_MATERIAL_ID_SPINNER));
  });
  User().Type(IDC_OBJECT_ID_EDIT, "12").Click(IDCANCEL);
  EXPECT_EQ(filter.ShowControl(nullptr), 0);
  EXPECT_EQ(filter.config.sourceMode, SOURCE_MATERIAL_EFFECTS);
  EXPECT_EQ(filter.config.objectChannelId, 40000);
  EXPECT_EQ(User().Refused(), 0);
}

TEST_F(ControlDialog, OkAnswersOneAndEveryWayOutReleasesWhatTheDialogHeld) {
  const std::pair<std::function<void()>, int32_t> ways[] = {{[] { User().Click(IDOK); }, 1},
                                                            {[] { User().Click(IDCANCEL); }, 0},
                                                            {[] { User().Escape(); }, 0},
                                                            {[] { User().Close(); }, 0}};
  for (const auto& [act, result] : ways) {
    act();
    SCOPED_TRACE(result);
    EXPECT_EQ(filter.ShowControl(nullptr), result);
    EXPECT_EQ(OutstandingSpinners(), 0);
    EXPECT_EQ(controlDialog.filter, nullptr);
    EXPECT_EQ(filter.nodeNotifier, nullptr);
    EXPECT_EQ(filter.Node()->NotifyCount(), 0u);
  }
}

TEST_F(ControlDialog, AnswersInitialisationAndCommandsWithOneAndAllElseWithZero) {
  User().Click(IDC_OBJECT_CHANNEL).Click(IDC_BROWSE).Press(IDC_RANGE_SPINNER);
  User().Drag(IDC_RANGE_SPINNER, 4).Release(IDC_RANGE_SPINNER);
  User().Call([](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(4321, 0), 0); });
  User().Click(IDOK);
  EXPECT_EQ(RunRecorded(filter), 1);

  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.front().message, WM_SETFONT);
  int commands = 0;
  for (const Answer& answer : answers) {
    const bool one = answer.message == WM_INITDIALOG || answer.message == WM_COMMAND;
    EXPECT_EQ(answer.result, one ? 1 : 0) << "message " << answer.message;
    commands += answer.message == WM_COMMAND;
  }
  EXPECT_EQ(commands, 4);
}

TEST_F(ControlDialog, NextDialogsEarlyMessagesNeverReachAClosedFilter) {
  auto first = std::make_unique<FocusFilter>();
  User().Click(IDOK);
  ASSERT_EQ(first->ShowControl(nullptr), 1);
  first.reset();

  FocusFilter second;
  User().Click(IDOK);
  ASSERT_EQ(RunRecorded(second), 1);
  ASSERT_EQ(answers.front().message, WM_SETFONT);
  EXPECT_EQ(answers.front().recorded, nullptr);
  EXPECT_EQ(answers.front().result, 0);
  EXPECT_EQ(controlDialog.filter, nullptr);
}

TEST_F(ControlDialog, MissingTemplateFailsWithTheConfigurationUnchanged) {
  const ResourceTable empty{nullptr, 0};
  HINSTANCE bare = platform::RegisterStaticModule(&empty);
  HINSTANCE own = moduleInstance;
  moduleInstance = bare;
  std::strcpy(filter.config.focalObjectName, "Lamp");
  const FocusConfig before = filter.config;
  EXPECT_EQ(filter.ShowControl(nullptr), -1);
  EXPECT_EQ(filter.ShowAboutBox(nullptr), -1);
  moduleInstance = own;
  platform::ReleaseStaticModule(bare);
  EXPECT_EQ(std::memcmp(&before, &filter.config, sizeof before), 0);
  EXPECT_EQ(filter.Node(), nullptr);
}

}  // namespace
