#include <cmath>

#include "app/commands.h"
#include "app/errors.h"
#include "app/exr_io.h"
#include "app/filter_runner.h"
#include "app/focus_record.h"
#include "app/image_files.h"
#include "app/interrupt.h"
#include "app/output_file.h"
#include "app/settings.h"

namespace kestrion {

namespace {

RenderSettings CommandLineSettings(const RenderOptions& options) {
  RenderSettings settings;
  if (options.focusDepth && options.focusPixel) {
    throw UsageError("give --focus-depth or --focus-pixel, not both");
  }
  settings.focusDepth = options.focusDepth;
  if (options.focusPixel) settings.focusPixel = ParseFocusPixel(*options.focusPixel);
  settings.range = options.range;
  settings.size = options.size;
  if (options.source) settings.source = ParseSource(*options.source);
  return settings;
}

RenderSettings CollectSettings(const RenderOptions& options) {
  RenderSettings fromFile;
  if (!options.settings.empty()) fromFile = ReadSettingsFile(options.settings);
  RenderSettings settings = Merge(fromFile, CommandLineSettings(options));
  if (!settings.focusDepth && !settings.focusPixel) {
    throw UsageError("give --focus-depth or --focus-pixel (or either in a settings file)");
  }
  if (settings.focusDepth && !std::isfinite(*settings.focusDepth)) {
    throw UsageError("the focus depth must be a finite number");
  }
  return settings;
}

// The focal depth asked for: given, or the depth seen at the focus pixel.
float FocalDepth(const RenderSettings& settings, Image& frame, const std::string& input) {
  if (settings.focusDepth) return *settings.focusDepth;
  const FocusPixel pixel = *settings.focusPixel;
  const std::string where =
      "pixel (" + std::to_string(pixel.x) + ", " + std::to_string(pixel.y) + ")";
  if (pixel.x < 0 || pixel.y < 0 || pixel.x >= frame.Width() || pixel.y >= frame.Height()) {
    throw UsageError("focus " + where + " lies outside the " + std::to_string(frame.Width()) +
                     " x " + std::to_string(frame.Height()) + " image " + input);
  }
  const float* z = frame.Storage().ZChannel();
  if (!z) throw FileError(input, "no Z channel to take the focus depth from");
  const float value = z[static_cast<size_t>(pixel.y) * frame.Width() + pixel.x];
  if (!(value > Z_BACKGROUND)) throw FileError(input, "no geometry at " + where + " to focus on");
  return -value;
}

// Places the focal node on the camera axis at `depth`: the frame is seen
// from a camera at the world origin looking down -z.
void PlaceFocusNode(Image& frame, float depth) {
  RenderInfo& info = frame.Storage().CreateRenderInfo();
  info.renderTime = 0;
  info.worldToCam = Matrix3::Identity();
  SceneNode* node = HostInterface().GetNodeByName(RENDER_FOCUS_NODE);
  if (!node) node = &HostInterface().AddNode(RENDER_FOCUS_NODE);
  node->SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -depth}));
}

}  // namespace

void RunRender(const RenderOptions& options, std::FILE* out) {
  InterruptGuard interrupt;
  if (options.output.empty()) throw UsageError("give an output file with -o");
  FormatOfName(options.output);
  const RenderSettings settings = CollectSettings(options);
  FocusSettings focus;
  focus.focalName = RENDER_FOCUS_NODE;
  focus.source = settings.source.value_or(SourceSelection{});
  focus.range = settings.range.value_or(DEFAULT_BLUR_RANGE);
  focus.size = settings.size.value_or(DEFAULT_BLUR_SIZE);
  const FocusConfig record = ComposeRecord(focus);

  const auto module = LoadFilterModule(ResolveModulePath(options.module));
  Image frame = ReadExr(options.input);
  const float depth = FocalDepth(settings, frame, options.input);
  ThrowIfInterrupted();
  OutputFile output(options.output);

  PlaceFocusNode(frame, depth);
  FilterJob job;
  job.record = &record;
  job.frame = &frame;
  job.frameName = options.input;
  job.showProgress = !options.quiet;
  RunFocusFilter(*module, job);
  WriteImage(frame, output);
  ThrowIfInterrupted();
  output.Commit();

  std::fprintf(out, "wrote %s (focus depth %g, range %g, size %g, source %s)\n",
               options.output.c_str(), depth, focus.range, focus.size,
               SourceText(focus.source).c_str());
}

}  // namespace kestrion
