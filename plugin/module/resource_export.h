// resource_export.h: the module's resources as the headless loader finds
// them, through an exported function. The Windows build carries the same
// resources compiled into the module file instead (KESTRION.rc).
#pragma once

#include "platform/resources.h"
#include "platform/win32.h"

// The module's resource table (dialogs 101 and 102, bitmap 104).
KESTRION_EXPORT const ResourceTable* ModuleResources();
