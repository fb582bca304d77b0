// settings.h: the settings of `kestrion render`, from a JSON file and from
// the command line, which overrides the file field by field.
//
// A settings file is one JSON object; every field is optional:
//   {
//     "focusDepth": 12.5,        // depth of the focal plane (> 0 in front)
//     "focusPixel": [640, 360],  // or: focus on the depth seen at this pixel
//     "range": 10,               // depth distance at which the blur is full
//     "size": 8,                 // full blur radius in pixels
//     "source": "object:3"       // whole | material:ID | object:ID
//   }
// Unknown fields are errors, so that a misspelt field is not silently
// ignored.
#pragma once

#include <optional>
#include <string>

#include "app/focus_record.h"

namespace kestrion {

struct FocusPixel {
  int x = 0;
  int y = 0;
};

struct RenderSettings {
  std::optional<float> focusDepth;
  std::optional<FocusPixel> focusPixel;
  std::optional<float> range;
  std::optional<float> size;
  std::optional<SourceSelection> source;
};

// Throws a FileError when the file cannot be read and a UsageError naming
// the file when its content is not valid settings.
RenderSettings ReadSettingsFile(const std::string& path);
// Parses settings from JSON text; `name` names the source in errors.
RenderSettings ParseSettings(const std::string& json, const std::string& name);

// "X,Y" with whole numbers; throws a UsageError.
FocusPixel ParseFocusPixel(const std::string& text);

// The fields of `overrides` that are set replace those of `base`; a focus
// given either way replaces a focus of the other kind.
RenderSettings Merge(RenderSettings base, const RenderSettings& overrides);

}  // namespace kestrion
