// live_editing.cpp: live edits of blur range and blur size inside undo
// holds, and the refreshes through which the dialog follows the host.
#include "ui/live_editing.h"

#include "filter/focus_filter.h"
#include "host/messages.h"
#include "ui/control_dialog.h"
#include "ui/dialog_ids.h"
#include "ui/float_parameters.h"
#include "ui/node_change_notifier.h"
#include "ui/parameter_hold.h"

namespace {

const FloatParameter* BySpinner(WPARAM wParam) {
  for (const FloatParameter& p : FLOAT_PARAMETERS) {
    if (LOWORD(wParam) == p.spinner) return &p;
  }
  return nullptr;
}

bool FromLiveEdit(WPARAM wParam) {
  for (const FloatParameter& p : FLOAT_PARAMETERS) {
    if (LOWORD(wParam) == p.edit) return true;
  }
  return false;
}

ISpinnerControl* SpinnerOf(const FloatParameter& p) { return (controlDialog.*p.handle).get(); }

// The field from the track at t (negative: the current time), then the
// spinner from the field, without a change message. GetTrackValue's result.
int32_t Refresh(FocusFilter& filter, const FloatParameter& p, TimeValue t) {
  float& field = filter.config.*p.field;
  const int32_t read = filter.GetTrackValue(p.track, &field, t);
  if (ISpinnerControl* spinner = SpinnerOf(p)) spinner->SetFloatValue(field, 0);
  return read;
}

// The values at `t`; the key indications for the host's current time, from
// the controller that the track read left in currentControl.
void FollowTime(FocusFilter& filter, TimeValue t) {
  for (const FloatParameter& p : FLOAT_PARAMETERS) {
    if (Refresh(filter, p, t) != 1 || !filter.currentControl) continue;
    const TimeValue now = filter.MainInterface()->GetTime();
    const int key = filter.currentControl->IsKeyAtTime(now, 0);
    if (ISpinnerControl* spinner = SpinnerOf(p)) spinner->SetKeyIndication(key ? 1 : 0);
  }
}

// Field from the spinner, then the track at the current time from the
// field, inside a hold.
void EditLive(FocusFilter& filter, const FloatParameter& p) {
  ISpinnerControl* spinner = SpinnerOf(p);
  if (!spinner) return;
  BeginHoldIfNone(filter);
  float& field = filter.config.*p.field;
  field = spinner->GetFloatValue();
  filter.SetTrackValue(p.track, &field, CURRENT_TIME);
}

}  // namespace

bool IsLiveEditingMessage(UINT message) {
  switch (message) {
    case WM_PAINT:
    case HOST_TIME_CHANGE:
    case NODE_CHANGED:
    case SPINNER_CHANGE:
    case SPINNER_PRESS:
    case SPINNER_RELEASE:
    case CUSTEDIT_ENTER:
      return true;
    default:
      return false;
  }
}

void HandleLiveEditing(FocusFilter& filter, HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      if (!filter.tracksChanged) break;
      for (const FloatParameter& p : FLOAT_PARAMETERS) Refresh(filter, p, CURRENT_TIME);
      break;
    case HOST_TIME_CHANGE:
      FollowTime(filter, static_cast<TimeValue>(lParam));
      break;
    case NODE_CHANGED:
      filter.tracksChanged = true;
      break;
    case SPINNER_CHANGE:
      if (const FloatParameter* p = BySpinner(wParam)) EditLive(filter, *p);
      break;
    case SPINNER_PRESS:
      if (BySpinner(wParam)) BeginHold(filter);
      break;
    case SPINNER_RELEASE:
      if (BySpinner(wParam)) EndHold(filter, wParam, PARAMETER_CHANGE);
      break;
    case CUSTEDIT_ENTER:
      if (FromLiveEdit(wParam)) AcceptHold(filter, PARAMETER_CHANGE);
      break;
    default:
      break;
  }
}
