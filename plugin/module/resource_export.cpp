// resource_export.cpp: the resource table the headless loader finds.
#include "module/resource_export.h"

#include "ui/resources.h"

const ResourceTable* ModuleResources() { return &moduleResourceTable; }
