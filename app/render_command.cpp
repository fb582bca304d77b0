// render_command.cpp: `kestrion render`, read -> filter -> write.
//
//   read     the input file (and a depth file) into float planes
//            (render_input.h), the depth as the renderer's Z (depth_modes.h)
//   filter   the colour and alpha through the module, in as many 16-bit
//            passes as precision needs (module_passes.h)
//   write    the filtered planes back into the document or a review image
//            (render_output.h), through a temporary file renamed over the
//            target only once everything has succeeded
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "app/commands.h"
#include "app/depth_modes.h"
#include "app/errors.h"
#include "app/exr_document.h"
#include "app/filter_runner.h"
#include "app/focus_record.h"
#include "app/interrupt.h"
#include "app/module_passes.h"
#include "app/output_file.h"
#include "app/render_input.h"
#include "app/render_output.h"
#include "app/run_progress.h"
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

AlphaMode ParseAlphaMode(const std::string& text) {
  if (text == "premultiplied") return AlphaMode::Premultiplied;
  if (text == "straight") return AlphaMode::Straight;
  if (text == "ignore") return AlphaMode::Ignore;
  throw UsageError("--alpha: '" + text.substr(0, 80) +
                   "' is not one of premultiplied, straight, ignore");
}

// The depth options the command line gives; a grey depth map is a
// normalised map unless --depth-mode says otherwise.
DepthOptions CollectDepthOptions(const RenderOptions& options, bool normalisedMap) {
  DepthOptions depth;
  if (options.depthMode) {
    depth.mode = ParseDepthMode(*options.depthMode);
  } else if (normalisedMap) {
    depth.mode = DepthMode::Normalised;
  }
  if (options.depthNear) depth.near = *options.depthNear;
  if (options.depthFar) depth.far = *options.depthFar;
  depth.invert = options.depthInvert;
  depth.backgroundDepth = options.backgroundDepth;
  CheckDepthOptions(depth);
  return depth;
}

// The focal depth asked for: given, or the depth seen at the focus pixel,
// counted from the frame's top-left pixel.
float FocalDepth(const RenderSettings& settings, const RenderInput& input,
                 const std::vector<float>& z, const std::string& path) {
  if (settings.focusDepth) return *settings.focusDepth;
  const FocusPixel pixel = *settings.focusPixel;
  const std::string where =
      "pixel (" + std::to_string(pixel.x) + ", " + std::to_string(pixel.y) + ")";
  const int64_t x = static_cast<int64_t>(pixel.x) - input.originX;
  const int64_t y = static_cast<int64_t>(pixel.y) - input.originY;
  const FramePlanes& planes = input.planes;
  if (x < 0 || y < 0 || x >= planes.width || y >= planes.height) {
    throw UsageError("focus " + where + " lies outside the " + std::to_string(planes.width) +
                     " x " + std::to_string(planes.height) + " pixels of " + path);
  }
  const float value =
      z[static_cast<size_t>(y) * static_cast<size_t>(planes.width) + static_cast<size_t>(x)];
  if (!(value > Z_BACKGROUND)) throw FileError(path, "no geometry at " + where + " to focus on");
  return -value;
}

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    std::fprintf(stderr, "kestrion: warning: %s\n", line.c_str());
}

}  // namespace

void RunRender(const RenderOptions& options, std::FILE* out) {
  InterruptGuard interrupt;
  if (options.output.empty()) throw UsageError("give an output file with -o");
  if (!options.report.empty() && options.report != "json") {
    throw UsageError("--report: '" + options.report.substr(0, 80) + "' is not json");
  }
  const OutputFormat format = OutputFormatOfName(options.output);
  OutputOptions outputOptions;
  if (options.compression) outputOptions.compression = ParseCompression(*options.compression);
  outputOptions.bitDepth = options.bitDepth;
  if (format == OutputFormat::Png && options.bitDepth != 8 && options.bitDepth != 16) {
    throw UsageError("--bit-depth: a PNG holds 8 or 16 bits a channel");
  }
  if (format == OutputFormat::Tiff && options.bitDepth != 16) {
    throw UsageError("--bit-depth: kestrion writes TIFF with 16 bits a channel");
  }
  if (options.alpha) ParseAlphaMode(*options.alpha);  // a wrong word fails before any work
  const RenderSettings settings = CollectSettings(options);
  FocusSettings focus;
  focus.focalName = RENDER_FOCUS_NODE;
  focus.source = settings.source.value_or(SourceSelection{});
  focus.range = settings.range.value_or(DEFAULT_BLUR_RANGE);
  focus.size = settings.size.value_or(DEFAULT_BLUR_SIZE);
  const FocusConfig record = ComposeRecord(focus);
  const auto module = LoadFilterModule(ResolveModulePath(options.module));
  SetExrThreadCount(options.threads);

  RunProgress progress(!options.quiet, stderr);
  progress.Reading(options.input);
  InputOptions inputOptions;
  inputOptions.roles = options.roles;
  inputOptions.depthFile = options.depthFile;
  RenderInput input = ReadRenderInput(options.input, inputOptions);
  ThrowIfInterrupted();
  if (options.alpha) input.planes.alphaMode = ParseAlphaMode(*options.alpha);
  const DepthOptions depthOptions = CollectDepthOptions(options, input.depthIsNormalisedMap);
  const std::vector<float> z = RendererZ(*input.planes.depth, depthOptions);
  PrintLines(DepthWarnings(*input.planes.depth, input.planes.alpha, depthOptions, options.input));
  const float depth = FocalDepth(settings, input, z, options.input);
  OutputFile output(options.output);

  FilteredPlanes filtered =
      FilterPlanes(*module, record, depth, input.planes, z, progress, options.input);
  PrintLines(filtered.Warnings(options.input));
  FramePlanes result;
  result.width = input.planes.width;
  result.height = input.planes.height;
  result.colour = std::move(filtered.colour);
  result.colourNames = input.planes.colourNames;
  result.alphaMode = input.planes.alphaMode;
  result.alpha = std::move(filtered.alpha);
  // For a new OpenEXR file (PNG or TIFF input), depth as OpenEXR's Z holds
  // it: distances, whatever the input's encoding was.
  result.depth = Plane(z.size());
  for (size_t i = 0; i < z.size(); ++i) {
    (*result.depth)[i] = z[i] > Z_BACKGROUND ? -z[i] : std::numeric_limits<float>::infinity();
  }
  progress.Writing(options.output);
  WriteRenderOutput(input, result, output, outputOptions);
  ThrowIfInterrupted();
  output.Commit();
  progress.Done();

  if (options.report == "json") {
    const nlohmann::json report = {{"input", options.input},
                                   {"output", options.output},
                                   {"frame", options.frame},
                                   {"width", input.planes.width},
                                   {"height", input.planes.height},
                                   {"focusDepth", depth},
                                   {"range", focus.range},
                                   {"size", focus.size},
                                   {"source", SourceText(focus.source)},
                                   {"status", "done"}};
    std::fprintf(out, "%s\n", report.dump().c_str());
    return;
  }
  std::fprintf(out, "wrote %s (focus depth %g, range %g, size %g, source %s, %d passes)\n",
               options.output.c_str(), depth, focus.range, focus.size,
               SourceText(focus.source).c_str(), filtered.passes);
}

}  // namespace kestrion
