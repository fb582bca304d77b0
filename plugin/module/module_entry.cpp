// module_entry.cpp: the attach and detach handling.
#include "host/custom_controls.h"
#include "module/module.h"
#include "ui/module_instance.h"

int32_t controlsInitialised = 0;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_DETACH:
      moduleInstance = nullptr;
      controlsInitialised = 0;
      return TRUE;
    case DLL_PROCESS_ATTACH:
      if (moduleInstance) return FALSE;  // attached already
      moduleInstance = instance;
      if (controlsInitialised) return TRUE;
      // The control dialog's spinners and edits need both, once per attach.
      controlsInitialised = 1;
      InitCustomControls(instance);
      InitCommonControls();
      return TRUE;
    default:
      return TRUE;  // thread attach and detach
  }
}
