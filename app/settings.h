// settings.h: the settings of `kestrion render`, from a shot file (JSON)
// and from the command line, which overrides the file field by field.
//
// A shot file is one JSON object; every field is optional. Range, size and
// the focus depth take a number or keys [[frame, value], ...]; the focus
// pixel [x, y] or keys [[frame, x, y], ...]; keys in increasing frame order
// (see shot_keys.h for how they are sampled):
//   {
//     "focusDepth": 12.5,               // depth of the focal plane (> 0 in front)
//     "focusPixel": [[1, 640, 360], [48, 700, 300]],  // or the depth seen here
//     "focusObject": 3,                 // or the depth of this object's pixels
//     "focusStatistic": "median",       // median | mean | min | max
//     "range": [[1, 6], [48, 12]],      // depth distance at which the blur is full
//     "size": 8,                        // full blur radius in pixels
//     "source": "object:3"              // whole | material:ID | object:ID
//   }
// Unknown fields are errors, so that a misspelt field is not silently
// ignored. At most one of focusDepth, focusPixel and focusObject.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/focus_record.h"
#include "app/shot_keys.h"

namespace kestrion {

// How the depths of a focus object's pixels become one focal depth. The
// median of an even count is the mean of the two middle depths.
enum class FocusStatistic { Median, Mean, Min, Max };

struct RenderSettings {
  std::optional<FloatKeys> focusDepth;
  std::optional<PixelKeys> focusPixel;
  std::optional<int32_t> focusObject;
  std::optional<FocusStatistic> focusStatistic;
  std::optional<FloatKeys> range;
  std::optional<FloatKeys> size;
  std::optional<SourceSelection> source;

  // How many of focusDepth, focusPixel and focusObject are set.
  int FocusCount() const {
    return (focusDepth ? 1 : 0) + (focusPixel ? 1 : 0) + (focusObject ? 1 : 0);
  }
};

// Settings files are small: a larger file is not one.
constexpr size_t SETTINGS_FILE_MAX = size_t{1} << 20;

// Throws a FileError when the file cannot be opened or read, and a
// UsageError naming the file when it is not a regular file, is larger than
// SETTINGS_FILE_MAX, or its content is not valid settings (where the text
// is not JSON, the error gives the line and column).
RenderSettings ReadSettingsFile(const std::string& path);
// Parses settings from JSON text; `name` names the source in errors.
RenderSettings ParseSettings(const std::string& json, const std::string& name);

// "X,Y" with whole numbers; throws a UsageError naming `option`.
FocusPixel ParseFocusPixel(const std::string& text, const std::string& option);
// "median", "mean", "min" or "max"; throws a UsageError naming the option.
FocusStatistic ParseFocusStatistic(const std::string& text, const std::string& option);
const char* FocusStatisticName(FocusStatistic statistic);
// An object ID as the object ID channel holds it; throws a UsageError.
int32_t CheckFocusObject(int64_t id, const std::string& option);

// Checks every key's value with `check` (CheckBlurRange, CheckBlurSize);
// throws a UsageError naming `option` and, for keys, the frame.
void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option);

// The fields of `overrides` that are set replace those of `base`; a focus
// given either way replaces a focus of another kind.
RenderSettings Merge(RenderSettings base, const RenderSettings& overrides);

}  // namespace kestrion
