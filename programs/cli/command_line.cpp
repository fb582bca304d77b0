#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/numbers.h"
#include "cli/command_help.h"
#include "demo/demo_scene.h"
#include "frame/frame_report.h"
#include "kestrion/focus_config.h"
#include "shot/exit_codes.h"
#include "shot/frame_pattern.h"
#include "shot/shot_arguments.h"

namespace kestrion {

namespace {

// Upper bounds that keep a typo from asking for millions of threads or
// processes.
constexpr unsigned THREADS_MAX = 1024;
constexpr unsigned JOBS_MAX = 1024;
// The longest line of a command-line error CLI11 words.
constexpr size_t PARSE_ERROR_MAX = 200;

constexpr const char* MODULE_HELP =
    "Filter module to load (default: $KESTRION_MODULE, else KESTRION.FLT beside kestrion)";

std::string Printed(const char* format, double value) {
  char text[160];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The demo's shapes, nearest first, the default marked.
std::string ShapeChoices() {
  std::string choices;
  for (const DemoShape& shape : DemoShapes()) {
    if (!choices.empty()) choices += ", ";
    choices += shape.name;
    if (&shape == &DefaultFocusShape()) choices += " (default)";
  }
  return choices;
}

template <typename T>
CLI::Option* AddOptional(CLI::App& command, const std::string& name, std::optional<T>& target,
                         const std::string& help) {
  return command.add_option_function<T>(
      name, [&target](const T& value) { target = value; }, help);
}

// Reads a numeric option's text strictly (numbers.h): CLI11's own
// conversion takes hexadecimal, "010" as octal and surrounding spaces. A
// bad number fails the parse like any other option error.
template <typename T>
T NumberOf(const std::string& text, const std::string& option, T min, T max) {
  try {
    if constexpr (std::is_floating_point_v<T>) {
      return FloatOption<T>(text, option, min, max);
    } else {
      return IntegerOption<T>(text, option, min, max);
    }
  } catch (const Error& e) {
    throw CLI::ValidationError(e.what());
  }
}

template <typename T>
struct NumberOfTarget {
  using type = T;
};
template <typename T>
struct NumberOfTarget<std::optional<T>> {
  using type = T;
};

// A numeric option into `target`, a number (whose value is the default
// shown) or an optional one.
template <typename Target, typename T = typename NumberOfTarget<Target>::type>
CLI::Option* AddNumber(CLI::App& command, const std::string& name, Target& target,
                       const std::string& help, T min = std::numeric_limits<T>::lowest(),
                       T max = std::numeric_limits<T>::max()) {
  CLI::Option* option = command
                            .add_option_function<std::string>(
                                name,
                                [&target, name, min, max](const std::string& text) {
                                  target = NumberOf<T>(text, name, min, max);
                                },
                                help)
                            ->type_name(std::is_floating_point_v<T> ? "FLOAT" : "INT");
  if constexpr (std::is_same_v<Target, T>) {
    option->default_str(Printed("%g", static_cast<double>(target)));
  }
  return option;
}

// The options that choose an OpenEXR file's channels, as render and
// inspect share them.
void AddRoleOptions(CLI::App& command, RoleOptions& roles) {
  AddOptional(command, "--part", roles.part, "Part holding the colour (index or name)");
  AddOptional(command, "--layer", roles.layer, "Colour layer (. for the root)");
  AddOptional(command, "--depth-channel", roles.depthChannel, "Depth channel ([PART:]NAME)");
  AddOptional(command, "--object-id-channel", roles.objectIdChannel,
              "Object ID channel ([PART:]NAME)");
  AddOptional(command, "--material-id-channel", roles.materialIdChannel,
              "Material ID channel ([PART:]NAME)");
  command.add_option("--layers", roles.layers, "Further colour layers to filter, or all")
      ->delimiter(',');
}

// The options that say where the depth is and what it means, as render and
// inspect share them.
void AddDepthOptions(CLI::App& command, DepthOptionTexts& texts, DepthSettings& depth,
                     std::string& depthFile) {
  command.add_option("--depth-file", depthFile,
                     "Depth from this file: an OpenEXR channel, or a grey PNG (normalised map)");
  AddOptional(command, "--depth-mode", texts.mode,
              "What depth values mean: distance (default), camera, inverse, normalised");
  AddNumber(command, "--depth-near", texts.near, "Normalised maps: the distance of 0");
  AddNumber(command, "--depth-far", texts.far, "Normalised maps: the distance of 1");
  command.add_flag("--depth-invert", depth.invert, "Normalised maps: 1 (white) is near");
  AddNumber(command, "--background-depth", depth.backgroundDepth,
            "A stored depth value that means no geometry (e.g. 0)");
  AddNumber(command, "--background-from", depth.backgroundFrom,
            "Distances from this up are background (renderers write 1e10 and the like for no "
            "geometry; 1e30: only infinite and >= 1e30)");
}

void AddDemo(CLI::App& app, DemoOptions& options) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Render the built-in scene, filter it through the module and write a PNG");
  demo->add_option("-o,--output", options.output, "Output file (.png or .exr)")
      ->capture_default_str();
  AddOptional(*demo, "--focus", options.focus, "Focal object: " + ShapeChoices());
  AddNumber(
      *demo, "--range", options.range,
      Printed("Depth distance at which the blur reaches its full size (default %g)", DEMO_RANGE));
  AddNumber(*demo, "--size", options.size,
            Printed("Full blur radius in pixels (default %g at ", DEMO_SIZE_AT_WIDTH) +
                std::to_string(DEMO_WIDTH) + " wide, scaled with the width)");
  demo->add_option("--source", options.source, "Pixels to blur: whole, material:ID or object:ID")
      ->capture_default_str();
  AddNumber(*demo, "--width", options.width, "Frame width", 1, DEMO_SIDE_MAX);
  AddNumber(*demo, "--height", options.height, "Frame height", 1, DEMO_SIDE_MAX);
  demo->add_option("--original", options.original,
                   "Also write the unfiltered frame here (.png, or .exr with Z and IDs)");
  demo->add_option("--module", options.module, MODULE_HELP);
  demo->add_flag("-q,--quiet", options.quiet, "Do not show progress");
}

// The options of a shot (shot_runner.h), on the render command.
void AddShotOptions(CLI::App& render, ShotOptions& shot) {
  AddOptional(render, "--frames", shot.frames,
              "Shot: frames to render, e.g. 1-240, 1-240x2, 1,5,10-20 (default: all on disk)");
  AddOptional(render, "--chunk", shot.chunk,
              "Shot: render only slice K of N of the frames (K/N, or slurm/N)");
  AddNumber(render, "--jobs", shot.jobs, "Shot: frames rendered at a time (default: cores)", 1u,
            JOBS_MAX);
  render.add_flag("--skip-existing", shot.skipExisting,
                  "Shot: do not render frames whose output exists");
  render.add_option("--report-file", shot.reportFile, "Shot: also write the JSON lines here");
}

// The options of a frame's settings that render and studio share, before
// render's report options: the frame of the shot, the focus, the blur and
// a settings file.
void AddFocusOptions(CLI::App& command, RenderOptions& options) {
  AddNumber(command, "--frame", options.frame,
            "Frame of the shot this file is (keys are read here)");
  AddOptional(command, "--focus-depth", options.focusDepth,
              "Depth of the focal plane, or keys F:D,F:D,...");
  AddOptional(command, "--focus-pixel", options.focusPixel,
              "X,Y: focus on the depth seen at this pixel; keys F:X,Y;F:X,Y;...");
  AddOptional(command, "--focus-object", options.focusObject,
              "Focus on the depth of this object's pixels: an object ID, or a name in the "
              "file's Cryptomatte manifest");
  AddOptional(command, "--focus-statistic", options.focusStatistic,
              "Depth of a focus object: median (default), mean, min or max");
  AddOptional(command, "--focus-missing", options.focusMissing,
              "A frame without the focus object: hold (default) the focal depth of the "
              "nearest frame of the shot with it, or fail");
}

// The blur's options render and studio share, after the focus's.
void AddBlurOptions(CLI::App& command, RenderOptions& options) {
  AddOptional(command, "--range", options.range,
              Printed("Depth distance at which the blur reaches its full size (default %g), or "
                      "keys F:V,F:V,...",
                      DEFAULT_BLUR_RANGE));
  AddOptional(command, "--size", options.size,
              Printed("Full blur radius in pixels (default %g) or in per cent of the frame's "
                      "width (2%%), or keys F:V,F:V,...",
                      DEFAULT_BLUR_SIZE));
  AddOptional(command, "--source", options.source,
              "Pixels to blur: whole, material:ID or object:ID");
  command.add_flag("--layered", options.layered,
                   "Filter in depth layers: no halo around sharp objects, blurred ones spread "
                   "over what lies behind them (more passes)");
  command.add_option("--shot", options.shotFile,
                     "JSON shot file: focusDepth, focusPixel, focusObject, focusStatistic, "
                     "range, size (numbers or [[frame, value], ...] keys), source, layered");
  command.add_option("--settings", options.settingsFile, "The same as --shot");
}

// The options render and studio share after render's report options: how
// the input is read and its depth taken, the output written, the limits
// and the module.
void AddReadingOptions(CLI::App& command, RenderOptions& options) {
  AddRoleOptions(command, options.settings.input.roles);
  AddDepthOptions(command, options.depth, options.settings.depth, options.settings.input.depthFile);
  AddOptional(command, "--alpha", options.alpha,
              "premultiplied (OpenEXR default), straight (PNG, TIFF default) or ignore");
  AddOptional(command, "--compression", options.compression,
              "OpenEXR output: none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab "
              "(default: the input's)");
  AddNumber(command, "--bit-depth", options.settings.output.bitDepth,
            "PNG output: 8 or 16 bits a channel");
  AddOptional(command, "--flatten", options.flatten,
              "PNG/TIFF output: composite over this colour and drop alpha: black, white, grey, "
              "#RRGGBB or linear R,G,B");
  AddNumber(command, "--exposure", options.exposure,
            "PNG/TIFF output: brighten (or darken) by this many stops (default 0)", -20.0f, 20.0f);
  AddNumber(command, "--gamma", options.gamma,
            "PNG/TIFF output: display values to the power 1/GAMMA (default 1)", 0.001f, 10.0f);
  AddOptional(command, "--ocio-config", options.ocioConfig,
              "PNG/TIFF output: show the frame through this OpenColorIO configuration (default: "
              "$OCIO, else Blender's when installed; none: the plain sRGB encode)");
  AddOptional(command, "--ocio-display", options.ocioDisplay,
              "PNG/TIFF output: the configuration's display (default: its default display)");
  AddOptional(command, "--ocio-view", options.ocioView,
              "PNG/TIFF output: the display's view (default: its default view)");
  AddOptional(command, "--ocio-look", options.ocioLook,
              "PNG/TIFF output: one of the configuration's looks, in place of the view's own");
  AddOptional(command, "--display", options.display,
              "PNG/TIFF output: clip (default) colour at 1, or soft: roll highlights off and "
              "keep light over transparency visible");
  AddNumber(command, "--threads", options.settings.threads,
            "Threads for reading and writing OpenEXR and for the passes (0: one per core)", 0u,
            THREADS_MAX);
  AddOptional(command, "--memory-limit", options.memoryLimit,
              "Refuse input that needs more memory: bytes, or with K, M, G, T (default: half "
              "the memory, shared among a shot's --jobs)");
  AddOptional(command, "--max-side", options.maxSide,
              "Refuse frames with a longer side, in pixels (default and largest: 65535)");
  command.add_option("--module", options.module, MODULE_HELP);
}

void AddRender(CLI::App& app, RenderOptions& options) {
  CLI::App* render = app.add_subcommand(
      "render", "Filter a render (OpenEXR with depth, or PNG/TIFF with a depth file)");
  render->add_option("INPUT", options.files.input, "File to filter (.exr, .png, .tif)")->required();
  render->add_option("-o,--output", options.files.output, "Output file (.exr, .png, .tif)")
      ->required();
  AddFocusOptions(*render, options);
  AddOptional(*render, "--shot-input", options.shotInput,
              "The shot this frame belongs to, as an input pattern (a shot gives it each frame)");
  AddOptional(*render, "--shot-frames", options.shotFrames,
              "The shot's frames (default: those on disk)");
  AddBlurOptions(*render, options);
  // A shot runner adds --report json to the options it forwards: the same
  // word twice is no conflict.
  AddOptional(*render, "--report", options.report,
              "json: print one JSON line about the frame on stdout instead of the summary")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  render->add_flag("--focus-report", options.focusReport,
                   "Print the frame's focal depth, range and size on stderr");
  render->add_option("--focus-map", options.files.focusMap,
                     "Also write a focus map (PNG): sharp green, blur radius as brightness, "
                     "background blue");
  AddReadingOptions(*render, options);
  render->add_flag("-q,--quiet", options.quiet, "Do not show progress");
  render->footer(std::string(RENDER_FOOTER) + SHOT_FOOTER);
}

// The studio's own options. The words of those listed in
// STUDIO_OWN_OPTIONS are not repeated by its hand-off's command line.
void AddStudio(CLI::App& app, StudioOptions& options) {
  RenderOptions& render = options.render;
  CLI::App* studio = app.add_subcommand(
      "studio", "The module's control dialog and a live preview of a frame or shot in a browser");
  studio->add_option("INPUT", render.files.input, "Frame or shot pattern (.exr, .png, .tif)")
      ->required();
  studio->add_option("-o,--output", render.files.output,
                     "The output the hand-off's command writes (default: INPUT's name with .dof)");
  AddFocusOptions(*studio, render);
  AddBlurOptions(*studio, render);
  AddOptional(*studio, "--frames", options.frames,
              "Shot: the frames to look at, e.g. 1-240 (default: all on disk)");
  AddReadingOptions(*studio, render);
  AddNumber(*studio, "--port", options.port, "Port on 127.0.0.1 (default: a free one)", uint16_t{1},
            uint16_t{65535});
  studio->add_flag("--open", options.open, "Open the page with xdg-open");
  studio->add_option("--save", options.saveFile,
                     "Save writes the settings file (for render --shot) here");
  studio->footer(STUDIO_FOOTER);
}

void AddInspect(CLI::App& app, InspectCommandOptions& options) {
  CLI::App* inspect =
      app.add_subcommand("inspect", "Show an OpenEXR file's parts, channels, roles, depth and IDs");
  InspectOptions& overview = options.overview;
  inspect->add_option("FILE", overview.input, "OpenEXR file")->required();
  AddOptional(*inspect, "--pixel", overview.pixel,
              "X,Y: show every channel at this pixel (0,0 top left of the display window)");
  AddRoleOptions(*inspect, overview.roles);
  AddDepthOptions(*inspect, options.depth, overview.depth, overview.depthFile);
}

// The shot to run when render's INPUT holds a frame pattern: every word
// after "render" that is not the shot's own goes to each frame.
ShotRun ShotRunOf(int argc, char** argv, const RenderOptions& render, const ShotOptions& shot) {
  std::vector<std::string> words;
  bool afterRender = false;
  for (int i = 1; i < argc; ++i) {
    if (afterRender) words.emplace_back(argv[i]);
    afterRender = afterRender || std::string(argv[i]) == "render";
  }
  ShotRun run;
  run.input = render.files.input;
  run.output = render.files.output;
  run.forwarded = ForwardedArguments(words, render.files.input);
  run.shot = shot;
  run.jsonReport = ParseReportFormat(render.report, "--report");
  run.quiet = render.quiet;
  return run;
}

// The studio's options whose words its hand-off's command line does not
// repeat: its output, the settings and the view the hand-off writes itself, and its
// own.
constexpr const char* STUDIO_OWN_OPTIONS[] = {
    "--output",      "--focus-depth",  "--focus-pixel", "--focus-object", "--focus-statistic",
    "--range",       "--size",         "--source",      "--layered",      "--shot",
    "--settings",    "--port",         "--open",        "--save",         "--help",
    "--ocio-config", "--ocio-display", "--ocio-view",   "--ocio-look",    "--exposure",
    "--gamma"};

// The words of the studio's command line that a render of the same frames
// needs, rebuilt from what CLI11 read, option by option.
std::vector<std::string> StudioForwarded(const CLI::App& studio) {
  std::vector<std::string> words;
  for (const CLI::Option* option : studio.get_options()) {
    if (option->count() == 0 || option->get_lnames().empty()) continue;
    const std::string name = "--" + option->get_lnames().front();
    const auto own = [&name](const char* other) { return name == other; };
    if (std::any_of(std::begin(STUDIO_OWN_OPTIONS), std::end(STUDIO_OWN_OPTIONS), own)) continue;
    if (option->get_type_size_max() == 0) {
      words.push_back(name);
      continue;
    }
    const std::vector<std::string>& values = option->results();
    if (values.empty()) continue;
    std::string value = values.back();
    if (option->get_delimiter() != '\0') {
      value.clear();
      for (const std::string& item : values) {
        value += (value.empty() ? "" : std::string(1, option->get_delimiter())) + item;
      }
    }
    words.insert(words.end(), {name, value});
  }
  return words;
}

// A render asked for a JSON report gets its line even when its command
// line cannot be parsed, so that a shot runner hears about every frame.
void ReportParseFailure(int argc, char** argv, const RenderOptions& render,
                        const std::string& error) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) != "--report" || std::string(argv[i + 1]) != "json") continue;
    FrameReport report;
    report.input = render.files.input;
    report.output = render.files.output;
    report.frame = static_cast<int32_t>(render.frame);
    report.status = "failed";
    report.error = error;
    std::printf("%s\n", report.Json().c_str());
    return;
  }
}

}  // namespace

