#include "frame/frame_render.h"

#include <chrono>
#include <limits>
#include <new>
#include <utility>

#include "base/allocation_record.h"
#include "base/concurrent_lanes.h"
#include "base/memory_budget.h"
#include "formats/exr_document.h"
#include "formats/png_io.h"
#include "frame/focal_depth.h"
#include "frame/focus_map.h"
#include "frame/layered_passes.h"
#include "frame/module_passes.h"
#include "frame/render_output.h"

namespace kestrion {

namespace {

void Report(const RenderCallbacks& callbacks, RenderProgress progress) {
  if (callbacks.progress) callbacks.progress(progress);
}

void Warn(const RenderCallbacks& callbacks, const std::vector<std::string>& lines,
          std::vector<std::string>& kept) {
  for (const std::string& line : lines) {
    if (callbacks.warning) callbacks.warning(line);
    kept.push_back(line);
  }
}

// The record takes a keyed parameter's first value (the filter's track,
// keyed from it, decides); a single key is the value of every frame.
float RecordValue(const std::optional<FloatKeys>& keys, const std::string& name, float unset) {
  if (!keys) return unset;
  CheckHasKeys(*keys, name);
  return keys->begin()->second;
}

FocusConfig RecordOf(const RenderSettings& settings) {
  FocusSettings focus;
  focus.focalName = RENDER_FOCUS_NODE;
  focus.source = settings.source.value_or(SourceSelection{});
  focus.range = RecordValue(settings.range, settings.labels.range, DEFAULT_BLUR_RANGE);
  focus.size = RecordValue(settings.size, settings.labels.size, DEFAULT_BLUR_SIZE);
  return ComposeRecord(focus);
}

// Keys the filter's tracks where the settings key more than one value.
void KeyTracks(FocusFilterSession& session, const RenderSettings& settings) {
  if (settings.range && settings.range->size() > 1) session.KeyTrack(RANGE_TRACK, *settings.range);
  if (settings.size && settings.size->size() > 1) session.KeyTrack(SIZE_TRACK, *settings.size);
}

RenderInput ReadInput(const std::string& path, const RenderSettings& settings,
                      const AbortCheck& abort) {
  return ReadRenderInput(path, settings.input, settings.Limits(), settings.labels, abort);
}

PreparedFrame PrepareZ(const RenderInput& input, const RenderSettings& settings,
                       const RenderCallbacks& callbacks, const AbortCheck& abort) {
  const FramePlanes& planes = input.planes;
  if (!planes.depth) throw FileError(input.name, "the frame has no depth to focus by");
  const DepthOptions depth = settings.depth.For(input.depthIsNormalisedMap);
  CheckDepthOptions(depth, settings.labels);
  PreparedFrame prepared;
  Warn(callbacks, input.roles.warnings, prepared.warnings);
  prepared.rendererZ = RendererZ(*planes.depth, depth, abort);
  Warn(callbacks,
       DepthWarnings(*planes.depth, planes.alpha, depth, input.name, settings.labels, abort),
       prepared.warnings);
  return prepared;
}

PreparedFrame Prepare(const RenderInput& input, const RenderSettings& settings,
                      const RenderCallbacks& callbacks, const AbortCheck& abort) {
  PreparedFrame prepared = PrepareZ(input, settings, callbacks, abort);
  std::vector<std::string> focusWarnings;
  prepared.focusDepth = FocalDepth(settings, input, prepared.rendererZ, focusWarnings, abort);
  Warn(callbacks, focusWarnings, prepared.warnings);
  return prepared;
}

using SessionMaker = std::function<std::unique_ptr<FocusFilterSession>()>;

// New filters of the module, configured for `settings`, for passes run side
// by side.
SessionMaker SessionsOf(const FilterModule& module, const RenderSettings& settings) {
  return [&module, &settings] {
    auto session = std::make_unique<FocusFilterSession>(module, RecordOf(settings));
    KeyTracks(*session, settings);
    return session;
  };
}

// What filtering the input holds: as its headers said, or from its planes.
RenderNeed NeedOf(const RenderInput& input, const RenderSettings& settings) {
  RenderNeed need = input.need;
  if (need.pixels == 0) {
    const FramePlanes& planes = input.planes;
    need.pixels = planes.PixelCount();
    need.channels = planes.colour.size() + (planes.alpha ? 1 : 0) + (planes.depth ? 1 : 0);
  }
  need.layered = settings.layered;
  return need;
}

// The passes that run at once: one a thread (settings.threads, 0 for one a
// core), fewer where the memory limit does not hold them all.
uint32_t ConcurrentPasses(const RenderInput& input, const RenderSettings& settings) {
  const uint32_t threads = settings.threads ? settings.threads : HardwareThreadCount();
  return NeedOf(input, settings).ConcurrentPasses(settings.limits.MemoryLimit(), threads);
}

// The passes through the session's filter (and, side by side, through
// filters `newSession` makes, when it is set), and the frame's planes and
// what it resolved to.
FilteredFrame Filter(FocusFilterSession& session, const SessionMaker& newSession,
                     const RenderInput& input, const PreparedFrame& prepared,
                     const RenderSettings& settings, const RenderCallbacks& callbacks,
                     const AbortCheck& abort) {
  const FramePlanes& frame = input.planes;
  // The layers' planes on top of what reading checked.
  if (settings.layered) {
    CheckNeed(NeedOf(input, settings).Bytes(), settings.Limits(), input.name,
              "filtering it in layers");
  }
  PassOptions options;
  options.threads = settings.threads ? settings.threads : HardwareThreadCount();
  if (newSession) {
    options.newSession = newSession;
    options.concurrentPasses = ConcurrentPasses(input, settings);
  }
  options.frameName = input.name;
  options.alphaMode = settings.alpha;
  options.onMessageBox = callbacks.messageBox;
  if (callbacks.progress) {
    const bool layers = settings.layered;
    options.onProgress = [&callbacks, layers](int32_t pass, int32_t passes, int32_t row,
                                              int32_t lastRow) {
      callbacks.progress(
          {RenderProgress::Stage::Filtering, {}, pass, passes, row, lastRow, layers});
    };
  }
  FilteredPlanes filtered =
      settings.layered ? FilterPlanesLayered(session, prepared.focusDepth, frame,
                                             prepared.rendererZ, settings.frame, options, abort)
                       : FilterPlanes(session, prepared.focusDepth, frame, prepared.rendererZ,
                                      settings.frame, options, abort);
  FilteredFrame result;
  FrameResolution& resolved = result.resolved;
  resolved.frame = settings.frame;
  resolved.width = frame.width;
  resolved.height = frame.height;
  resolved.focusDepth = prepared.focusDepth;
  resolved.range = filtered.range;
  resolved.size = filtered.size;
  resolved.source = SourceFromRecord(session.Record());
  resolved.passes = filtered.passes;
  resolved.layers = filtered.layers;
  resolved.warnings = prepared.warnings;
  Warn(callbacks, filtered.Warnings(input.name), resolved.warnings);

  FramePlanes& planes = result.planes;
  planes.width = frame.width;
  planes.height = frame.height;
  planes.colour = std::move(filtered.colour);
  planes.colourNames = frame.colourNames;
  planes.alphaMode = settings.alpha.value_or(frame.alphaMode);
  planes.alpha = std::move(filtered.alpha);
  // For a new OpenEXR file (PNG or TIFF input), depth as OpenEXR's Z holds
  // it: distances, whatever the input's encoding was.
  const std::vector<float>& z = prepared.rendererZ;
  planes.depth = FilledInterruptibly<float>(z.size(), abort);
  for (size_t i = 0; i < z.size(); ++i) {
    abort.Poll(i);
    (*planes.depth)[i] = z[i] > Z_BACKGROUND ? -z[i] : std::numeric_limits<float>::infinity();
  }
  return result;
}

// What the output is written with: the settings', and the layers a layered
// render filtered in.
OutputOptions OutputOf(const RenderSettings& settings, const FrameResolution& resolved) {
  OutputOptions options = settings.output;
  options.layers = resolved.layers;
  return options;
}

// Says in the focus map's file when the frame was filtered in layers.
std::string FocusMapDescription(const FrameResolution& resolved) {
  if (resolved.layers == 0) return "";
  return "kestrion focus map of a frame filtered in " + std::to_string(resolved.layers) +
         " depth layers";
}

Image FocusMap(const RenderInput& input, const PreparedFrame& prepared,
               const FrameResolution& resolved, const AbortCheck& abort) {
  FocusMapSettings map;
  map.source = resolved.source;
  map.focalDepth = resolved.focusDepth;
  map.range = resolved.range;
  map.size = resolved.size;
  return FocusMapImage(input.planes, prepared.rendererZ, map, abort);
}

// The whole render of one frame of files; fills `report` as it learns.
int32_t RenderFiles(const FilterModule* module, const std::string& modulePath,
                    const FrameFiles& files, const RenderSettings& givenSettings,
                    const RenderCallbacks& callbacks, const AbortCheck& abort,
                    FrameReport& report) {
  CheckFrameFiles(files, givenSettings.frame, givenSettings.output.bitDepth, givenSettings.labels);
  CheckReviewLook(files.output, givenSettings.output.review, givenSettings.labels);
  // The output's folders before anything is read: a name that cannot take
  // the output fails now.
  MakeFolders(files.output);
  if (!files.focusMap.empty()) MakeFolders(files.focusMap);
  std::unique_ptr<FilterModule> loaded;
  if (!module) {
    loaded = LoadFilterModule(modulePath);
    module = loaded.get();
  }

  Report(callbacks, {RenderProgress::Stage::Reading, files.input});
  RenderInput input = ReadInput(files.input, givenSettings, abort);
  abort.ThrowIfRequested();
  // A size in per cent of the frame's width, now that the width is known.
  const RenderSettings settings = SizeInPixels(givenSettings, input.FrameWidth());
  const FocusConfig record = RecordOf(settings);
  report.width = input.planes.width;
  report.height = input.planes.height;
  const PreparedFrame prepared = Prepare(input, settings, callbacks, abort);
  report.focusDepth = prepared.focusDepth;
  // Fails now, before the passes, what would fail once writing starts.
  OutputFile output(files.output);
  std::optional<OutputFile> map;
  if (!files.focusMap.empty()) map.emplace(files.focusMap);

  FocusFilterSession session(*module, record);
  KeyTracks(session, settings);
  const FilteredFrame filtered =
      Filter(session, SessionsOf(*module, settings), input, prepared, settings, callbacks, abort);
  report.range = filtered.resolved.range;
  report.size = filtered.resolved.size;
  report.passes = filtered.resolved.passes;
  if (settings.layered) report.layers = filtered.resolved.layers;
  Report(callbacks, {RenderProgress::Stage::Writing, files.output});
  WriteRenderOutput(input, filtered.planes, output, OutputOf(settings, filtered.resolved), abort);
  if (map) {
    const Image picture = FocusMap(input, prepared, filtered.resolved, abort);
    map->Write([&](const std::string& path) {
      WritePng(picture, path, abort, FocusMapDescription(filtered.resolved));
    });
  }
  abort.ThrowIfRequested();
  // The output last: a frame whose output exists is complete, map and all.
  if (map) map->Commit();
  output.Commit();
  Report(callbacks, {RenderProgress::Stage::Done, files.output});
  return filtered.resolved.passes;
}

FrameOutcome RenderOutcome(const FilterModule* module, const std::string& modulePath,
                           const FrameFiles& files, const RenderSettings& settings,
                           const RenderCallbacks& callbacks) {
  const auto start = std::chrono::steady_clock::now();
  FrameOutcome outcome;
  FrameReport& report = outcome.report;
  report.input = files.input;
  report.output = files.output;
  report.frame = settings.frame;
  report.source = SourceText(settings.source.value_or(SourceSelection{}));
  const AbortCheck abort(callbacks.abort);
  const AllocationWatch allocations;
  try {
    outcome.passes = RenderFiles(module, modulePath, files, settings, callbacks, abort, report);
  } catch (const Error& e) {
    outcome.error = e;
  } catch (const std::bad_alloc&) {
    const size_t failed = allocations.Since().lastSize;
    outcome.error = OutOfMemory(
        ShownName(files.input) + ": not enough memory" +
        (failed ? " (an allocation of " + ByteSizeText(failed) + " failed)" : std::string()));
  } catch (const std::exception& e) {
    outcome.error = Error(ErrorKind::Failed, e.what());
  }
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (outcome.error) {
    report.status = "failed";
    report.error = PrintableMessage(outcome.error->what());
  } else {
    report.status = "done";
  }
  return outcome;
}

}  // namespace

RenderInput ReadFrameInput(const std::string& path, const RenderSettings& settings,
                           const RenderCallbacks& callbacks) {
  const AbortCheck abort(callbacks.abort);
  Report(callbacks, {RenderProgress::Stage::Reading, path});
  RenderInput input = ReadInput(path, settings, abort);
  abort.ThrowIfRequested();
  return input;
}

PreparedFrame PrepareFrame(const RenderInput& input, const RenderSettings& settings,
                           const RenderCallbacks& callbacks) {
  return Prepare(input, settings, callbacks, AbortCheck(callbacks.abort));
}

PreparedFrame PrepareDepth(const RenderInput& input, const RenderSettings& settings,
                           const RenderCallbacks& callbacks) {
  return PrepareZ(input, settings, callbacks, AbortCheck(callbacks.abort));
}

FilteredFrame FilterFrame(const FilterModule& module, const RenderInput& input,
                          const PreparedFrame& prepared, const RenderSettings& givenSettings,
                          const RenderCallbacks& callbacks) {
  const RenderSettings settings = SizeInPixels(givenSettings, input.FrameWidth());
  const SessionMaker newSession = SessionsOf(module, settings);
  const std::unique_ptr<FocusFilterSession> session = newSession();
  return Filter(*session, newSession, input, prepared, settings, callbacks,
                AbortCheck(callbacks.abort));
}

FilteredFrame FilterFrame(ImageFilter& filter, const RenderInput& input,
                          const PreparedFrame& prepared, const RenderSettings& settings,
                          const RenderCallbacks& callbacks) {
  // The caller's filter, as the caller configured it: the passes take turns.
  FocusFilterSession session(filter);
  return Filter(session, {}, input, prepared, settings, callbacks, AbortCheck(callbacks.abort));
}

void ConfigureFilter(ImageFilter& filter, const RenderSettings& settings) {
  if (settings.sizeInPercent) {
    throw UsageError(
        "a size in per cent of the frame's width needs the frame: give the filter "
        "SizeInPixels(settings, width)");
  }
  // Checked before the filter changes: keys that cannot be read leave it
  // as it was.
  if (settings.focusDepth) CheckHasKeys(*settings.focusDepth, settings.labels.focusDepth);
  if (settings.range) CheckHasKeys(*settings.range, settings.labels.range);
  if (settings.size) CheckHasKeys(*settings.size, settings.labels.size);
  FocusFilterSession session(filter);
  session.Configure(RecordOf(settings));
  // Both tracks get keys, one for a single value: keys an earlier call (or
  // the caller) gave them would otherwise decide in place of the record.
  session.KeyTrack(RANGE_TRACK, settings.range.value_or(FloatKeys{{0, DEFAULT_BLUR_RANGE}}));
  session.KeyTrack(SIZE_TRACK, settings.size.value_or(FloatKeys{{0, DEFAULT_BLUR_SIZE}}));
}

void WriteFrameOutput(RenderInput& input, const FilteredFrame& filtered, OutputFile& output,
                      const RenderSettings& settings, const RenderCallbacks& callbacks) {
  Report(callbacks, {RenderProgress::Stage::Writing, output.Target()});
  WriteRenderOutput(input, filtered.planes, output, OutputOf(settings, filtered.resolved),
                    AbortCheck(callbacks.abort));
}

Image FocusMapOf(const RenderInput& input, const PreparedFrame& prepared,
                 const FrameResolution& resolved, const RenderCallbacks& callbacks) {
  return FocusMap(input, prepared, resolved, AbortCheck(callbacks.abort));
}

void CheckOutputName(const FrameFiles& files, int64_t frame, const SettingLabels& labels) {
  if (files.output.empty()) throw UsageError("give an output file with " + labels.output);
  CheckFrame(frame, labels.frame);
  OutputFormatOfName(files.output);
}

void CheckOutputFormats(const FrameFiles& files, int32_t bitDepth, const SettingLabels& labels) {
  const OutputFormat format = OutputFormatOfName(files.output);
  if (format == OutputFormat::Png && bitDepth != 8 && bitDepth != 16) {
    throw UsageError(labels.bitDepth + ": a PNG holds 8 or 16 bits a channel");
  }
  if (format == OutputFormat::Tiff && bitDepth != 16) {
    throw UsageError(labels.bitDepth + ": kestrion writes TIFF with 16 bits a channel");
  }
  const std::string& map = files.focusMap;
  if (!map.empty() && !map.ends_with(".png") && !map.ends_with(".PNG")) {
    throw UsageError(labels.focusMap + ": " + ShownName(map) + ": the focus map is a PNG (.png)");
  }
}

void CheckFrameFiles(const FrameFiles& files, int64_t frame, int32_t bitDepth,
                     const SettingLabels& labels) {
  CheckOutputName(files, frame, labels);
  CheckOutputFormats(files, bitDepth, labels);
}

FrameOutcome RenderFrameFiles(const FilterModule& module, const FrameFiles& files,
                              const RenderSettings& settings, const RenderCallbacks& callbacks) {
  return RenderOutcome(&module, module.Path(), files, settings, callbacks);
}

FrameOutcome RenderFrameFiles(const std::string& modulePath, const FrameFiles& files,
                              const RenderSettings& settings, const RenderCallbacks& callbacks) {
  return RenderOutcome(nullptr, modulePath, files, settings, callbacks);
}

}  // namespace kestrion
