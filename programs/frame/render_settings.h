// render_settings.h: everything a render of one frame of files is told, in
// one type that the command line, a settings file (settings_file.h) and
// in-process callers all fill: what the frame is filtered with
// (FrameSettings, frame_settings.h), which channels of the input are what,
// the shot's other frames, and how the output is written. A setting is
// added to its type once, and then to the readers that take it from text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/frame_planes.h"
#include "frame/frame_settings.h"
#include "frame/render_input.h"
#include "frame/render_output.h"
#include "frame/settings_text.h"
#include "frame/shot_keys.h"

namespace kestrion {

// A frame of the shot a render belongs to, and its input file.
struct ShotFrame {
  int32_t frame = 0;
  std::string input;
};

// A render of files: the frame's settings, the shot's other frames, and
// how the input is read and the output written.
struct RenderSettings : FrameSettings {
  // The frames of the shot, to hold the focus of when the focus object is
  // missing; empty for a frame on its own, which then fails.
  std::vector<ShotFrame> shotFrames;
  // Reading: which channels are what, a separate depth file.
  InputOptions input;
  // Writing: compression, bit depth and the review look.
  OutputOptions output;
};

// The settings with a size in per cent turned into pixels of a frame
// `frameWidth` pixels wide; throws a UsageError naming settings.labels.size
// when a key gives less than the filter's smallest size or more than its
// largest.
FrameSettings SizeInPixels(FrameSettings settings, int32_t frameWidth);
RenderSettings SizeInPixels(RenderSettings settings, int32_t frameWidth);

}  // namespace kestrion
