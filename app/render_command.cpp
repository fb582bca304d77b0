// render_command.cpp: `kestrion render`, read -> filter -> write.
//
//   read     the input file (and a depth file) into float planes
//            (render_input.h), the depth as the renderer's Z (depth_modes.h)
//   filter   the colour and alpha through the module, in as many 16-bit
//            passes as precision needs (module_passes.h)
//   write    the filtered planes back into the document or a review image
//            (render_output.h), through a temporary file renamed over the
//            target only once everything has succeeded
//
// A render is one frame of a shot (--frame, 0 by default): Range and Size
// keys go onto the filter's own tracks, which the filter evaluates at that
// frame; focus depth and focus pixel keys are sampled here (shot_keys.h).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>

#include "app/allocation_record.h"
#include "app/commands.h"
#include "app/depth_modes.h"
#include "app/errors.h"
#include "app/exr_document.h"
#include "app/filter_runner.h"
#include "app/focus_map.h"
#include "app/focus_record.h"
#include "app/frame_report.h"
#include "app/interrupt.h"
#include "app/memory_budget.h"
#include "app/module_passes.h"
#include "app/numbers.h"
#include "app/output_file.h"
#include "app/png_io.h"
#include "app/render_input.h"
#include "app/render_output.h"
#include "app/report_stream.h"
#include "app/run_progress.h"
#include "app/settings.h"

