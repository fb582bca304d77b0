// frame_settings.h: what one frame is filtered with, as plain data: the
// frame of the shot, the focus, the blur and the pixels it applies to, what
// the depth means, how colour relates to alpha, the threads and the limits
// a call stays within. Files (their names, layers and channels, output
// formats, a shot's other frames) are the program's business
// (render_settings.h); reading these settings from text is
// settings_text.h's. Nothing here includes an image format's or the command
// line's headers, so an embedding program can fill these settings with
// none of them on its include path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/memory_budget.h"
#include "formats/frame_planes.h"
#include "frame/depth_modes.h"
#include "frame/focus_record.h"
#include "frame/setting_labels.h"
#include "frame/shot_keys.h"

namespace kestrion {

// How the depths of a focus object's pixels become one focal depth. The
// median of an even count is the mean of the two middle depths.
enum class FocusStatistic { Median, Mean, Min, Max };

// What a frame in which the focus object has no pixels does: fail, or hold
// the focal depth of the nearest earlier frame of the shot where the object
// has pixels (of the nearest later one when there is none before). A frame
// filtered on its own, without the shot's other frames, fails either way.
enum class FocusMissing { Hold, Fail };

struct FrameSettings {
  // The frame of the shot this is: the filter evaluates its tracks there,
  // and focus keys are sampled there (FRAME_MIN to FRAME_MAX).
  int32_t frame = 0;

  // The focal plane, one of them (a frame needs one): keyed depths in front
  // of the camera, the depth seen at keyed pixels (0,0 the frame's top-left
  // pixel), or a statistic of an object's depths: the object of an ID in the
  // object ID channel, or of a name in a Cryptomatte manifest (which only a
  // file holds).
  std::optional<FloatKeys> focusDepth;
  std::optional<PixelKeys> focusPixel;
  std::optional<int32_t> focusObject;
  std::optional<std::string> focusObjectName;
  std::optional<FocusStatistic> focusStatistic;  // unset: the median
  FocusMissing focusMissing = FocusMissing::Hold;

  // The blur, a value or keys on the filter's tracks; unset: the filter's
  // defaults. With sizeInPercent the size's values are per cent of the
  // frame's width (SizeInPixels). The source: the pixels the blur applies
  // to (the whole image, an object ID or a material ID); unset: the whole
  // image.
  std::optional<FloatKeys> range;
  std::optional<FloatKeys> size;
  bool sizeInPercent = false;
  std::optional<SourceSelection> source;

  // What the stored depth means and which depths are background
  // (depth_modes.h); an unset mode is distance, or normalised for a grey
  // depth map.
  DepthSettings depth;
  // How colour relates to alpha; unset: the input's convention
  // (premultiplied for OpenEXR and for planes in memory).
  std::optional<AlphaMode> alpha;
  // Filter in depth layers (layered_passes.h): edges without halos, at the
  // cost of more passes; off: the module's own blur, pixel for pixel.
  bool layered = false;

  // The threads for the loops over the pixels and for the passes run at
  // once (0: one per hardware thread), and the memory and frame-size limits
  // the call stays within.
  unsigned threads = 0;
  ResourceLimits limits;

  SettingLabels labels;

  // The limits with the labels' names for them, for the checks below this
  // layer that name a limit a file exceeds.
  ResourceLimits Limits() const {
    ResourceLimits named = limits;
    named.memoryLimitLabel = labels.memoryLimit;
    named.maxSideLabel = labels.maxSide;
    return named;
  }

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

}  // namespace kestrion
