// focus_map.h: the picture a compositor checks a focus pull on. Each pixel
// shows the blur radius the module gives it, from the module's own radius
// rule (blur/radius_rule.h, shared with the module so that the map cannot
// disagree with the render):
//   radius 0 (left sharp, unchanged by the filter)   green
//   geometry blurred by radius r                      grey, r / full size
//   background (no geometry) blurred                  blue-tinted grey
// where the full size is the radius of the background (FullRadius). Pixels
// that the source selection (material or object ID) leaves out have radius
// 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/frame_planes.h"
#include "formats/image.h"
#include "frame/focus_record.h"

namespace kestrion {

struct FocusMapSettings {
  SourceSelection source;
  float focalDepth = 0.0f;
  float range = DEFAULT_BLUR_RANGE;
  float size = DEFAULT_BLUR_SIZE;
};

// Every pixel's blur radius, row-major; `rendererZ` as FilterPlanes takes
// it (one value a pixel).
std::vector<int32_t> FocusRadii(const FramePlanes& frame, const std::vector<float>& rendererZ,
                                const FocusMapSettings& settings,
                                const AbortCheck& abort = NeverAbort());

// The map as a display-encoded frame (written as a PNG).
Image FocusMapImage(const FramePlanes& frame, const std::vector<float>& rendererZ,
                    const FocusMapSettings& settings, const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
