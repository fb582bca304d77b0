#include "ui/object_picker.h"

#include <cstring>
#include <string>

#include "tests/ui/ui_fixture.h"
#include "ui/control_dialog.h"
#include "ui/dialog_ids.h"

namespace {

using FocalObjectPicker = UiFixture;

TEST_F(FocalObjectPicker, StoresTheFirstPickedNameAndIgnoresEmptyLists) {
  std::strcpy(filter.config.focalObjectName, "Old");
  ObjectPicker picker(&filter);
  SceneNode first("Teapot"), second("Box"), third("Sphere");
  SceneNode* const nodes[] = {&first, &second, &third};

  picker.Picked(PickList{0, nodes});
  picker.Picked(PickList{3, nullptr});
  EXPECT_STREQ(filter.config.focalObjectName, "Old");
  picker.Picked(PickList{3, nodes});
  EXPECT_STREQ(filter.config.focalObjectName, "Teapot");
  ObjectPicker unbound(nullptr);
  unbound.Picked(PickList{3, nodes});  // nothing to store into
}

TEST_F(FocalObjectPicker, NameMustFitTheFieldWithItsTerminator) {
  std::strcpy(filter.config.focalObjectName, "Old");
  ObjectPicker picker(&filter);
  SceneNode longest(std::string(259, 'n'));
  SceneNode tooLong(std::string(260, 'x'));
  SceneNode* const fits[] = {&longest};
  SceneNode* const refused[] = {&tooLong};

  picker.Picked(PickList{1, refused});
  EXPECT_STREQ(filter.config.focalObjectName, "Old");
  EXPECT_EQ(filter.config.blurRange, 50.0f);

  picker.Picked(PickList{1, fits});
  EXPECT_EQ(std::string(filter.config.focalObjectName), longest.GetName());
  EXPECT_EQ(filter.config.focalObjectName[259], '\0');
  EXPECT_EQ(filter.config.blurRange, 50.0f);
}

TEST_F(FocalObjectPicker, BrowseShowsThePickAndCancelForgetsIt) {
  std::strcpy(filter.config.focalObjectName, "Before");
  HostInterface().AddNode("Camera Target");
  HostInterface().QueuePick({"Camera Target"});
  User().Click(IDC_BROWSE).Call([this](HWND dialog) {
    EXPECT_EQ(Text(dialog, IDC_OBJECT_NAME), "Camera Target");
    EXPECT_STREQ(filter.config.focalObjectName, "Camera Target");
  });
  User().Click(IDCANCEL);
  EXPECT_EQ(filter.ShowControl(nullptr), 0);
  EXPECT_STREQ(filter.config.focalObjectName, "Before");
  ASSERT_EQ(HostInterface().PickRuns().size(), 1u);
  EXPECT_EQ(HostInterface().PickRuns()[0].title, "Select Object");
}

TEST_F(FocalObjectPicker, BrowseWithoutAUsablePickKeepsNameAndLabel) {
  HostInterface().AddNode("Camera Target");
  HostInterface().QueuePickCancel();
  HostInterface().QueuePick({"No Such Node"});  // completed, but nothing picked
  User().Click(IDC_BROWSE).Click(IDC_BROWSE).Call([this](HWND dialog) {
    EXPECT_EQ(Text(dialog, IDC_OBJECT_NAME), "Undefined");
    EXPECT_EQ(filter.config.focalObjectName[0], '\0');
    EXPECT_NE(filter.picker, nullptr);
  });
  User().Click(IDOK);
  EXPECT_EQ(filter.ShowControl(nullptr), 1);
  EXPECT_EQ(HostInterface().PickRuns().size(), 2u);
  EXPECT_EQ(filter.picker, nullptr);
}

TEST_F(FocalObjectPicker, LabelShowsAStoredNameWithoutTerminatorWithinItsField) {
  std::memset(filter.config.focalObjectName, 'q', FOCAL_NAME_SIZE);
  filter.config.blurRange = 1.1f;  // no zero byte right behind the name either
  // A completed pick of a name too long for the field is refused; the label
  // then shows the stored name again, still read within its field.
  HostInterface().AddNode(std::string(300, 'z'));
  HostInterface().QueuePick({std::string(300, 'z')});
  const auto showsStoredName = [](HWND dialog) {
    EXPECT_EQ(Text(dialog, IDC_OBJECT_NAME), std::string(FOCAL_NAME_SIZE, 'q'));
  };
  User().Call(showsStoredName).Click(IDC_BROWSE).Call(showsStoredName);
  filter.ShowControl(nullptr);
  EXPECT_EQ(HostInterface().PickRuns().size(), 1u);
}

}  // namespace
