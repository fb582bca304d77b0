#include <cmath>
#include <optional>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/report_stream.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/module_path.h"
#include "cli/progress_report.h"
#include "demo/demo_scene.h"
#include "formats/image_files.h"
#include "formats/output_file.h"
#include "frame/filter_session.h"
#include "frame/focus_record.h"

namespace kestrion {

namespace {

void CheckSide(int side, const char* what) {
  if (side < 1 || side > DEMO_SIDE_MAX) {
    throw UsageError(std::string(what) + " " + std::to_string(side) + " is outside 1 to " +
                     std::to_string(DEMO_SIDE_MAX));
  }
}

std::string ShapeNames() {
  std::string names;
  for (const DemoShape& shape : DemoShapes()) {
    names += (names.empty() ? "" : ", ") + std::string(shape.name);
  }
  return names;
}

FocusSettings DemoSettings(const DemoOptions& options) {
  FocusSettings settings;
  settings.focalName = options.focus.value_or(DefaultFocusShape().name);
  // An empty name goes to the filter as it is: the filter itself reports
  // that no focal object is set.
  if (!settings.focalName.empty() && !FindDemoShape(settings.focalName)) {
    throw UsageError("focus " + QuotedValue(settings.focalName) + ": the demo scene has " +
                     ShapeNames());
  }
  settings.source = ParseSource(options.source);
  settings.range = options.range.value_or(DEMO_RANGE);
  settings.size = options.size.value_or(
      std::max(BLUR_SIZE_MIN, std::round(DEMO_SIZE_AT_WIDTH * options.width / DEMO_WIDTH)));
  return settings;
}

float CameraDepth(const DemoShape& shape) { return -(shape.centre * DemoWorldToCamera()).z; }

// Filters the frame through a new filter of the module, with the filter's
// progress as a percentage on stderr.
void FilterDemo(const FilterModule& module, const FocusConfig& record, Image& frame, bool quiet,
                const AbortCheck& abort) {
  // kestrion runs frames as the host application does, whose renderer keeps
  // one frame's memory for the next.
  KeepFrameMemory();
  FocusFilterSession session(module, record);
  ProgressReport report(!quiet, stderr);
  try {
    session.Run(
        frame, "demo scene", 0, abort,
        [&report](int32_t row, int32_t lastRow) { report.Update(row, lastRow); }, &PrintMessageBox);
  } catch (...) {
    report.Finish(false);
    throw;
  }
  report.Finish(true);
}

}  // namespace

void RunDemo(const DemoOptions& options, std::FILE* out) {
  const AbortCheck abort(&StopRequested);
  CheckSide(options.width, "width");
  CheckSide(options.height, "height");
  const FocusSettings settings = DemoSettings(options);
  const FocusConfig record = ComposeRecord(settings);
  FormatOfName(options.output);
  if (!options.original.empty()) FormatOfName(options.original);

  const auto module = LoadFilterModule(ResolveModulePath(options.module));
  OutputFile output(options.output);
  std::optional<OutputFile> original;
  if (!options.original.empty()) original.emplace(options.original);

  Image frame = RenderDemoScene(static_cast<uint16_t>(options.width),
                                static_cast<uint16_t>(options.height), abort);
  AddDemoNodes(HostInterface());
  if (original) WriteImage(frame, *original, abort);
  FilterDemo(*module, record, frame, options.quiet, abort);
  WriteImage(frame, output, abort);

  abort.ThrowIfRequested();
  if (original) original->Commit();
  output.Commit();

  char text[200];
  std::snprintf(text, sizeof text, " (%d x %d", options.width, options.height);
  std::string line = "wrote " + options.output + text;
  if (const DemoShape* focus = FindDemoShape(settings.focalName)) {
    std::snprintf(text, sizeof text, ", focus %s at depth %.2f", focus->name, CameraDepth(*focus));
    line += text;
  }
  std::snprintf(text, sizeof text, ", range %g, size %g, source %s)", settings.range, settings.size,
                SourceText(settings.source).c_str());
  ReportStream(out).Line(line + text);
}

}  // namespace kestrion
