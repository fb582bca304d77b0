// dialog_reader.cpp: the control dialog found among the open dialogs, and
// its pending source read from its controls.
#include "studio/dialog_reader.h"

#include "kestrion/control_ids.h"

namespace studio {

namespace {

constexpr int32_t SOURCE_BUTTONS[] = {IDC_WHOLE_IMAGE, IDC_MATERIAL_EFFECTS, IDC_OBJECT_CHANNEL};

int32_t SpinnerValue(const DialogNode& dialog, int32_t id) {
  const ControlNode* spinner = FindControl(dialog, id);
  return spinner && spinner->spinner ? static_cast<int32_t>(spinner->spinner->value) : 0;
}

}  // namespace

const DialogNode* ControlDialog(const std::vector<DialogNode>& dialogs) {
  for (const DialogNode& dialog : dialogs) {
    if (FindControl(dialog, IDC_BROWSE) && FindControl(dialog, IDC_WHOLE_IMAGE)) return &dialog;
  }
  return nullptr;
}

kestrion::SourceSelection ShownSource(const DialogNode& dialog) {
  int32_t mode = SOURCE_WHOLE_IMAGE;
  for (const int32_t button : SOURCE_BUTTONS) {
    const ControlNode* control = FindControl(dialog, button);
    if (control && control->checked == 1) {
      mode = button;
      break;
    }
  }
  if (mode == SOURCE_MATERIAL_EFFECTS) return {mode, SpinnerValue(dialog, IDC_MATERIAL_ID_SPINNER)};
  if (mode == SOURCE_OBJECT_CHANNEL) return {mode, SpinnerValue(dialog, IDC_OBJECT_ID_SPINNER)};
  return {mode, 0};
}

}  // namespace studio
