// module.h: the module-wide state set by the attach handling, and the
// entry points the platform's loader finds by name.
#pragma once

#include <cstdint>

#include "platform/resources.h"
#include "platform/win32.h"

#define KESTRION_EXPORT extern "C" __attribute__((visibility("default")))

// Set once the custom and common controls are initialised for this attach.
extern int32_t controlsInitialised;

// The attach and detach handling, called by the platform's loader. Sets
// and clears moduleInstance (ui/module_instance.h).
KESTRION_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
// The module's resource table (dialogs 101 and 102, bitmap 104).
KESTRION_EXPORT const ResourceTable* ModuleResources();
