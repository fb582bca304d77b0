// resources.cpp: the module's resource table.
#include "ui/resources.h"

const ResourceTable moduleResourceTable{nullptr, 0};
