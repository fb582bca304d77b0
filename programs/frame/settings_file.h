// settings_file.h: render settings from a settings (shot) file, JSON. The
// command line overrides the file field by field.
//
// A shot file is one JSON object; every field is optional. Range, size and
// the focus depth take a number or keys [[frame, value], ...]; the focus
// pixel [x, y] or keys [[frame, x, y], ...]; keys in increasing frame order
// (see shot_keys.h for how they are sampled):
//   {
//     "focusDepth": 12.5,               // depth of the focal plane (> 0 in front)
//     "focusPixel": [[1, 640, 360], [48, 700, 300]],  // or the depth seen here
//     "focusObject": 3,                 // or the depth of this object's pixels
//                                       // (an ID, or a name: "Monkey")
//     "focusStatistic": "median",       // median | mean | min | max
//     "focusMissing": "hold",           // hold | fail: a frame without the object
//     "range": [[1, 6], [48, 12]],      // depth distance at which the blur is full
//     "size": 8,                        // full blur radius in pixels, or "2%" of
//                                       // the frame's width
//     "source": "object:3",             // whole | material:ID | object:ID
//     "layered": true,                  // filter in depth layers: edges
//                                       // without halos (default false)
//     "view": {"config": "config.ocio",  // review images through this colour
//              "display": "sRGB",        // configuration's display, view and
//              "view": "Filmic",         // look (names: the configuration's
//              "look": "Medium Contrast",// defaults when left out), exposure
//              "exposure": 0, "gamma": 1}// in stops and display gamma
//   }
// Unknown fields are errors, so that a misspelt field is not silently
// ignored. At most one of focusDepth, focusPixel and focusObject.
#pragma once

#include <cstddef>
#include <string>

#include "frame/render_settings.h"

namespace kestrion {

// Settings files are small: a larger file is not one.
constexpr size_t SETTINGS_FILE_MAX = size_t{1} << 20;

// `base` with the fields the file gives replaced by the file's; a focus the
// file gives replaces base's, of whichever kind. Throws a FileError when the
// file cannot be opened or read, and a UsageError naming the file when it
// is not a regular file, is larger than SETTINGS_FILE_MAX, or its content
// is not valid settings (where the text is not JSON, the error gives the
// line and column).
RenderSettings ReadSettingsFile(const std::string& path, RenderSettings base = {});
// The same from JSON text; `name` names the source in errors.
RenderSettings ParseSettings(const std::string& json, const std::string& name,
                             RenderSettings base = {});

}  // namespace kestrion
