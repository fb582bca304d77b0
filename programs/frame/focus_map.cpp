#include "frame/focus_map.h"

#include <algorithm>

#include "base/abort_check.h"
#include "blur/radius_rule.h"

namespace kestrion {

namespace {

// A light grey tinted blue for the background, at brightness `v`.
constexpr float BACKGROUND_RED_GREEN = 0.35f;

}  // namespace

std::vector<int32_t> FocusRadii(const FramePlanes& frame, const std::vector<float>& rendererZ,
                                const FocusMapSettings& settings, const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  const int32_t extent = std::max(frame.width, frame.height);
  const RadiusRule rule(settings.focalDepth, settings.range, settings.size, extent);
  std::vector<int32_t> radii = FilledInterruptibly<int32_t>(count, abort);
  const SourceSelection& source = settings.source;
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    bool selected = true;
    if (source.mode == SOURCE_MATERIAL_EFFECTS) {
      selected = frame.materialId && (*frame.materialId)[i] == source.id;
    } else if (source.mode == SOURCE_OBJECT_CHANNEL) {
      selected = frame.objectId && (*frame.objectId)[i] == source.id;
    }
    const float z = rendererZ.empty() ? 0.0f : rendererZ[i];
    if (selected) radii[i] = BlurRadius(rule, z);
  }
  return radii;
}

Image FocusMapImage(const FramePlanes& frame, const std::vector<float>& rendererZ,
                    const FocusMapSettings& settings, const AbortCheck& abort) {
  const std::vector<int32_t> radii = FocusRadii(frame, rendererZ, settings, abort);
  const int32_t full = FullRadius(settings.size, std::max(frame.width, frame.height));
  Image image{Bitmap(static_cast<uint16_t>(frame.width), static_cast<uint16_t>(frame.height)),
              ColourEncoding{false, 1.0f}};
  BMM_Color_64* pixels = image.Storage().Pixels();
  for (size_t i = 0; i < radii.size(); ++i) {
    abort.Poll(i);
    if (radii[i] == 0) {
      pixels[i] = {0, CHANNEL_MAX, 0, CHANNEL_MAX};
      continue;
    }
    const float v = full > 0 ? std::min(1.0f, static_cast<float>(radii[i]) / full) : 1.0f;
    const bool background = !rendererZ.empty() && !(rendererZ[i] > Z_BACKGROUND);
    const uint16_t grey = UnitToChannel(background ? v * BACKGROUND_RED_GREEN : v);
    pixels[i] = {grey, grey, UnitToChannel(v), CHANNEL_MAX};
  }
  return image;
}

}  // namespace kestrion
