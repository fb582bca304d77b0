// cursor.cpp: the standard cursors, the current cursor and the common
// controls' initialisation.
//
// There is no screen: a cursor is a static record, one per standard cursor
// name, and "the" cursor is the one last set.
#include "platform/common_controls.h"
#include "platform/win32.h"

struct CursorRecord {
  WORD id;
  const char* name;
};

namespace {

constexpr CursorRecord STANDARD_CURSORS[] = {
    {32512, "arrow"},      {32513, "ibeam"},    {32514, "wait"},     {32515, "cross"},
    {32516, "uparrow"},    {32642, "sizenwse"}, {32643, "sizenesw"}, {32644, "sizewe"},
    {32645, "sizens"},     {32646, "sizeall"},  {32648, "no"},       {32649, "hand"},
    {32650, "appstarting"}};

HCURSOR currentCursor = nullptr;
int commonControlsInits = 0;

}  // namespace

namespace platform {

int CommonControlsInitCount() { return commonControlsInits; }

}  // namespace platform

// Modules carry no cursor resources, so only the system's cursors (no
// instance) exist.
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (instance || !IS_INTRESOURCE(name)) return nullptr;
  const WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  for (const CursorRecord& cursor : STANDARD_CURSORS) {
    if (cursor.id == id) return &cursor;
  }
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  const HCURSOR previous = currentCursor;
  currentCursor = cursor;
  return previous;
}

HCURSOR GetCursor() { return currentCursor; }

void InitCommonControls() { ++commonControlsInits; }
