#include "ui/resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/focus_filter.h"
#include "kestrion/version.h"
#include "platform/resources.h"

namespace {

// The texts of the dialog's controls, in template order.
std::vector<std::string> ControlTexts(int32_t dialogId) {
  const DialogTemplate* dialog = nullptr;
  for (uint32_t i = 0; i < moduleResourceTable.count; ++i) {
    const ResourceEntry& entry = moduleResourceTable.entries[i];
    if (entry.type == RT_DIALOG_TYPE && entry.id == dialogId) {
      dialog = static_cast<const DialogTemplate*>(entry.data);
    }
  }
  std::vector<std::string> texts;
  if (!dialog) return texts;
  for (WORD i = 0; i < dialog->itemCount; ++i) texts.emplace_back(dialog->items[i].text);
  return texts;
}

// Both texts are composed from the generated product version; what the
// user sees must stay exactly what it was.
TEST(DialogResources, AboutBoxAndControlDialogShowTheProductVersion) {
  EXPECT_STREQ(KESTRION_VERSION_TEXT, "1.1");
  const std::vector<std::string> about = ControlTexts(ABOUT_DIALOG_ID);
  ASSERT_EQ(about.size(), 8u);
  EXPECT_EQ(about[1], "Kestrion");
  EXPECT_EQ(about[2], "Version 1.1");
  const std::vector<std::string> control = ControlTexts(CONTROL_DIALOG_ID);
  ASSERT_EQ(control.size(), 22u);
  EXPECT_EQ(control[1], "Kestrion, Version 1.1");
  EXPECT_EQ(control[2], FILTER_COPYRIGHT);
}

}  // namespace
