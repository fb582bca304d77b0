#include "cli/render_options.h"

#include <cstdlib>

#include "base/errors.h"
#include "base/numbers.h"
#include "frame/frame_render.h"
#include "frame/settings_file.h"
#include "frame/view_text.h"
#include "shot/frame_pattern.h"

namespace kestrion {

namespace {

// Blender's own colour configurations, where an installed Blender keeps
// them: under $KESTRION_BLENDER_DATA when it is set (empty: none), else
// under Debian's /usr/share/blender.
std::vector<std::string> BlenderConfigs() {
  const char* root = std::getenv("KESTRION_BLENDER_DATA");
  if (!root) return InstalledBlenderConfigs();
  if (!*root) return {};
  return InstalledBlenderConfigs(root);
}

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
  if (options.focusObject) SetFocusObject(*options.focusObject, "--focus-object", given);
  if (given.FocusCount() > 1) {
    throw UsageError("give one of --focus-depth, --focus-pixel and --focus-object");
  }
  if (given.FocusCount() > 0) {
    settings.ClearFocus();
    settings.focusDepth = given.focusDepth;
    settings.focusPixel = given.focusPixel;
    settings.focusObject = given.focusObject;
    settings.focusObjectName = given.focusObjectName;
  }
  if (options.focusStatistic) {
    settings.focusStatistic = ParseFocusStatistic(*options.focusStatistic, "--focus-statistic");
  }
  if (options.range) {
    settings.range = ParseFloatKeys(*options.range, "--range");
    CheckKeys(*settings.range, CheckBlurRange, "--range");
  }
  if (options.size) SetSize(*options.size, "--size", settings);
  if (options.source) settings.source = ParseSource(*options.source);
  if (options.focusMissing) {
    settings.focusMissing = ParseFocusMissing(*options.focusMissing, "--focus-missing");
  }
}

// The frames of the shot this frame belongs to, when a missing focus object
// may need them.
std::vector<ShotFrame> ShotFramesOf(const RenderOptions& options, const RenderSettings& settings) {
  if (!options.shotInput) {
    if (options.shotFrames) throw UsageError("--shot-frames needs --shot-input");
    return {};
  }
  const std::optional<FramePattern> pattern =
      FramePattern::Parse(*options.shotInput, "--shot-input");
  if (!pattern) {
    throw UsageError("--shot-input " + QuotedValue(*options.shotInput) +
                     ": not a frame pattern (e.g. frame.####.exr)");
  }
  const std::vector<int64_t> numbers =
      options.shotFrames ? ParseFrameList(*options.shotFrames) : std::vector<int64_t>{};
  if (!settings.FocusOnObject() || settings.focusMissing != FocusMissing::Hold) return {};
  std::vector<ShotFrame> frames;
  for (const int64_t number : options.shotFrames ? numbers : pattern->FramesOnDisk()) {
    CheckFrame(number, "--shot-frames");
    frames.push_back({static_cast<int32_t>(number), pattern->FileOf(number)});
  }
  return frames;
}

ReviewLook ReadReviewLook(const RenderOptions& options, const SettingLabels& labels) {
  ReviewLook look = options.settings.output.review;
  if (options.flatten) look.flatten = ParseFlattenColour(*options.flatten, labels.flatten);
  if (options.display) look.soft = ParseDisplayClamp(*options.display, labels.display);
  return look;
}

// The view options the command line gives, to go over a settings file's.
ViewOptions ReadViewOptions(const RenderOptions& options) {
  ViewOptions view;
  const auto set = [&view](const std::optional<std::string>& text, const char* key,
                           const char* flag) {
    if (text) SetViewOption(key, *text, flag, view);
  };
  set(options.ocioConfig, "config", "--ocio-config");
  set(options.ocioDisplay, "display", "--ocio-display");
  set(options.ocioView, "view", "--ocio-view");
  set(options.ocioLook, "look", "--ocio-look");
  view.exposure = options.exposure;
  view.gamma = options.gamma;
  return view;
}

// The colour configuration review images are shown through, opened: the
// one named (by the options or the settings file), else $OCIO, else an
// installed Blender's. A render's OpenEXR output is never shown through
// one: names given for it on the command line are refused, a settings
// file's are not used (the same file serves a shot's review images).
void OpenReviewView(const std::string& output, bool render, bool named, ReviewLook& look) {
  if (render && OutputFormatOfName(output) == OutputFormat::Exr) {
    if (named) {
      throw UsageError(
          "--ocio-config, --ocio-display, --ocio-view and --ocio-look are for PNG and TIFF "
          "review images; an OpenEXR output keeps the frame's light as it is");
    }
    look.choice = {};
    return;
  }
  const std::optional<std::string> given =
      look.choice.config.empty() ? std::nullopt : std::optional<std::string>(look.choice.config);
  const std::optional<std::string> config =
      ChooseViewConfig(given, std::getenv("OCIO"), BlenderConfigs());
  if (!config) {
    if (!look.choice.display.empty() || !look.choice.view.empty() || !look.choice.look.empty()) {
      throw UsageError(
          "--ocio-display, --ocio-view and --ocio-look need a colour configuration: give "
          "--ocio-config or set $OCIO");
    }
    look.choice = {};
    return;
  }
  look.choice.config = *config;
  look.view = OpenDisplayView(look.choice);
  look.choice = look.view->Choice();
}

// The settings both commands read, in the order of render_options.h; the
// output's checks are render's.
RenderSettings ReadSettings(const RenderOptions& options, bool render) {
  RenderSettings settings = options.settings;
  settings.labels = CommandLineLabels();
  if (render) {
    CheckOutputName(options.files, options.frame, settings.labels);
  } else {
    CheckFrame(options.frame, settings.labels.frame);
  }
  settings.frame = static_cast<int32_t>(options.frame);
  if (options.compression)
    settings.output.compression =
        ParseCompression(*options.compression, settings.labels.compression);
  // The studio's output only names the hand-off's: checked when given.
  const bool output = render || !options.files.output.empty();
  if (output) CheckOutputFormats(options.files, settings.output.bitDepth, settings.labels);
  settings.output.review = ReadReviewLook(options, settings.labels);
  const ViewOptions view = ReadViewOptions(options);
  if (output) {
    ReviewLook given = settings.output.review;
    ApplyViewOptions(view, given);
    CheckReviewLook(options.files.output, given, settings.labels);
  }
  if (options.alpha) settings.alpha = ParseAlphaMode(*options.alpha, settings.labels.alpha);
  settings.limits = ReadLimits(options);
  const ReviewLook beforeFile = settings.output.review;
  settings = WithSettingsFile(options, std::move(settings));
  if (render && OutputFormatOfName(options.files.output) == OutputFormat::Exr) {
    settings.output.review = beforeFile;
  }
  ApplyViewOptions(view, settings.output.review);
  if (output) CheckReviewLook(options.files.output, settings.output.review, settings.labels);
  OpenReviewView(options.files.output, render, view.NamesGiven(), settings.output.review);
  ReadFocusAndBlur(options, settings);
  if (options.layered) settings.layered = true;
  if (render && settings.FocusCount() == 0) {
    throw UsageError(
        "give --focus-depth, --focus-pixel or --focus-object (or one of them in a shot file)");
  }
  ReadDepthOptions(options.depth, settings.depth);
  settings.shotFrames = ShotFramesOf(options, settings);
  return settings;
}

}  // namespace

