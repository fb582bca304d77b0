// common_controls.h: what InitCommonControls leaves behind, for tests that
// check a module initialises the common controls once per attach.
#pragma once

namespace platform {

// The number of InitCommonControls calls made by this process so far.
int CommonControlsInitCount();

}  // namespace platform
