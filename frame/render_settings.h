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
#include <vector>

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

// What a frame in which the focus object has no pixels does: fail, or hold
// the focal depth of the nearest earlier frame of the shot where the object
// has pixels (of the nearest later one when there is none before).
enum class FocusMissing { Hold, Fail };

// A frame of the shot a render belongs to, and its input file.
struct ShotFrame {
  int32_t frame = 0;
  std::string input;
};

struct RenderSettings {
  // The frame of the shot this render is: the filter evaluates its tracks
  // there, and focus keys are sampled there (FRAME_MIN to FRAME_MAX).
  int32_t frame = 0;

  // The focal plane, at most one of the three (a render needs one): keyed
  // depths in front of the camera, the depth seen at keyed pixels (0,0 the
  // frame's top-left pixel), or a statistic of an object's depths: the
  // object of an ID in the object ID channel, or of a name in a Cryptomatte
  // manifest (cryptomatte.h).
  std::optional<FloatKeys> focusDepth;
  std::optional<PixelKeys> focusPixel;
  std::optional<int32_t> focusObject;
  std::optional<std::string> focusObjectName;
  std::optional<FocusStatistic> focusStatistic;  // unset: the median
  FocusMissing focusMissing = FocusMissing::Hold;
  // The frames of the shot, to hold the focus of when the focus object is
  // missing; empty for a frame on its own, which then fails.
  std::vector<ShotFrame> shotFrames;
  // The blur, a value or keys on the filter's tracks; unset: the filter's
  // defaults, the whole image. With sizeInPercent the size's values are
  // per cent of the frame's width (SizeInPixels).
  std::optional<FloatKeys> range;
  std::optional<FloatKeys> size;
  bool sizeInPercent = false;
  std::optional<SourceSelection> source;

  // Reading: which channels are what, a separate depth file, the limits.
  InputOptions input;
  // What the stored depth means and which depths are background
  // (depth_modes.h); an unset mode is distance, or normalised for a grey
  // depth map.
  DepthSettings depth;
  // How colour relates to alpha; unset: the input's convention.
  std::optional<AlphaMode> alpha;

  // Writing: compression and bit depth, and the threads for reading and
  // writing OpenEXR and for the passes run at once (0: one per hardware
  // thread).
  OutputOptions output;
  unsigned threads = 0;

  // How many of focusDepth, focusPixel and focusObject (or its name) are
  // set.
  int FocusCount() const {
    return (focusDepth ? 1 : 0) + (focusPixel ? 1 : 0) + (focusObject ? 1 : 0) +
           (focusObjectName ? 1 : 0);
  }
  bool FocusOnObject() const { return focusObject || focusObjectName; }
  // Unsets all of them, so that a focus of another kind can replace them.
  void ClearFocus() {
    focusDepth.reset();
    focusPixel.reset();
    focusObject.reset();
    focusObjectName.reset();
  }
};

// "X,Y" with whole numbers; throws a UsageError naming `option`.
FocusPixel ParseFocusPixel(const std::string& text, const std::string& option);
// "median", "mean", "min" or "max"; throws a UsageError naming the option.
FocusStatistic ParseFocusStatistic(const std::string& text, const std::string& option);
const char* FocusStatisticName(FocusStatistic statistic);
// An object ID as the object ID channel holds it; throws a UsageError.
int32_t CheckFocusObject(int64_t id, const std::string& option);
// "ID" (a whole number) or a name: sets settings.focusObject or
// focusObjectName. Text that begins like a number is an ID (read strictly);
// "name:TEXT" is the name TEXT whatever it begins with. Throws a
// UsageError naming `option`.
void SetFocusObject(const std::string& text, const std::string& option, RenderSettings& settings);
// "hold" or "fail"; throws a UsageError naming `option`.
FocusMissing ParseFocusMissing(const std::string& text, const std::string& option);

// Size keys: every value in pixels ("4", "1:2,48:16") or every value in per
// cent of the frame's width ("2%", "1:1%,48:3%"), checked: pixels within
// what the filter offers, per cent above 0 and at most 100. Sets
// settings.size and sizeInPercent; throws a UsageError naming `option`.
void SetSize(const std::string& text, const std::string& option, RenderSettings& settings);
// Checks per-cent size keys; throws a UsageError naming `option`.
void CheckSizePercent(const FloatKeys& keys, const std::string& option);
// The settings with a size in per cent turned into pixels of a frame
// `frameWidth` pixels wide; throws a UsageError when a key gives less than
// the filter's smallest size or more than its largest.
RenderSettings SizeInPixels(RenderSettings settings, int32_t frameWidth);
// "premultiplied", "straight" or "ignore"; throws a UsageError naming --alpha.
AlphaMode ParseAlphaMode(const std::string& text);

// Checks every key's value with `check` (CheckBlurRange, CheckBlurSize);
// throws a UsageError naming `option` and, for keys, the frame.
void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option);

}  // namespace kestrion
