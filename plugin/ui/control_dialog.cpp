// control_dialog.cpp: the control dialog's procedure, its opening, its
// commands and its closing, and how the filter runs it.
#include "ui/control_dialog.h"

#include "filter/dialogs.h"
#include "filter/focus_filter.h"
#include "host/custom_controls.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_ids.h"
#include "ui/live_editing.h"
#include "ui/module_instance.h"
#include "ui/node_change_notifier.h"
#include "ui/object_picker.h"
#include "ui/parameter_hold.h"

ControlDialogState controlDialog;

namespace {

constexpr const char* UNDEFINED_OBJECT = "Undefined";

void Initialise(FocusFilter& filter, HWND dialog) {
  filter.holdActive = false;
  filter.tracksChanged = false;
  filter.MakeDlgInteractive(dialog);
  CenterWindow(dialog, TheManager ? TheManager->AppWnd() : nullptr);
  filter.FilterUpdate();
  RegisterNotifier(filter, dialog);
  filter.GetTrackValue(RANGE_TRACK, &filter.config.blurRange, CURRENT_TIME);
  filter.GetTrackValue(SIZE_TRACK, &filter.config.blurSize, CURRENT_TIME);
  // Taken after the tracks were read: Cancel returns to the values the
  // dialog opened with.
  controlDialog.snapshot = filter.config;
  ShowFocalName(dialog, filter.config);
  SetupFloatSpinners(dialog, filter.config);
  SetupIdSpinners(dialog, filter.config);
}

void Command(FocusFilter& filter, HWND dialog, int id) {
  switch (id) {
    case IDOK:
      filter.config.sourceMode = ReadSource(dialog);
      if (controlDialog.materialIdSpinner) {
        filter.config.materialEffectsId = controlDialog.materialIdSpinner->GetIntValue();
      }
      if (controlDialog.objectIdSpinner) {
        filter.config.objectChannelId = controlDialog.objectIdSpinner->GetIntValue();
      }
      EndDialog(dialog, 1);
      break;
    case IDCANCEL:
      filter.config = controlDialog.snapshot;
      EndDialog(dialog, 0);
      break;
    case IDC_BROWSE:
      Browse(filter, dialog);
      break;
    case IDC_WHOLE_IMAGE:
    case IDC_MATERIAL_EFFECTS:
    case IDC_OBJECT_CHANNEL:
      EnableBySource(dialog);
      break;
    default:
      break;
  }
}

void Destroy(FocusFilter& filter) {
  UnregisterNotifier(filter);
  ReleaseIdSpinners();
  filter.picker.reset();
  // A value typed into edit 1003 or 1005 opens a hold that only the edit's
  // entry message accepts. If the dialog closes first, the track change is
  // kept as an undoable step, as the record keeps the value.
  AcceptHold(filter, PARAMETER_CHANGE);
  ReadBackFloatSpinners(filter.config);
}

INT_PTR HandleMessage(FocusFilter& filter, HWND dialog, UINT message, WPARAM wParam,
                      LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise(filter, dialog);
      return 1;
    case WM_COMMAND:
      Command(filter, dialog, LOWORD(wParam));
      return 1;
    case WM_DESTROY:
      Destroy(filter);
      return 0;
    default:
      if (IsLiveEditingMessage(message)) HandleLiveEditing(filter, dialog, message, wParam, lParam);
      return 0;
  }
}

}  // namespace

void ShowFocalName(HWND dialog, const FocusConfig& config) {
  const TerminatedName name = TerminateFocalName(config.focalObjectName);
  SetDlgItemTextA(dialog, IDC_OBJECT_NAME, name.text[0] ? name.text : UNDEFINED_OBJECT);
}

INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) controlDialog.filter = reinterpret_cast<FocusFilter*>(lParam);
  FocusFilter* filter = controlDialog.filter;
  if (!filter) return 0;
  const INT_PTR result = HandleMessage(*filter, dialog, message, wParam, lParam);
  // The filter may be destroyed once its dialog is gone; nothing may reach
  // it through the next dialog's early messages.
  if (message == WM_DESTROY) controlDialog.filter = nullptr;
  return result;
}

int32_t RunControlDialog(FocusFilter& filter, HWND parent) {
  return static_cast<int32_t>(
      DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(static_cast<WORD>(CONTROL_DIALOG_ID)),
                      parent, ControlDialogProc, reinterpret_cast<LPARAM>(&filter)));
}
