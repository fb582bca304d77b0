// dialog_controls.cpp: the control dialog's source radio buttons and its
// four spinners (acquired at initialisation, released at destroy).
#include "ui/dialog_controls.h"

#include "host/bitmap.h"
#include "host/custom_controls.h"
#include "ui/control_dialog.h"
#include "ui/dialog_ids.h"
#include "ui/float_parameters.h"

namespace {

struct IdSpinner {
  int spinner;
  int edit;
  int maximum;
  SpinnerHandle ControlDialogState::*handle;
  int32_t FocusConfig::*field;
};

// Set up in this order: material effects ID, then object channel ID.
constexpr IdSpinner ID_SPINNERS[] = {
    {IDC_MATERIAL_ID_SPINNER, IDC_MATERIAL_ID_EDIT, MATERIAL_ID_SPINNER_MAX,
     &ControlDialogState::materialIdSpinner, &FocusConfig::materialEffectsId},
    {IDC_OBJECT_ID_SPINNER, IDC_OBJECT_ID_EDIT, OBJECT_ID_MAX, &ControlDialogState::objectIdSpinner,
     &FocusConfig::objectChannelId},
};

// Takes the spinner's interface into `handle` (releasing any it held) and
// links the spinner to its edit. Null when the control is no spinner.
ISpinnerControl* Acquire(HWND dialog, int spinner, int edit, int editType, SpinnerHandle& handle) {
  handle.reset(GetISpinner(GetDlgItem(dialog, spinner)));
  if (handle) handle->LinkToEdit(GetDlgItem(dialog, edit), editType);
  return handle.get();
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void EnablePair(HWND dialog, int edit, int spinner, bool enable) {
  EnableWindow(GetDlgItem(dialog, edit), enable ? TRUE : FALSE);
  EnableWindow(GetDlgItem(dialog, spinner), enable ? TRUE : FALSE);
}

}  // namespace

void EnableBySource(HWND dialog) {
  EnablePair(dialog, IDC_MATERIAL_ID_EDIT, IDC_MATERIAL_ID_SPINNER,
             Checked(dialog, IDC_MATERIAL_EFFECTS));
  EnablePair(dialog, IDC_OBJECT_ID_EDIT, IDC_OBJECT_ID_SPINNER,
             Checked(dialog, IDC_OBJECT_CHANNEL));
}

int32_t ReadSource(HWND dialog) {
  for (int id : {IDC_WHOLE_IMAGE, IDC_MATERIAL_EFFECTS, IDC_OBJECT_CHANNEL}) {
    if (Checked(dialog, id)) return id;
  }
  return SOURCE_WHOLE_IMAGE;
}

void SetupFloatSpinners(HWND dialog, const FocusConfig& config) {
  for (const FloatParameter& s : FLOAT_PARAMETERS) {
    ISpinnerControl* spinner =
        Acquire(dialog, s.spinner, s.edit, EDITTYPE_FLOAT, controlDialog.*s.handle);
    if (!spinner) continue;
    spinner->SetFloatLimits(s.minimum, s.maximum, 0);
    spinner->SetFloatValue(config.*s.field, 0);
  }
}

void SetupIdSpinners(HWND dialog, const FocusConfig& config) {
  // A stored mode outside the three buttons selects none of them.
  const int32_t mode = config.sourceMode;
  if (mode >= IDC_WHOLE_IMAGE && mode <= IDC_OBJECT_CHANNEL) {
    CheckRadioButton(dialog, IDC_WHOLE_IMAGE, IDC_OBJECT_CHANNEL, mode);
  }
  for (const IdSpinner& s : ID_SPINNERS) {
    ISpinnerControl* spinner =
        Acquire(dialog, s.spinner, s.edit, EDITTYPE_INT, controlDialog.*s.handle);
    if (!spinner) continue;
    spinner->SetIntLimits(0, s.maximum, 0);
    spinner->SetIntValue(config.*s.field, 0);
  }
  EnableBySource(dialog);
}

void ReleaseIdSpinners() {
  controlDialog.materialIdSpinner.reset();
  controlDialog.objectIdSpinner.reset();
}

void ReadBackFloatSpinners(FocusConfig& config) {
  if (controlDialog.sizeSpinner) config.blurSize = controlDialog.sizeSpinner->GetFloatValue();
  if (controlDialog.rangeSpinner) config.blurRange = controlDialog.rangeSpinner->GetFloatValue();
  controlDialog.sizeSpinner.reset();
  controlDialog.rangeSpinner.reset();
}
