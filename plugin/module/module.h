// module.h: the module-wide state set by the attach handling, and the
// module's entry point.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Set once the custom and common controls are initialised for this attach.
extern int32_t controlsInitialised;

// The attach and detach handling, called by the platform's loader (on
// Windows the module's entry point, after static initialisation). Sets and
// clears moduleInstance (ui/module_instance.h).
KESTRION_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
