#include "frame/render_settings.h"

#include <cstdio>
#include <string>
#include <utility>

#include "base/errors.h"

namespace kestrion {

FrameSettings SizeInPixels(FrameSettings settings, int32_t frameWidth) {
  if (!settings.sizeInPercent || !settings.size) return settings;
  for (auto& [frame, value] : *settings.size) {
    const double pixels = static_cast<double>(value) / 100.0 * frameWidth;
    try {
      CheckBlurSize(static_cast<float>(pixels));
    } catch (const Error& e) {
      char text[160];
      std::snprintf(text, sizeof text, ": %g%% of a frame %d pixels wide is %g pixels",
                    static_cast<double>(value), frameWidth, pixels);
      throw UsageError(
          settings.labels.size + text +
          (settings.size->size() > 1 ? " (key at frame " + std::to_string(frame) + ")" : "") +
          "; " + e.what());
    }
    value = static_cast<float>(pixels);
  }
  settings.sizeInPercent = false;
  return settings;
}

RenderSettings SizeInPixels(RenderSettings settings, int32_t frameWidth) {
  FrameSettings& frame = settings;
  frame = SizeInPixels(std::move(frame), frameWidth);
  return settings;
}

}  // namespace kestrion
