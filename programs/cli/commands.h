// commands.h: the kestrion commands and what their command lines give them
// (command_line.h fills these). Each throws an Error on failure (main
// prints it as one line and exits with its code); none writes a user's file
// unless it succeeds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "frame/file_overview.h"
#include "frame/frame_render.h"
#include "frame/render_settings.h"
#include "shot/shot_runner.h"

namespace kestrion {

// The demo's defaults: a frame of DEMO_WIDTH x DEMO_HEIGHT with blur size
// DEMO_SIZE_AT_WIDTH at that width (scaled with the width) and a range that
// leaves the focal object sharp and blurs its neighbours clearly.
constexpr int DEMO_WIDTH = 960;
constexpr int DEMO_HEIGHT = 540;
constexpr int DEMO_SIDE_MAX = 8192;
constexpr float DEMO_SIZE_AT_WIDTH = 12.0f;
constexpr float DEMO_RANGE = 12.0f;
inline constexpr const char* DEMO_OUTPUT = "kestrion-demo.png";

struct InfoOptions {
  std::string module;  // empty: the default module
};

struct DemoOptions {
  std::string output = DEMO_OUTPUT;
  std::optional<std::string> focus;  // unset: the middle shape
  std::optional<float> range;
  std::optional<float> size;
  std::string source = "whole";
  int width = DEMO_WIDTH;
  int height = DEMO_HEIGHT;
  std::string original;  // also write the unfiltered frame here
  std::string module;
  bool quiet = false;
};

// The depth options render and inspect share, as given; their texts are
// read once the command line is parsed (render_options.h). The depth
// settings' flags and plain values go straight into a DepthSettings.
struct DepthOptionTexts {
  std::optional<std::string> mode;  // distance | camera | inverse | normalised
  std::optional<float> near;        // normalised maps: the distances of 0 and 1
  std::optional<float> far;
};

struct RenderOptions {
  FrameFiles files;  // INPUT, -o and --focus-map
  // What the options give directly: the roles, the depth file, the depth
  // map's inversion, the background depth, the bit depth and the threads. The texts below are read
  // into it once the command line is parsed (render_options.h), after the files and the frame are
  // checked.
  RenderSettings settings;
  // The frame of the shot this render is (the filter evaluates its tracks
  // there, keys are sampled there); checked before it reaches settings.
  int64_t frame = 0;
  std::optional<std::string> focusObject;   // focus on this object ID's pixels, or a name's
  std::optional<std::string> focusMissing;  // hold | fail
  // The shot this frame belongs to: its input pattern and frame list.
  std::optional<std::string> shotInput;
  std::optional<std::string> shotFrames;
  // A number, or keys "F:V,F:V,..." (shot_keys.h).
  std::optional<std::string> focusDepth;
  std::optional<std::string> focusPixel;      // "X,Y" or "F:X,Y;F:X,Y;..."
  std::optional<std::string> focusStatistic;  // median | mean | min | max
  std::optional<std::string> range;
  std::optional<std::string> size;
  std::optional<std::string> source;
  DepthOptionTexts depth;
  std::optional<std::string> alpha;  // premultiplied | straight | ignore
  bool layered = false;              // --layered
  std::optional<std::string> compression;
  // Review images: a colour to flatten over, display clamp.
  std::optional<std::string> flatten;
  std::optional<std::string> display;
  // Review images through a colour configuration: its file, display, view
  // and look; exposure in stops and display gamma.
  std::optional<std::string> ocioConfig;
  std::optional<std::string> ocioDisplay;
  std::optional<std::string> ocioView;
  std::optional<std::string> ocioLook;
  std::optional<float> exposure;
  std::optional<float> gamma;
  std::optional<std::string> memoryLimit;  // bytes, or K/M/G/T; unset: the default share
  std::optional<std::string> maxSide;      // the largest frame side accepted
  std::string settingsFile;                // JSON shot file, overridden by the options
  std::string shotFile;                    // the same, by its other name
  std::optional<std::string> report;       // "json": one JSON line on stdout
  bool focusReport = false;                // a focus line per frame on stderr
  std::string module;
  bool quiet = false;
};

// `kestrion studio`: the render options, and the studio's own.
struct StudioOptions {
  RenderOptions render;               // INPUT, the output the hand-off names, the settings
  std::optional<std::string> frames;  // a shot's frames (default: all on disk)
  uint16_t port = 0;                  // 0: a free one
  bool open = false;
  std::string saveFile;  // where Save writes the settings file
};

// A studio as the command line gave it.
struct StudioRun {
  StudioOptions options;
  std::string program;  // argv[0], for the hand-off's command line
  bool frameGiven = false;
  // The words of the command line a render of the same frames repeats:
  // how the input is read and its depth taken, the output written.
  std::vector<std::string> forwarded;
};

struct InspectCommandOptions {
  InspectOptions overview;  // the file, the pixel, the roles and the depth file
  DepthOptionTexts depth;
};

void RunInfo(const InfoOptions& options, std::FILE* out);
void RunDemo(const DemoOptions& options, std::FILE* out);
void RunRender(const RenderOptions& options, std::FILE* out);
void RunInspect(const InspectCommandOptions& options, std::FILE* out);
// A shot: `run` as the command line gave it, with the stop signal and the
// job array's variables connected here. Returns the exit code.
int RunShotCommand(ShotRun run, std::FILE* out, std::FILE* err);
// The studio until Ctrl-C; returns the exit code.
int RunStudioCommand(const StudioRun& run, std::FILE* out, std::FILE* err);

}  // namespace kestrion
