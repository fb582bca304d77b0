// studio_program.h: `kestrion studio`, from its settings to Ctrl-C.
//
// Loads the module as the host's pipeline does, reads the first frame,
// gives one filter the settings' record and tracks, starts the server on
// 127.0.0.1, prints the page's address (secret included) as the first line
// of `out`, opens the filter's control dialog and serves until SIGINT,
// SIGTERM or SIGHUP. The first signal ends it cleanly: open dialogs end as
// Cancel, each page is told, and RunStudio returns 0; a second one ends
// the process at once with 128 + the signal.
#pragma once

#include <cstdio>

#include "studio/workbench.h"

namespace studio {

// Throws an Error for what fails before the server serves (the
// module, the first frame, settings the filter refuses, a port it cannot
// have); then returns the exit code.
int RunStudio(const StudioSetup& setup, std::FILE* out, std::FILE* err);

}  // namespace studio
