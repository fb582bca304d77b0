// resources.h: the resource format that a module carries and the platform
// finds through the module's instance handle.
//
// A module exports `ModuleResources` (C linkage, no arguments) returning its
// ResourceTable. Dialog templates and bitmaps are plain constant data in the
// module; the platform never copies or frees them.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr WORD RT_BITMAP_TYPE = 2;
constexpr WORD RT_DIALOG_TYPE = 5;

// One control of a dialog template. Positions are in dialog units.
struct DialogItemTemplate {
  DWORD style;  // the full style, WS_CHILD | WS_VISIBLE included
  DWORD exStyle;
  int16_t x, y, cx, cy;
  WORD id;             // 65535 for a control the dialog procedure never addresses
  LPCSTR windowClass;  // "BUTTON", "STATIC", or a registered class such as "CustEdit"
  LPCSTR text;         // may be empty, never null
  WORD imageId;        // SS_BITMAP statics: the bitmap resource shown; 0 otherwise
};

struct DialogTemplate {
  DWORD style;
  DWORD exStyle;
  int16_t x, y, cx, cy;
  LPCSTR caption;
  WORD pointSize;   // with DS_SETFONT
  LPCSTR typeface;  // with DS_SETFONT
  const DialogItemTemplate* items;
  WORD itemCount;
};

// A device-independent bitmap with a palette.
struct BitmapResource {
  int32_t width;
  int32_t height;
  WORD bitCount;            // 8: one palette index per pixel
  const uint32_t* palette;  // 256 entries 0x00RRGGBB
  const BYTE* bits;         // width * height indices, top row first
};

struct ResourceEntry {
  WORD type;  // RT_DIALOG_TYPE or RT_BITMAP_TYPE
  WORD id;
  const void* data;  // DialogTemplate* or BitmapResource*
};

struct ResourceTable {
  const ResourceEntry* entries;
  uint32_t count;
};

using ModuleResourcesFn = const ResourceTable* (*)();
using DllMainFn = BOOL (*)(HINSTANCE, DWORD, LPVOID);

namespace platform {

// Finds a resource of the module by type and numeric id; null when absent.
const void* FindModuleResource(HINSTANCE instance, WORD type, WORD id);

// An instance handle for code linked into the calling program rather than
// loaded from a file (unit tests of the module's own code). It carries the
// given resources and lives until ReleaseStaticModule.
HINSTANCE RegisterStaticModule(const ResourceTable* resources);
void ReleaseStaticModule(HINSTANCE instance);

// The reason the last LoadLibraryA failed, for a host program's message.
const char* LoaderError();

}  // namespace platform
