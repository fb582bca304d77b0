#include "host/custom_controls.h"
#include "host/messages.h"
#include "tests/ui/ui_fixture.h"
#include "ui/control_dialog.h"
#include "ui/dialog_ids.h"
#include "ui/node_change_notifier.h"

namespace {

using LiveEditing = UiFixture;

constexpr TimeValue NOW = 800;

float RangeShown() { return controlDialog.rangeSpinner->GetFloatValue(); }

TEST_F(LiveEditing, AcceptedDragSurvivesCancelAsOneUndoableStep) {
  HostInterface().SetTime(NOW);
  User().Click(IDC_OBJECT_CHANNEL);
  User().Press(IDC_RANGE_SPINNER).Drag(IDC_RANGE_SPINNER, 300).Release(IDC_RANGE_SPINNER, true);
  User().Escape();
  EXPECT_EQ(filter.ShowControl(nullptr), 0);

  EXPECT_EQ(filter.config.sourceMode, SOURCE_WHOLE_IMAGE);
  EXPECT_NEAR(filter.config.blurRange, 80.0f, 1e-3f);
  EXPECT_NEAR(TrackValue(filter, RANGE_TRACK, NOW), 80.0f, 1e-3f);
  EXPECT_EQ(theHold.UndoDepth(), 1u);
  EXPECT_EQ(theHold.UndoName(), "Parameter Change");
  EXPECT_FALSE(filter.holdActive);
  ASSERT_TRUE(theHold.Undo());
  EXPECT_EQ(TrackValue(filter, RANGE_TRACK, NOW), 50.0f);
}

TEST_F(LiveEditing, CancelledReleaseDropsTheTrackChangeButNotTheField) {
  User().Press(IDC_SIZE_SPINNER).Drag(IDC_SIZE_SPINNER, 30);
  User().Call([this](HWND dialog) {
    ASSERT_NEAR(filter.config.blurSize, 5.0f, 1e-3f);
    SendMessageA(dialog, SPINNER_RELEASE, MAKEWPARAM(IDC_SIZE_SPINNER, 0), 0);
    EXPECT_EQ(theHold.CancelCalls(), 1);
    EXPECT_FALSE(filter.holdActive);
    EXPECT_NEAR(filter.config.blurSize, 5.0f, 1e-3f);
    EXPECT_EQ(TrackValue(filter, SIZE_TRACK, 0), 2.0f);
  });
  filter.ShowControl(nullptr);
  EXPECT_EQ(theHold.UndoDepth(), 0u);
  EXPECT_EQ(theHold.AcceptCalls(), 0);
}

TEST_F(LiveEditing, TypedValueIsAcceptedByTheEntryMessage) {
  User().Type(IDC_RANGE_EDIT, "75").Call([this](HWND) {
    EXPECT_FALSE(filter.holdActive);
    EXPECT_EQ(theHold.BeginCalls(), 1);
    EXPECT_EQ(theHold.AcceptCalls(), 1);
  });
  User().Click(IDOK);
  EXPECT_EQ(filter.ShowControl(nullptr), 1);
  EXPECT_EQ(filter.config.blurRange, 75.0f);
  EXPECT_EQ(TrackValue(filter, RANGE_TRACK, 0), 75.0f);
  EXPECT_EQ(theHold.UndoName(), "Parameter Change");
}

TEST_F(LiveEditing, HoldStillOpenAtCloseIsAcceptedAsAParameterChange) {
  // The dialog closes while the range spinner is being dragged.
  User().Press(IDC_RANGE_SPINNER).Drag(IDC_RANGE_SPINNER, 150).Escape();
  EXPECT_EQ(filter.ShowControl(nullptr), 0);
  EXPECT_FALSE(filter.holdActive);
  EXPECT_FALSE(theHold.Holding());
  EXPECT_NEAR(filter.config.blurRange, 65.0f, 1e-3f);
  EXPECT_NEAR(TrackValue(filter, RANGE_TRACK, 0), 65.0f, 1e-3f);
  EXPECT_EQ(theHold.UndoName(), "Parameter Change");
}

TEST_F(LiveEditing, IdSpinnersAndEditsOpenNoHold) {
  User().Click(IDC_MATERIAL_EFFECTS).Click(IDC_OBJECT_CHANNEL);
  User().Press(IDC_OBJECT_ID_SPINNER).Drag(IDC_OBJECT_ID_SPINNER, 5);
  User().Release(IDC_OBJECT_ID_SPINNER).Type(IDC_OBJECT_ID_EDIT, "9");
  User().Call([this](HWND) {
    EXPECT_EQ(filter.config.objectChannelId, 0);
    EXPECT_FALSE(filter.holdActive);
  });
  filter.ShowControl(nullptr);
  EXPECT_EQ(theHold.BeginCalls(), 0);
  EXPECT_EQ(theHold.AcceptCalls() + theHold.CancelCalls(), 0);
}

TEST_F(LiveEditing, PaintReadsTheTracksOnlyOnceTheNodeReportedAChange) {
  User().Call([this](HWND dialog) {
    filter.currentControl = nullptr;
    filter.config.blurRange = 7.0f;
    InvalidateRect(dialog, nullptr, FALSE);
    UpdateWindow(dialog);
    EXPECT_EQ(filter.currentControl, nullptr);
    EXPECT_EQ(filter.config.blurRange, 7.0f);

    // A change on the node from outside the dialog: the notifier's paint
    // brings field and spinner to the track.
    filter.Node()->GetController(RANGE_TRACK)->SetKeys({{0, 33.0f}});
    EXPECT_TRUE(filter.tracksChanged);
    UpdateWindow(dialog);
    EXPECT_EQ(filter.config.blurRange, 33.0f);
    EXPECT_EQ(RangeShown(), 33.0f);
    EXPECT_EQ(filter.currentControl, filter.Node()->GetController(SIZE_TRACK));
  });
  filter.ShowControl(nullptr);
}

TEST_F(LiveEditing, TimeChangeShowsThatTimesValuesWithKeysOfTheCurrentTime) {
  // Range keyed 50 at 0 and 90 at 1600; the host stands between the keys.
  filter.FilterUpdate();
  filter.Node()->GetController(RANGE_TRACK)->SetKeys({{0, 50.0f}, {1600, 90.0f}});
  HostInterface().SetTime(NOW);
  User().Call([this](HWND dialog) {
    ISpinnerControl& range = *controlDialog.rangeSpinner;
    EXPECT_EQ(filter.config.blurRange, 70.0f);

    SendMessageA(dialog, HOST_TIME_CHANGE, 0, 1600);
    EXPECT_EQ(filter.config.blurRange, 90.0f);
    EXPECT_EQ(range.GetFloatValue(), 90.0f);
    EXPECT_EQ(range.KeyIndication(), 0);

    SendMessageA(dialog, HOST_TIME_CHANGE, 0, -5);
    EXPECT_EQ(filter.config.blurRange, 70.0f);

    HostInterface().SetTime(0);
    EXPECT_EQ(filter.config.blurRange, 50.0f);
    EXPECT_NE(range.KeyIndication(), 0);
    EXPECT_NE(controlDialog.sizeSpinner->KeyIndication(), 0);
  });
  filter.ShowControl(nullptr);
}

}  // namespace