CommandLine::CommandLine()
    : app(std::make_unique<CLI::App>(
          "kestrion: depth-of-field filtering with the Kestrion filter module", "kestrion")) {
  app->require_subcommand(1);
  CLI::App* infoCommand = app->add_subcommand("info", "Show what the filter module reports");
  infoCommand->add_option("--module", info.module, MODULE_HELP);
  AddDemo(*app, demo);
  AddRender(*app, render);
  AddShotOptions(*app->get_subcommand("render"), shot);
  AddInspect(*app, inspect);
  AddStudio(*app, studio);
}

CommandLine::~CommandLine() = default;

std::optional<int> CommandLine::Parse(int count, char** words) {
  argc = count;
  argv = words;
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app->exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app->exit(e);
  } catch (const CLI::ParseError& e) {
    // CLI11 quotes what it could not place in full: keep its lines short.
    const std::string message = PrintableMessage(e.what(), PARSE_ERROR_MAX);
    std::fprintf(stderr, "kestrion: %s (see kestrion --help)\n", message.c_str());
    if (app->got_subcommand("render")) ReportParseFailure(argc, argv, render, message);
    return EXIT_USAGE;
  }
  return std::nullopt;
}

Command CommandLine::Chosen() const {
  if (app->got_subcommand("info")) return Command::Info;
  if (app->got_subcommand("demo")) return Command::Demo;
  if (app->got_subcommand("inspect")) return Command::Inspect;
  if (app->got_subcommand("studio")) return Command::Studio;
  if (HoldsFramePattern(render.files.input)) return Command::Shot;
  if (shot.frames || shot.chunk || shot.jobs || shot.skipExisting || !shot.reportFile.empty()) {
    throw UsageError(
        "--frames, --chunk, --jobs, --skip-existing and --report-file need a "
        "frame pattern in INPUT, e.g. frame.####.exr");
  }
  return Command::Render;
}

