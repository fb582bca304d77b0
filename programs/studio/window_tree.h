// window_tree.h: what the headless platform holds for the open dialogs, as
// plain values the page can draw and the studio can read (the pending
// source and IDs of the control dialog, say, which reach the filter's
// record only on OK).
//
// Read through the Windows services and the host's spinner interface
// only, on the dialogs' thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "platform/win32.h"

namespace studio {

// A rectangle as x, y, width and height.
struct Box {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;

  bool operator==(const Box&) const = default;
};

// A host spinner's state.
struct SpinnerState {
  float value = 0.0f;
  float minimum = 0.0f;
  float maximum = 0.0f;
  bool key = false;  // the key indication
  int32_t edit = 0;  // the identifier of the linked edit, 0 for none
};

struct ControlNode {
  std::string className;  // as registered: "BUTTON", "STATIC", "CustEdit", ...
  int32_t id = 0;
  std::string text;
  uint32_t style = 0;
  bool enabled = false;
  bool visible = false;
  uint32_t checked = 0;  // BM_GETCHECK of buttons
  bool focused = false;
  Box units;   // in the dialog's units, relative to its client area
  Box pixels;  // the same through MapDialogRect
  std::optional<SpinnerState> spinner;
  const BitmapResource* bitmap = nullptr;  // SS_BITMAP statics
};

struct DialogNode {
  HWND window = nullptr;
  std::string caption;
  uint32_t style = 0;
  Box placed;             // where the platform placed it (CenterWindow), its units
  Box pixels;             // its client area in pixels, at (0, 0)
  int32_t baseUnitX = 0;  // the dialog font's average width and height in pixels
  int32_t baseUnitY = 0;
  std::vector<ControlNode> controls;  // in tab (template) order
};

// The dialogs whose modal loops are running, outermost first.
std::vector<DialogNode> CaptureOpenDialogs();
// One dialog and its controls.
DialogNode CaptureDialog(HWND dialog);

// The control with the identifier, or null.
const ControlNode* FindControl(const DialogNode& dialog, int32_t id);

}  // namespace studio
