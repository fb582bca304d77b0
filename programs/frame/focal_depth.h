// focal_depth.h: where a frame's focal plane lies, in front of the camera:
// keyed depths sampled at the frame, the depth seen at the frame's focus
// pixel, or a statistic of the depths of a focus object's pixels (by ID, or
// by name through a Cryptomatte, cryptomatte.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "frame/render_input.h"
#include "frame/render_settings.h"

namespace kestrion {

// The focal depth of `settings.frame` from the settings' one focus, with
// `rendererZ` the input's depth as the renderer's Z. Throws a UsageError
// for a focus pixel outside the frame, and a FileError naming the input for
// a pixel without geometry, an object ID channel (or, for a name, an object
// Cryptomatte) the input lacks, or an object with no pixels in the frame,
// unless settings.focusMissing holds the focus of another frame of the shot
// (settings.shotFrames, read as the input was): the nearest earlier one
// showing the object, else the nearest later one. A held focus adds a line
// to `warnings`, as a focus object found in another view layer does.
float FocalDepth(const RenderSettings& settings, const RenderInput& input,
                 const std::vector<float>& rendererZ, std::vector<std::string>& warnings,
                 const AbortCheck& abort = NeverAbort());
float FocalDepth(const RenderSettings& settings, const RenderInput& input,
                 const std::vector<float>& rendererZ, const AbortCheck& abort = NeverAbort());

// The focal depth a focus object's ID with `statistic` gives each object
// other than 0 with pixels with geometry in the frame, by ID, in one pass
// over the frame. Throws a FileError naming the input (and the settings,
// with `labels`) when it has no object ID channel.
std::map<int32_t, float> ObjectFocalDepths(const RenderInput& input,
                                           const std::vector<float>& rendererZ,
                                           FocusStatistic statistic,
                                           const SettingLabels& labels = {},
                                           const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
