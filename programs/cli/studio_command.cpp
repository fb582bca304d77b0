// studio_command.cpp: `kestrion studio INPUT [render options]`. The
// options become the studio's settings as render reads them
// (render_options.h), INPUT one frame or the frames of a shot pattern,
// and the studio (studio/studio_program.h) serves them until Ctrl-C.
#include <filesystem>

#include "base/errors.h"
#include "cli/commands.h"
#include "cli/module_path.h"
#include "cli/render_options.h"
#include "formats/output_file.h"
#include "shot/frame_pattern.h"
#include "studio/studio_program.h"

namespace kestrion {

namespace {

// The output a render of INPUT writes when the studio was given none:
// beside it, named as `kestrion inspect` suggests (frame marks kept).
std::string DefaultOutput(const std::string& input) {
  const std::filesystem::path path(input);
  return (path.parent_path() / (path.stem().string() + ".dof" + path.extension().string()))
      .string();
}

std::vector<studio::StudioFrame> FramesOf(const StudioRun& run) {
  const StudioOptions& options = run.options;
  const std::string& input = options.render.files.input;
  const std::optional<FramePattern> pattern = FramePattern::Parse(input, "INPUT");
  if (!pattern) {
    if (options.frames)
      throw UsageError("--frames needs a frame pattern in INPUT, e.g. frame.####.exr");
    return {{static_cast<int32_t>(options.render.frame), input}};
  }
  if (run.frameGiven) {
    throw UsageError("--frame: a shot's frames come from its pattern; choose them with --frames");
  }
  const std::vector<int64_t> numbers =
      options.frames ? ParseFrameList(*options.frames) : pattern->FramesOnDisk();
  if (numbers.empty()) throw UsageError(input + ": no frame of the pattern is on disk");
  std::vector<studio::StudioFrame> frames;
  for (const int64_t number : numbers) {
    CheckFrame(number, "--frames");
    frames.push_back({static_cast<int32_t>(number), pattern->FileOf(number)});
  }
  return frames;
}

}  // namespace

int RunStudioCommand(const StudioRun& run, std::FILE* out, std::FILE* err) {
  const StudioOptions& options = run.options;
  studio::StudioSetup setup;
  setup.settings = ReadStudioSettings(options.render);
  if (setup.settings.focusObjectName) {
    throw UsageError("--focus-object " + QuotedValue(*setup.settings.focusObjectName) +
                     ": the studio's objects are the frame's object IDs; give an ID");
  }
  setup.frames = FramesOf(run);
  setup.firstFrame = setup.frames.front().number;
  setup.modulePath = ResolveModulePath(options.render.module);
  setup.program = run.program;
  setup.input = options.render.files.input;
  setup.output = options.render.files.output.empty() ? DefaultOutput(setup.input)
                                                     : options.render.files.output;
  setup.forwarded = run.forwarded;
  setup.saveFile = options.saveFile;
  // A file Save could not write is found out now: its folder must exist.
  if (!setup.saveFile.empty()) OutputFile check(setup.saveFile);
  setup.port = options.port;
  setup.open = options.open;
  return studio::RunStudio(setup, out, err);
}

}  // namespace kestrion