SettingLabels CommandLineLabels() {
  SettingLabels labels;
  labels.frame = "--frame";
  labels.size = "--size";
  labels.alpha = "--alpha";
  labels.focusObject = "--focus-object";
  labels.focusMissing = "--focus-missing";
  labels.output = "-o";
  labels.bitDepth = "--bit-depth";
  labels.focusMap = "--focus-map";
  labels.compression = "--compression";
  labels.flatten = "--flatten";
  labels.exposure = "--exposure";
  labels.display = "--display";
  labels.gamma = "--gamma";
  labels.range = "--range";
  labels.focusDepth = "--focus-depth";
  labels.focusObject = "--focus-object";
  labels.focusMissing = "--focus-missing";
  labels.pixel = "--pixel";
  labels.depthMode = "--depth-mode";
  labels.depthNear = "--depth-near";
  labels.depthFar = "--depth-far";
  labels.backgroundDepth = "--background-depth";
  labels.backgroundFrom = "--background-from";
  labels.part = "--part";
  labels.layer = "--layer";
  labels.layers = "--layers";
  labels.depthChannel = "--depth-channel";
  labels.objectIdChannel = "--object-id-channel";
  labels.materialIdChannel = "--material-id-channel";
  labels.depthFile = "--depth-file";
  labels.memoryLimit = "--memory-limit";
  labels.maxSide = "--max-side";
  return labels;
}

RenderSettings ReadRenderSettings(const RenderOptions& options) {
  return ReadSettings(options, true);
}

RenderSettings ReadStudioSettings(const RenderOptions& options) {
  return ReadSettings(options, false);
}

void ReadDepthOptions(const DepthOptionTexts& texts, DepthSettings& depth) {
  if (texts.mode) depth.mode = ParseDepthMode(*texts.mode, "--depth-mode");
  if (texts.near) depth.near = *texts.near;
  if (texts.far) depth.far = *texts.far;
}

}  // namespace kestrion
