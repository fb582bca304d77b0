// dialog_controls.h: the control dialog's source radio buttons and its four
// spinners. The spinners' interfaces are held in controlDialog from
// initialisation until they are released.
#pragma once

#include <cstdint>

#include "kestrion/focus_config.h"
#include "platform/win32.h"

// Enables each ID edit and spinner while its source button is checked.
void EnableBySource(HWND dialog);
// The checked source button's identifier, which is the source mode it
// stands for; whole image when none is checked.
int32_t ReadSource(HWND dialog);
// Takes the range and size spinners, links them to their edits and shows
// the record's values within the record's limits.
void SetupFloatSpinners(HWND dialog, const FocusConfig& config);
// Checks the record's source button (none for a mode outside the three),
// takes the ID spinners, links them to their edits and shows the record's
// IDs within the IDs' limits, then enables by source.
void SetupIdSpinners(HWND dialog, const FocusConfig& config);
// Releases the ID spinners.
void ReleaseIdSpinners();
// Reads blur size and blur range back from the float spinners still held
// into the record, then releases those spinners.
void ReadBackFloatSpinners(FocusConfig& config);
