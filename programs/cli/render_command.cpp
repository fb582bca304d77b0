// render_command.cpp: `kestrion render` for one frame. The options' texts
// become the frame's settings (render_options.h), and the frame library
// reads, filters and writes it (frame_render.h); here its progress goes to
// stderr, a signal aborts it, and its report goes to stdout: the "wrote"
// line, or with --report json one JSON line whether it succeeded or not.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>

#include "base/allocation_record.h"
#include "base/errors.h"
#include "base/memory_budget.h"
#include "base/report_stream.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/module_path.h"
#include "cli/render_options.h"
#include "cli/run_progress.h"
#include "formats/exr_document.h"
#include "frame/frame_render.h"
#include "host/filter_pipeline.h"

namespace kestrion {

namespace {

// The frame's render, or its failure before the library started on it.
FrameOutcome RenderOutcome(const RenderOptions& options) {
  FrameOutcome outcome;
  const auto start = std::chrono::steady_clock::now();
  const AllocationWatch allocations;
  try {
    const RenderSettings settings = ReadRenderSettings(options);
    // OpenEXR's threads, once for the program (--threads).
    SetExrThreadCount(settings.threads);
    // kestrion runs frames as the host application does, whose renderer
    // keeps one frame's memory for the next.
    KeepFrameMemory();
    RunProgress progress(!options.quiet, stderr);
    RenderCallbacks callbacks = CommandCallbacks();
    callbacks.progress = [&progress](const RenderProgress& now) { progress.Show(now); };
    return RenderFrameFiles(ResolveModulePath(options.module), options.files, settings, callbacks);
  } catch (const Error& e) {
    outcome.error = e;
  } catch (const std::bad_alloc&) {
    const size_t failed = allocations.Since().lastSize;
    outcome.error = OutOfMemory(
        ShownName(options.files.input) + ": not enough memory" +
        (failed ? " (an allocation of " + ByteSizeText(failed) + " failed)" : std::string()));
  } catch (const std::exception& e) {
    outcome.error = Error(ErrorKind::Failed, e.what());
  }
  FrameReport& report = outcome.report;
  report.input = options.files.input;
  report.output = options.files.output;
  report.frame = static_cast<int32_t>(std::clamp<int64_t>(options.frame, INT32_MIN, INT32_MAX));
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report.status = "failed";
  report.error = PrintableMessage(outcome.error->what());
  return outcome;
}

}  // namespace

void RunRender(const RenderOptions& options, std::FILE* out) {
  const bool json = ParseReportFormat(options.report, "--report");
  const FrameOutcome outcome = RenderOutcome(options);
  const FrameReport& report = outcome.report;
  if (options.focusReport) std::fprintf(stderr, "kestrion: %s\n", report.FocusLine().c_str());
  // Once the output is committed, stdout failing is no failure of the run.
  ReportStream lines(out);
  if (json) lines.Line(report.Json());
  if (outcome.error) throw *outcome.error;
  if (!json) {
    const std::string layers =
        report.layers ? std::to_string(*report.layers) + " depth layers, " : std::string();
    char summary[200];
    std::snprintf(summary, sizeof summary,
                  " (focus depth %g, range %g, size %g, source %s, %s%d passes)",
                  *report.focusDepth, *report.range, *report.size, report.source->c_str(),
                  layers.c_str(), outcome.passes);
    lines.Line("wrote " + ShownName(options.files.output) + summary);
  }
}

}  // namespace kestrion