ShotRun CommandLine::Shot() const { return ShotRunOf(argc, argv, render, shot); }

StudioRun CommandLine::Studio() const {
  StudioRun run;
  run.options = studio;
  run.program = argc > 0 ? argv[0] : "kestrion";
  const CLI::App* command = app->get_subcommand("studio");
  run.frameGiven = command->count("--frame") > 0;
  run.forwarded = StudioForwarded(*command);
  return run;
}

RenderOptions CommandLine::ParseRenderWords(const std::vector<std::string>& words) {
  CommandLine commandLine;
  // CLI11 takes a word list last word first.
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  reversed.push_back("render");
  try {
    commandLine.app->parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw UsageError(PrintableMessage(e.what(), PARSE_ERROR_MAX));
  }
  if (commandLine.Chosen() == Command::Shot) {
    throw UsageError(QuotedValue(commandLine.render.files.input) +
                     " is a frame pattern: render its frames one at a time");
  }
  return commandLine.render;
}

std::vector<RenderOptionName> CommandLine::RenderOptionNames() {
  CommandLine commandLine;
  std::vector<RenderOptionName> names;
  for (const CLI::Option* option : commandLine.app->get_subcommand("render")->get_options()) {
    if (option->get_lnames().empty()) continue;
    names.push_back({option->get_lnames().front(), option->get_expected_max() == 0});
  }
  return names;
}

}  // namespace kestrion
