// filter_host.h: the host's side of the studio for one filter.
//
// Host commands the page can give (answered with a refusal when they
// cannot run):
//   "openControl"  the filter's control dialog (ShowControl), when no
//                  dialog is open
//   "openAbout"    its about box (ShowAboutBox), over the dialog in front
//   "undo", "redo" the host's undo steps (theHold), as the host's Edit menu
//                  would; refused while a hold is open or nothing is there
// The state's "host" member it fills:
//   {"record":{"sourceMode","materialEffectsId","objectChannelId",
//              "focalObjectName","blurRange","blurSize"},
//    "tracks":{"Range":[[time, value]...], "Size":[...]},
//    "time", "ticksPerFrame", "objects":[scene node names],
//    "undo":{"steps","name","redoSteps","holding"},
//    "lastDialog":{"dialog":"control"|"about","result":N} or null}
// The record is what the filter's SaveConfigure writes, so it shows what
// the filter holds now: the live range and size, the picked name, and the
// source and IDs only once OK stored them.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/image_filter.h"
#include "studio/dialog_bridge.h"

namespace studio {

class FilterHost {
 public:
  // Adds the commands and the host state to the bridge; both must outlive
  // the bridge's use of them.
  FilterHost(ImageFilter& filter, DialogBridge& bridge);

  // Runs the control dialog now, on the studio thread; its result.
  int32_t OpenControl();
  nlohmann::json State() const;

 private:
  struct DialogResult {
    std::string dialog;
    int32_t result;
  };

  ImageFilter& filter;
  std::optional<DialogResult> lastDialog;
};

}  // namespace studio
