// frame_render.h: one frame, in-process, from its input and settings to the
// filtered planes and the frame's report. Nothing here prints, exits, reads
// the command line or the environment, or looks at signals: the caller
// hears of progress, warnings and the filter's message boxes through
// RenderCallbacks and stops a render through its abort query; what goes
// wrong is an Error (errors.h), whose kind says what went wrong.
//
//   ReadFrameInput    a file (and a depth file) into planes held in memory
//                     (a caller with planes of its own filters them with
//                     FilterMemoryFrame, memory_frame.h)
//   PrepareFrame      the stored depth as the renderer's Z, the focal depth
//   FilterFrame       the planes through a filter of the module made for
//                     the call, or through the caller's own filter (its
//                     dialog, its keyed tracks); as often as settings change
//   WriteFrameOutput  the filtered planes into an output file; FocusMapOf
//                     the focus map
//   RenderFrameFiles  all of them for files, with the frame's report: what
//                     `kestrion render` and every frame of a shot run
//
// Reading, preparing and filtering are separate steps so that a caller can
// keep a frame's input and re-filter it, and so that the passes of one
// frame (module_passes.h) stay apart from the files they come from. Calls
// for different frames may run at once on any threads, as memory_frame.h
// says; a caller's own filter serves one call at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "base/errors.h"
#include "formats/frame_planes.h"
#include "formats/image.h"
#include "formats/output_file.h"
#include "frame/filter_session.h"
#include "frame/frame_report.h"
#include "frame/render_callbacks.h"
#include "frame/render_input.h"
#include "frame/render_settings.h"
#include "host/filter_pipeline.h"

namespace kestrion {

// The node a render places on the camera axis at the focal depth, which the
// record of a filter made for the render names.
inline constexpr const char* RENDER_FOCUS_NODE = "Focus";

// What a frame was prepared for the filter with.
struct PreparedFrame {
  std::vector<float> rendererZ;  // the depth as the renderer's Z, a value a pixel
  float focusDepth = 0.0f;       // the focal plane, in front of the camera
  std::vector<std::string> warnings;
};

struct FilteredFrame {
  // The filtered colour (and alpha) in the input's order and alpha mode, and
  // the depth as distances (+infinity where there is no geometry).
  FramePlanes planes;
  FrameResolution resolved;
};

// Reads `path` (and settings.input's depth file) as ReadRenderInput does,
// within settings.limits. OpenEXR's threads are the program's
// (SetExrThreadCount, exr_document.h), set once, never per call.
RenderInput ReadFrameInput(const std::string& path, const RenderSettings& settings,
                           const RenderCallbacks& callbacks = {});

// The renderer's Z and the focal depth of settings.frame. Throws a
// UsageError for depth settings that do not fit the input or a frame
// without a focus, and what FocalDepth (focal_depth.h) throws.
PreparedFrame PrepareFrame(const RenderInput& input, const RenderSettings& settings,
                           const RenderCallbacks& callbacks = {});
// PrepareFrame's first half, for a caller that focuses the frame later and
// more than once (FocalDepth, focal_depth.h): the renderer's Z and its
// warnings, focusDepth left 0. Throws what PrepareFrame throws for depth.
PreparedFrame PrepareDepth(const RenderInput& input, const RenderSettings& settings,
                           const RenderCallbacks& callbacks = {});

// Filters the prepared input through a new filter of `module`, configured
// as ConfigureFilter does (a size in per cent of the input's frame width).
FilteredFrame FilterFrame(const FilterModule& module, const RenderInput& input,
                          const PreparedFrame& prepared, const RenderSettings& settings,
                          const RenderCallbacks& callbacks = {});
// Filters the prepared input through `filter` as it is configured: its
// record (focal object, range, size, source) and its tracks are the
// caller's; the node its record names is placed at the focal depth.
FilteredFrame FilterFrame(ImageFilter& filter, const RenderInput& input,
                          const PreparedFrame& prepared, const RenderSettings& settings,
                          const RenderCallbacks& callbacks = {});
// Gives `filter` the record a render of `settings` uses (focal node
// RENDER_FOCUS_NODE, the first value of keyed range and size, the source)
// and keys its Range and Size tracks with the settings' keys (one key for a
// single value or the default), replacing the keys they held. Throws a
// UsageError for settings out of the filter's range or a size in per cent
// (give SizeInPixels' settings), a Failure when the filter refuses them.
void ConfigureFilter(ImageFilter& filter, const RenderSettings& settings);

// Writes the filtered frame into `output`'s content file, in the format the
// target's name asks for (render_output.h); the input's document takes the
// filtered planes, its planes stay as they were read. The caller commits.
void WriteFrameOutput(RenderInput& input, const FilteredFrame& filtered, OutputFile& output,
                      const RenderSettings& settings, const RenderCallbacks& callbacks = {});
// The focus map (focus_map.h) of the frame as it was filtered.
Image FocusMapOf(const RenderInput& input, const PreparedFrame& prepared,
                 const FrameResolution& resolved, const RenderCallbacks& callbacks = {});

// The files of one frame's render; an empty focusMap writes none.
struct FrameFiles {
  std::string input;
  std::string output;
  std::string focusMap;
};

// The checks of a render's files and frame that come before any work: an
// output name with a format kestrion writes, a bit depth that format holds,
// a focus map named .png, a frame within FRAME_MIN to FRAME_MAX. Throws a
// UsageError. The two halves, for a caller that checks more between them:
// the output's name and the frame, then what the formats hold.
// Messages name the output, the frame, the bit depth and the focus map by
// `labels`.
void CheckFrameFiles(const FrameFiles& files, int64_t frame, int32_t bitDepth,
                     const SettingLabels& labels);
void CheckOutputName(const FrameFiles& files, int64_t frame, const SettingLabels& labels);
void CheckOutputFormats(const FrameFiles& files, int32_t bitDepth, const SettingLabels& labels);

struct FrameOutcome {
  // Status "done", or "failed" with the error's printable message; what was
  // known when it failed is set, the rest null.
  FrameReport report;
  // Why it failed, with its kind; Aborted() when the abort query said
  // so.
  std::optional<Error> error;
  int32_t passes = 0;

  bool Aborted() const { return error && error->Kind() == ErrorKind::Aborted; }
};

// Reads, prepares, filters and writes one frame of files: the folders the
// output and the focus map need are made before anything is read; the
// output (and the focus map) replace their targets only when everything
// succeeded, the focus map first. Never throws an Error: failures are in the
// outcome, a filter that ran out of memory included.
FrameOutcome RenderFrameFiles(const FilterModule& module, const FrameFiles& files,
                              const RenderSettings& settings,
                              const RenderCallbacks& callbacks = {});
// The same with the module loaded from `modulePath` for the frame.
FrameOutcome RenderFrameFiles(const std::string& modulePath, const FrameFiles& files,
                              const RenderSettings& settings,
                              const RenderCallbacks& callbacks = {});

}  // namespace kestrion
