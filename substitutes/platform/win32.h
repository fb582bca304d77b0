// win32.h: the Windows user-interface services, as every file of the
// module, the host and the host programs includes them. The one place that
// chooses: the real services of <windows.h> in the Windows build, the
// headless ones of platform/headless_win32.h everywhere else. Both give the
// same names, types, message numbers, styles and calling conventions
// (WINAPI and CALLBACK are __stdcall on 32-bit Windows).
//
// KESTRION_EXPORT marks the module's exported functions: C linkage, and
// visible outside the shared module where symbols are hidden by default. On
// Windows the module definition file names the exports and their ordinals.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After <windows.h>, which they build on:
#include <commctrl.h>
#include <windowsx.h>
#define KESTRION_EXPORT extern "C"
#else
#include "platform/headless_win32.h"
#define KESTRION_EXPORT extern "C" __attribute__((visibility("default")))
#endif
