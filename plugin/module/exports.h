// exports.h: the four registration functions through which the host reads
// the module and reaches its class table.
#pragma once

#include <cstdint>

#include "host/class_desc.h"
#include "module/module.h"

KESTRION_EXPORT const char* LibDescription();
KESTRION_EXPORT int32_t LibNumberClasses();
// The descriptor of class `index`, or null outside 0 .. count - 1.
KESTRION_EXPORT ClassDesc* LibClassDesc(int32_t index);
KESTRION_EXPORT uint32_t LibVersion();
