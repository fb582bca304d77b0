// module_instance.h: the module's own instance handle, through which every
// dialog is created from the module's resources. The attach handling sets
// it at attach and clears it at detach.
#pragma once

#include "platform/win32.h"

extern HINSTANCE moduleInstance;
