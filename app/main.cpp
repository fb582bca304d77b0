// kestrion: the command-line host of the Kestrion depth-of-field filter.
//
//   kestrion info     what the loaded module says about itself
//   kestrion demo     render the built-in scene and filter it
//   kestrion render   filter an OpenEXR render with a Z channel
//   kestrion inspect  what kestrion sees in an OpenEXR file
//
// Exit codes: 0 done, 1 failed, 2 wrong usage, 130 interrupted (Ctrl-C).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <new>
#include <string>

#include "app/commands.h"
#include "app/demo_scene.h"
#include "app/errors.h"
#include "app/inspect_command.h"
#include "kestrion/focus_config.h"

namespace {

using namespace kestrion;

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

constexpr const char* RENDER_FOOTER = R"(
OpenEXR input: channels R, G, B (linear), optional A, and Z holding the
distance in front of the camera (positive). Kestrion hands the filter
Z = -depth; a depth that is infinite, NaN or >= 1e30 marks a pixel without
geometry (always fully blurred). Optional UINT channels objectId (0..65535)
and materialId (0..255) serve --source object:ID and material:ID.
The focal plane is a node on the camera axis at --focus-depth, or at the
depth seen at --focus-pixel X,Y (0,0 is the top-left pixel). Range and size
default to the filter's own defaults.
Output: .png (16-bit sRGB) or .exr (the channels above; background depth
written as +infinity). The output is replaced only when the run succeeds.)";

template <typename T>
void AddOptional(CLI::App& command, const std::string& name, std::optional<T>& target,
                 const std::string& help) {
  command.add_option_function<T>(
      name, [&target](const T& value) { target = value; }, help);
}

void AddDemo(CLI::App& app, DemoOptions& options) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Render the built-in scene, filter it through the module and write a PNG");
  demo->add_option("-o,--output", options.output, "Output file (.png or .exr)")
      ->capture_default_str();
  AddOptional(*demo, "--focus", options.focus, "Focal object: " + ShapeChoices());
  AddOptional(
      *demo, "--range", options.range,
      Printed("Depth distance at which the blur reaches its full size (default %g)", DEMO_RANGE));
  AddOptional(*demo, "--size", options.size,
              Printed("Full blur radius in pixels (default %g at ", DEMO_SIZE_AT_WIDTH) +
                  std::to_string(DEMO_WIDTH) + " wide, scaled with the width)");
  demo->add_option("--source", options.source, "Pixels to blur: whole, material:ID or object:ID")
      ->capture_default_str();
  demo->add_option("--width", options.width, "Frame width")->capture_default_str();
  demo->add_option("--height", options.height, "Frame height")->capture_default_str();
  demo->add_option("--original", options.original,
                   "Also write the unfiltered frame here (.png, or .exr with Z and IDs)");
  demo->add_option("--module", options.module, MODULE_HELP);
  demo->add_flag("-q,--quiet", options.quiet, "Do not show progress");
}

void AddRender(CLI::App& app, RenderOptions& options) {
  CLI::App* render = app.add_subcommand("render", "Filter an OpenEXR render with a Z channel");
  render->add_option("INPUT", options.input, "OpenEXR file to filter")->required();
  render->add_option("-o,--output", options.output, "Output file (.png or .exr)")->required();
  AddOptional(*render, "--focus-depth", options.focusDepth, "Depth of the focal plane");
  AddOptional(*render, "--focus-pixel", options.focusPixel,
              "X,Y: focus on the depth seen at this pixel");
  AddOptional(*render, "--range", options.range,
              Printed("Depth distance at which the blur reaches its full size (default %g)",
                      DEFAULT_BLUR_RANGE));
  AddOptional(*render, "--size", options.size,
              Printed("Full blur radius in pixels (default %g)", DEFAULT_BLUR_SIZE));
  AddOptional(*render, "--source", options.source,
              "Pixels to blur: whole, material:ID or object:ID");
  render->add_option("--settings", options.settings,
                     "JSON file with focusDepth, focusPixel, range, size, source");
  render->add_option("--module", options.module, MODULE_HELP);
  render->add_flag("-q,--quiet", options.quiet, "Do not show progress");
  render->footer(RENDER_FOOTER);
}

void AddInspect(CLI::App& app, InspectOptions& options) {
  CLI::App* inspect =
      app.add_subcommand("inspect", "Show an OpenEXR file's parts, channels, roles, depth and IDs");
  inspect->add_option("FILE", options.input, "OpenEXR file")->required();
  AddOptional(*inspect, "--pixel", options.pixel,
              "X,Y: show every channel at this pixel (0,0 top left of the display window)");
  RoleOptions& roles = options.roles;
  AddOptional(*inspect, "--part", roles.part, "Part holding the colour (index or name)");
  AddOptional(*inspect, "--layer", roles.layer, "Colour layer (. for the root)");
  AddOptional(*inspect, "--depth-channel", roles.depthChannel, "Depth channel ([PART:]NAME)");
  AddOptional(*inspect, "--object-id-channel", roles.objectIdChannel,
              "Object ID channel ([PART:]NAME)");
  AddOptional(*inspect, "--material-id-channel", roles.materialIdChannel,
              "Material ID channel ([PART:]NAME)");
  inspect->add_option("--layers", roles.layers, "Further layers to filter, or all")->delimiter(',');
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kestrion: depth-of-field filtering with the Kestrion filter module", "kestrion"};
  app.require_subcommand(1);
  InfoOptions info;
  CLI::App* infoCommand = app.add_subcommand("info", "Show what the filter module reports");
  infoCommand->add_option("--module", info.module, MODULE_HELP);
  DemoOptions demo;
  AddDemo(app, demo);
  RenderOptions render;
  AddRender(app, render);
  InspectOptions inspect;
  AddInspect(app, inspect);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "kestrion: %s (see kestrion --help)\n", e.what());
    return EXIT_USAGE;
  }

  try {
    if (app.got_subcommand("info")) RunInfo(info, stdout);
    if (app.got_subcommand("demo")) RunDemo(demo, stdout);
    if (app.got_subcommand("render")) RunRender(render, stdout);
    if (app.got_subcommand("inspect")) RunInspect(inspect, stdout);
  } catch (const CommandError& e) {
    std::fprintf(stderr, "kestrion: %s\n", e.what());
    return e.ExitCode();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kestrion: not enough memory\n");
    return EXIT_FAILED;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrion: %s\n", e.what());
    return EXIT_FAILED;
  }
  return EXIT_OK;
}
