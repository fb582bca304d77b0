#include "cli/render_options.h"

#include "base/errors.h"
#include "base/numbers.h"
#include "frame/frame_render.h"
#include "frame/settings_file.h"

namespace kestrion {

namespace {

ResourceLimits ReadLimits(const RenderOptions& options) {
  ResourceLimits limits;
  if (options.memoryLimit)
    limits.memoryLimit = ByteSizeOption(*options.memoryLimit, "--memory-limit", 1);
  if (options.maxSide) {
    limits.maxSide = IntegerOption<int64_t>(*options.maxSide, "--max-side", 1, SIDE_MAX);
  }
  return limits;
}

// The settings file's fields over `settings`.
RenderSettings WithSettingsFile(const RenderOptions& options, RenderSettings settings) {
  if (!options.settingsFile.empty() && !options.shotFile.empty()) {
    throw UsageError("give --shot or --settings, not both (they are the same file)");
  }
  const std::string& file = options.shotFile.empty() ? options.settingsFile : options.shotFile;
  if (file.empty()) return settings;
  return ReadSettingsFile(file, std::move(settings));
}

// The focus, range, size and source the options give, over the file's.
void ReadFocusAndBlur(const RenderOptions& options, RenderSettings& settings) {
  RenderSettings given;
  if (options.focusDepth) given.focusDepth = ParseFloatKeys(*options.focusDepth, "--focus-depth");
  if (options.focusPixel) given.focusPixel = ParsePixelKeys(*options.focusPixel, "--focus-pixel");
  if (options.focusObject) {
    given.focusObject = CheckFocusObject(*options.focusObject, "--focus-object");
  }
  if (given.FocusCount() > 1) {
    throw UsageError("give one of --focus-depth, --focus-pixel and --focus-object");
  }
  if (given.FocusCount() > 0) {
    settings.ClearFocus();
    settings.focusDepth = given.focusDepth;
    settings.focusPixel = given.focusPixel;
    settings.focusObject = given.focusObject;
  }
  if (options.focusStatistic) {
    settings.focusStatistic = ParseFocusStatistic(*options.focusStatistic, "--focus-statistic");
  }
  if (options.range) {
    settings.range = ParseFloatKeys(*options.range, "--range");
    CheckKeys(*settings.range, CheckBlurRange, "--range");
  }
  if (options.size) {
    settings.size = ParseFloatKeys(*options.size, "--size");
    CheckKeys(*settings.size, CheckBlurSize, "--size");
  }
  if (options.source) settings.source = ParseSource(*options.source);
}

// The settings both commands read, in the order of render_options.h; the
// output's checks are render's.
RenderSettings ReadSettings(const RenderOptions& options, bool render) {
  RenderSettings settings = options.settings;
  if (render) {
    CheckOutputName(options.files, options.frame);
  } else {
    CheckFrame(options.frame, "--frame");
  }
  settings.frame = static_cast<int32_t>(options.frame);
  if (options.compression) settings.output.compression = ParseCompression(*options.compression);
  if (render || !options.files.output.empty()) {
    CheckOutputFormats(options.files, settings.output.bitDepth);
  }
  if (options.alpha) settings.alpha = ParseAlphaMode(*options.alpha);
  settings.input.limits = ReadLimits(options);
  settings = WithSettingsFile(options, std::move(settings));
  ReadFocusAndBlur(options, settings);
  if (render && settings.FocusCount() == 0) {
    throw UsageError(
        "give --focus-depth, --focus-pixel or --focus-object (or one of them in a shot file)");
  }
  if (options.depthMode) settings.depthMode = ParseDepthMode(*options.depthMode);
  if (options.depthNear) settings.depthNear = *options.depthNear;
  if (options.depthFar) settings.depthFar = *options.depthFar;
  return settings;
}

}  // namespace

RenderSettings ReadRenderSettings(const RenderOptions& options) {
  return ReadSettings(options, true);
}

RenderSettings ReadStudioSettings(const RenderOptions& options) {
  return ReadSettings(options, false);
}

}  // namespace kestrion
