// render_settings.h: everything a render of one frame is told, in one type
// that the command line, a settings file (settings_file.h) and in-process
// callers all fill: the frame of the shot, the focus, the blur, which
// channels of the input are what and what its depth means, the limits the
// run stays within, and how the output is written. A setting is added here
// once, and then to the readers that take it from text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/frame_planes.h"
#include "frame/depth_modes.h"
#include "frame/focus_record.h"
#include "frame/render_input.h"
#include "frame/render_output.h"
#include "frame/shot_keys.h"

namespace kestrion {

// How the depths of a focus object's pixels become one focal depth. The
// median of an even count is the mean of the two middle depths.
enum class FocusStatistic { Median, Mean, Min, Max };

struct RenderSettings {
  // The frame of the shot this render is: the filter evaluates its tracks
  // there, and focus keys are sampled there (FRAME_MIN to FRAME_MAX).
  int32_t frame = 0;

  // The focal plane, at most one of the three (a render needs one): keyed
  // depths in front of the camera, the depth seen at keyed pixels (0,0 the
  // frame's top-left pixel), or a statistic of an object's depths.
  std::optional<FloatKeys> focusDepth;
  std::optional<PixelKeys> focusPixel;
  std::optional<int32_t> focusObject;
  std::optional<FocusStatistic> focusStatistic;  // unset: the median
  // The blur, a value or keys on the filter's tracks; unset: the filter's
  // defaults, the whole image.
  std::optional<FloatKeys> range;
  std::optional<FloatKeys> size;
  std::optional<SourceSelection> source;

  // Reading: which channels are what, a separate depth file, the limits.
  InputOptions input;
  // What the stored depth means (depth_modes.h); an unset mode is distance,
  // or normalised for a grey depth map.
  std::optional<DepthMode> depthMode;
  float depthNear = 0.0f;
  float depthFar = 1.0f;
  bool depthInvert = false;
  std::optional<float> backgroundDepth;
  // How colour relates to alpha; unset: the input's convention.
  std::optional<AlphaMode> alpha;

  // Writing: compression and bit depth, and the threads for reading and
  // writing OpenEXR and for the passes run at once (0: one per hardware
  // thread).
  OutputOptions output;
  unsigned threads = 0;

  // How many of focusDepth, focusPixel and focusObject are set.
  int FocusCount() const {
    return (focusDepth ? 1 : 0) + (focusPixel ? 1 : 0) + (focusObject ? 1 : 0);
  }
  // Unsets all three, so that a focus of another kind can replace them.
  void ClearFocus() {
    focusDepth.reset();
    focusPixel.reset();
    focusObject.reset();
  }
  // The depth options for the input: a grey depth map is a normalised map
  // unless depthMode says otherwise.
  DepthOptions DepthOptionsFor(bool normalisedMap) const;
};

// "X,Y" with whole numbers; throws a UsageError naming `option`.
FocusPixel ParseFocusPixel(const std::string& text, const std::string& option);
// "median", "mean", "min" or "max"; throws a UsageError naming the option.
FocusStatistic ParseFocusStatistic(const std::string& text, const std::string& option);
const char* FocusStatisticName(FocusStatistic statistic);
// An object ID as the object ID channel holds it; throws a UsageError.
int32_t CheckFocusObject(int64_t id, const std::string& option);
// "premultiplied", "straight" or "ignore"; throws a UsageError naming --alpha.
AlphaMode ParseAlphaMode(const std::string& text);

// Checks every key's value with `check` (CheckBlurRange, CheckBlurSize);
// throws a UsageError naming `option` and, for keys, the frame.
void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option);

}  // namespace kestrion
