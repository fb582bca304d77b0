// state_message.h: the studio's state as the page receives it after every
// request, one JSON object:
//   {"type":"state", "version":V, "ack":SEQ,
//    "dialogs":[DIALOG...],   outermost first; the last takes the input
//    "pick":PICK or null,     the host's pick dialog, over all of them
//    "host":{...}}            what the host program adds (its record, say)
// DIALOG: {"handle":H, "caption", "style", "placed":BOX (its units),
//          "pixels":BOX, "baseUnits":[X, Y], "controls":[CONTROL...]}
// CONTROL: {"class", "id", "text", "style", "enabled", "visible", "checked",
//           "focused", "tabStop", "units":BOX, "pixels":BOX,
//           "spinner":{"value","min","max","key","edit"} (spinners),
//           "bitmap":{"width","height","palette","pixels"} (bitmaps)}
// BOX: [x, y, width, height]. A bitmap's palette is 256 colours as
// "RRGGBB" hexadecimal text, its pixels one palette index a byte, top row
// first, in base64.
// PICK: {"run", "title", "button", "offered":[names], "single", "allowEmpty"}
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/scene.h"
#include "studio/window_tree.h"

namespace studio {

// An open dialog with the handle the page names it by.
struct ShownDialog {
  int32_t handle;
  const DialogNode* dialog;
};

struct ShownPick {
  int32_t run;
  const PickDialogRun* dialog;
};

nlohmann::json DialogJson(const DialogNode& dialog, int32_t handle);

std::string StateMessage(int64_t version, int64_t ack, const std::vector<ShownDialog>& dialogs,
                         const ShownPick* pick, const nlohmann::json& host);

}  // namespace studio
