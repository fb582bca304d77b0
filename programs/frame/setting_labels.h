// setting_labels.h: the names a message gives the settings and files it
// finds at fault: the caller's own, so that the command line can say
// "--bit-depth: ..." and a Python module "bit_depth: ...". The defaults are
// the settings' names as an embedding program's keywords would spell them.
// Nothing here includes another header, so that every layer of the frame
// library that reports a setting can take these.
#pragma once

#include <string>

namespace kestrion {

struct SettingLabels {
  // The frame, its output and how it is filtered.
  std::string frame = "frame";
  std::string size = "size";
  std::string range = "range";
  std::string alpha = "alpha";
  std::string output = "output";
  std::string bitDepth = "bit_depth";
  std::string focusMap = "focus_map";
  std::string compression = "compression";
  std::string flatten = "flatten";
  std::string exposure = "exposure";
  std::string display = "display";
  std::string gamma = "gamma";

  // The focus.
  std::string focusDepth = "focus_depth";
  std::string focusObject = "focus_object";
  std::string focusMissing = "focus_missing";
  std::string pixel = "pixel";

  // What the depth means.
  std::string depthMode = "depth_mode";
  std::string depthNear = "depth_near";
  std::string depthFar = "depth_far";
  std::string backgroundDepth = "background_depth";
  std::string backgroundFrom = "background_from";

  // Where the channels come from.
  std::string part = "part";
  std::string layer = "layer";
  std::string layers = "layers";
  std::string depthChannel = "depth_channel";
  std::string objectIdChannel = "object_id_channel";
  std::string materialIdChannel = "material_id_channel";
  std::string depthFile = "depth_file";

  // The limits a call stays within.
  std::string memoryLimit = "memory_limit";
  std::string maxSide = "max_side";
};

}  // namespace kestrion
