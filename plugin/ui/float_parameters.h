// float_parameters.h: the two live float parameters of the control dialog,
// blur range and blur size: each a spinner linked to an edit, a lower limit,
// an animated track and a configuration field. Listed in the order in which
// the dialog sets them up and refreshes them: range, then size.
#pragma once

#include "filter/focus_filter.h"
#include "ui/control_dialog.h"
#include "ui/dialog_ids.h"

struct FloatParameter {
  int spinner;
  int edit;
  float minimum;
  float maximum;
  TrackId track;
  float FocusConfig::*field;
  SpinnerHandle ControlDialogState::*handle;
};

constexpr FloatParameter FLOAT_PARAMETERS[] = {
    {IDC_RANGE_SPINNER, IDC_RANGE_EDIT, BLUR_RANGE_MIN, BLUR_RANGE_MAX, RANGE_TRACK,
     &FocusConfig::blurRange, &ControlDialogState::rangeSpinner},
    {IDC_SIZE_SPINNER, IDC_SIZE_EDIT, BLUR_SIZE_MIN, BLUR_SIZE_MAX, SIZE_TRACK,
     &FocusConfig::blurSize, &ControlDialogState::sizeSpinner},
};
