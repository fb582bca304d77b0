// commands.h: the kestrion commands. Each throws a CommandError on
// failure (main prints it as one line and exits with its code); none
// writes a user's file unless it succeeds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/channel_roles.h"

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
// The node `render` places on the camera axis at the focal depth.
inline constexpr const char* RENDER_FOCUS_NODE = "Focus";

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

struct RenderOptions {
  std::string input;
  std::string output;
  // The frame of the shot this render is (the filter evaluates its tracks
  // there, keys are sampled there).
  int64_t frame = 0;
  // A number, or keys "F:V,F:V,..." (shot_keys.h).
  std::optional<std::string> focusDepth;
  std::optional<std::string> focusPixel;      // "X,Y" or "F:X,Y;F:X,Y;..."
  std::optional<int64_t> focusObject;         // focus on this object ID's pixels
  std::optional<std::string> focusStatistic;  // median | mean | min | max
  std::optional<std::string> range;
  std::optional<std::string> size;
  std::optional<std::string> source;
  std::string settings;               // JSON shot file, overridden by the options
  std::string shot;                   // the same, by its other name
  std::optional<std::string> report;  // "json": one JSON line on stdout
  bool focusReport = false;           // a focus line per frame on stderr
  std::string focusMap;               // also write the focus map (PNG) here
  std::string module;
  bool quiet = false;
  // Which channels of an OpenEXR input are colour, alpha, depth and IDs.
  RoleOptions roles;
  std::string depthFile;                 // depth from this file (OpenEXR, or a grey PNG)
  std::optional<std::string> depthMode;  // distance | camera | inverse | normalised
  std::optional<float> depthNear;
  std::optional<float> depthFar;
  bool depthInvert = false;
  std::optional<float> backgroundDepth;
  std::optional<std::string> alpha;  // premultiplied | straight | ignore
  std::optional<std::string> compression;
  int32_t bitDepth = 16;
  unsigned threads = 0;                    // OpenEXR's threads; 0: one per hardware thread
  std::optional<std::string> memoryLimit;  // bytes, or K/M/G/T; unset: the default share
  std::optional<std::string> maxSide;      // the largest frame side accepted
};

void RunInfo(const InfoOptions& options, std::FILE* out);
void RunDemo(const DemoOptions& options, std::FILE* out);
void RunRender(const RenderOptions& options, std::FILE* out);

}  // namespace kestrion
