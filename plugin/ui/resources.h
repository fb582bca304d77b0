// resources.h: the module's dialog and bitmap resources, found by the
// platform through the module's instance handle.
#pragma once

#include "platform/resources.h"

extern const ResourceTable moduleResourceTable;
