// module_instance.cpp: the module's instance handle, none until attach.
#include "ui/module_instance.h"

HINSTANCE moduleInstance = nullptr;