namespace kestrion {

namespace {

RenderSettings CommandLineSettings(const RenderOptions& options) {
  RenderSettings settings;
  if (options.focusDepth)
    settings.focusDepth = ParseFloatKeys(*options.focusDepth, "--focus-depth");
  if (options.focusPixel)
    settings.focusPixel = ParsePixelKeys(*options.focusPixel, "--focus-pixel");
  if (options.focusObject)
    settings.focusObject = CheckFocusObject(*options.focusObject, "--focus-object");
  if (settings.FocusCount() > 1) {
    throw UsageError("give one of --focus-depth, --focus-pixel and --focus-object");
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
  return settings;
}

RenderSettings CollectSettings(const RenderOptions& options) {
  if (!options.settings.empty() && !options.shot.empty()) {
    throw UsageError("give --shot or --settings, not both (they are the same file)");
  }
  const std::string& file = options.shot.empty() ? options.settings : options.shot;
  RenderSettings fromFile;
  if (!file.empty()) fromFile = ReadSettingsFile(file);
  RenderSettings settings = Merge(fromFile, CommandLineSettings(options));
  if (settings.FocusCount() == 0) {
    throw UsageError(
        "give --focus-depth, --focus-pixel or --focus-object (or one of them in a shot file)");
  }
  return settings;
}

AlphaMode ParseAlphaMode(const std::string& text) {
  if (text == "premultiplied") return AlphaMode::Premultiplied;
  if (text == "straight") return AlphaMode::Straight;
  if (text == "ignore") return AlphaMode::Ignore;
  throw UsageError("--alpha: " + QuotedValue(text) +
                   " is not one of premultiplied, straight, ignore");
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

// The depth seen at the focus pixel, counted from the frame's top-left
// pixel.
float PixelDepth(FocusPixel pixel, const RenderInput& input, const std::vector<float>& z,
                 const std::string& path) {
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

// The statistic of the depths of the object's pixels with geometry.
float ObjectDepth(int32_t id, FocusStatistic statistic, const RenderInput& input,
                  const std::vector<float>& z, const std::string& path, int32_t frame) {
  const auto& ids = input.planes.objectId;
  if (!ids) {
    throw FileError(path,
                    "--focus-object needs an object ID channel, which the file lacks (name one "
                    "with --object-id-channel)");
  }
  std::vector<double> depths;
  for (size_t i = 0; i < z.size(); ++i) {
    PollInterrupt(i);
    if ((*ids)[i] == id && z[i] > Z_BACKGROUND) depths.push_back(-static_cast<double>(z[i]));
  }
  if (depths.empty()) {
    throw FileError(path, "frame " + std::to_string(frame) + ": object " + std::to_string(id) +
                              " has no pixels with geometry in the frame to focus on");
  }
  switch (statistic) {
    case FocusStatistic::Min:
      return static_cast<float>(*std::min_element(depths.begin(), depths.end()));
    case FocusStatistic::Max:
      return static_cast<float>(*std::max_element(depths.begin(), depths.end()));
    case FocusStatistic::Mean: {
      double sum = 0.0;
      for (double d : depths) sum += d;
      return static_cast<float>(sum / static_cast<double>(depths.size()));
    }
    default: {
      const size_t half = depths.size() / 2;
      std::nth_element(depths.begin(), depths.begin() + static_cast<ptrdiff_t>(half), depths.end());
      const double upper = depths[half];
      if (depths.size() % 2) return static_cast<float>(upper);
      const double lower =
          *std::max_element(depths.begin(), depths.begin() + static_cast<ptrdiff_t>(half));
      return static_cast<float>((lower + upper) / 2.0);
    }
  }
}

// The focal depth of the frame: keyed, seen at the frame's focus pixel, or
// the object's depth.
float FocalDepth(const RenderSettings& settings, int32_t frame, const RenderInput& input,
                 const std::vector<float>& z, const std::string& path) {
  if (settings.focusDepth) return SampleFloatKeys(*settings.focusDepth, frame);
  if (settings.focusPixel) {
    return PixelDepth(SamplePixelKeys(*settings.focusPixel, frame), input, z, path);
  }
  return ObjectDepth(*settings.focusObject,
                     settings.focusStatistic.value_or(FocusStatistic::Median), input, z, path,
                     frame);
}

// The record takes a keyed parameter's first value (the filter's track,
// keyed from it, decides); a single key is the value of every frame.
float RecordValue(const std::optional<FloatKeys>& keys, float unset) {
  return keys ? keys->begin()->second : unset;
}

std::optional<FloatKeys> TrackKeys(const std::optional<FloatKeys>& keys) {
  if (keys && keys->size() > 1) return keys;
  return std::nullopt;
}

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    std::fprintf(stderr, "kestrion: warning: %s\n", PrintableMessage(line).c_str());
}

ResourceLimits CollectLimits(const RenderOptions& options) {
  ResourceLimits limits;
  if (options.memoryLimit)
    limits.memoryLimit = ByteSizeOption(*options.memoryLimit, "--memory-limit", 1);
  if (options.maxSide) {
    limits.maxSide = IntegerOption<int64_t>(*options.maxSide, "--max-side", 1, SIDE_MAX);
  }
  return limits;
}

// Renders the frame and returns the passes it took through the module.
int32_t RenderFrame(const RenderOptions& options, FrameReport& report) {
  InterruptGuard interrupt;
  if (options.output.empty()) throw UsageError("give an output file with -o");
  CheckFrame(options.frame, "--frame");
  const int32_t frame = static_cast<int32_t>(options.frame);
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
  if (!options.focusMap.empty() && !options.focusMap.ends_with(".png") &&
      !options.focusMap.ends_with(".PNG")) {
    throw UsageError("--focus-map: " + options.focusMap + ": the focus map is a PNG (.png)");
  }
  if (options.alpha) ParseAlphaMode(*options.alpha);  // a wrong word fails before any work
  const ResourceLimits limits = CollectLimits(options);
  const RenderSettings settings = CollectSettings(options);
  FocusSettings focus;
  focus.focalName = RENDER_FOCUS_NODE;
  focus.source = settings.source.value_or(SourceSelection{});
  focus.range = RecordValue(settings.range, DEFAULT_BLUR_RANGE);
  focus.size = RecordValue(settings.size, DEFAULT_BLUR_SIZE);
  report.source = SourceText(focus.source);
  FrameAnimation animation;
  animation.frame = frame;
  animation.range = TrackKeys(settings.range);
  animation.size = TrackKeys(settings.size);
  const FocusConfig record = ComposeRecord(focus);
  const auto module = LoadFilterModule(ResolveModulePath(options.module));
  SetExrThreadCount(options.threads);

  RunProgress progress(!options.quiet, stderr);
  progress.Reading(options.input);
  InputOptions inputOptions;
  inputOptions.roles = options.roles;
  inputOptions.depthFile = options.depthFile;
  inputOptions.limits = limits;
  RenderInput input = ReadRenderInput(options.input, inputOptions);
  ThrowIfInterrupted();
  report.width = input.planes.width;
  report.height = input.planes.height;
  if (options.alpha) input.planes.alphaMode = ParseAlphaMode(*options.alpha);
  const DepthOptions depthOptions = CollectDepthOptions(options, input.depthIsNormalisedMap);
  const std::vector<float> z = RendererZ(*input.planes.depth, depthOptions);
  PrintLines(DepthWarnings(*input.planes.depth, input.planes.alpha, depthOptions, options.input));
  const float depth = FocalDepth(settings, frame, input, z, options.input);
  report.focusDepth = depth;
  OutputFile output(options.output);
  std::optional<OutputFile> map;
  if (!options.focusMap.empty()) map.emplace(options.focusMap);

  FilteredPlanes filtered =
      FilterPlanes(*module, record, depth, input.planes, z, progress, options.input, animation);
  report.range = filtered.range;
  report.size = filtered.size;
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
  result.depth = FilledInterruptibly<float>(z.size());
  for (size_t i = 0; i < z.size(); ++i) {
    PollInterrupt(i);
    (*result.depth)[i] = z[i] > Z_BACKGROUND ? -z[i] : std::numeric_limits<float>::infinity();
  }
  progress.Writing(options.output);
  WriteRenderOutput(input, result, output, outputOptions);
  if (map) {
    FocusMapSettings mapSettings;
    mapSettings.source = focus.source;
    mapSettings.focalDepth = depth;
    mapSettings.range = filtered.range;
    mapSettings.size = filtered.size;
    const Image picture = FocusMapImage(input.planes, z, mapSettings);
    map->Write([&picture](const std::string& path) { WritePng(picture, path); });
  }
  ThrowIfInterrupted();
  // The output last: a frame whose output exists is complete, map and all.
  if (map) map->Commit();
  output.Commit();
  progress.Done();
  report.status = "done";
  return filtered.passes;
}

}  // namespace

void RunRender(const RenderOptions& options, std::FILE* out) {
  const bool json = ParseReportFormat(options.report);
  FrameReport report;
  report.input = options.input;
  report.output = options.output;
  report.frame = static_cast<int32_t>(std::clamp<int64_t>(options.frame, INT32_MIN, INT32_MAX));
  const auto start = std::chrono::steady_clock::now();
  // Once the output is committed, stdout failing is no failure of the run.
  ReportStream lines(out);
  const auto finish = [&](const std::string* error) {
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (error) {
      report.status = "failed";
      report.error = PrintableMessage(*error);
    }
    if (options.focusReport) std::fprintf(stderr, "kestrion: %s\n", report.FocusLine().c_str());
    if (json) lines.Line(report.Json());
  };
  int32_t passes = 0;
  const AllocationWatch allocations;
  try {
    passes = RenderFrame(options, report);
  } catch (const CommandError& e) {
    const std::string error = e.what();
    finish(&error);
    throw;
  } catch (const std::bad_alloc&) {
    const size_t failed = allocations.Since().lastSize;
    const std::string error =
        options.input + ": not enough memory" +
        (failed ? " (an allocation of " + ByteSizeText(failed) + " failed)" : std::string());
    finish(&error);
    throw Failure(error);
  } catch (const std::exception& e) {
    const std::string error = e.what();
    finish(&error);
    throw;
  }
  finish(nullptr);
  if (!json) {
    char summary[160];
    std::snprintf(summary, sizeof summary,
                  " (focus depth %g, range %g, size %g, source %s, %d passes)", *report.focusDepth,
                  *report.range, *report.size, report.source->c_str(), passes);
    lines.Line("wrote " + options.output + summary);
  }
}

}  // namespace kestrion
