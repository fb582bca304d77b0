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

// "X,Y" with whole numbers; throws a UsageError naming `option`.
FocusPixel ParseFocusPixel(const std::string& text, const std::string& option);
// "median", "mean", "min" or "max"; throws a UsageError naming the option.
FocusStatistic ParseFocusStatistic(const std::string& text, const std::string& option);
const char* FocusStatisticName(FocusStatistic statistic);
// An object ID as the object ID channel holds it; throws a UsageError.
int32_t CheckFocusObject(int64_t id, const std::string& option);
// "ID" (a whole number) or a name: sets settings.focusObject or
// focusObjectName. Text that begins like a number is an ID (read strictly);
// "name:TEXT" is the name TEXT whatever it begins with. Throws a
// UsageError naming `option`.
void SetFocusObject(const std::string& text, const std::string& option, RenderSettings& settings);
// "hold" or "fail"; throws a UsageError naming `option`.
FocusMissing ParseFocusMissing(const std::string& text, const std::string& option);

// Size keys: every value in pixels ("4", "1:2,48:16") or every value in per
// cent of the frame's width ("2%", "1:1%,48:3%"), checked: pixels within
// what the filter offers, per cent above 0 and at most 100. Sets
// settings.size and sizeInPercent; throws a UsageError naming `option`.
void SetSize(const std::string& text, const std::string& option, RenderSettings& settings);
// Checks per-cent size keys; throws a UsageError naming `option`.
void CheckSizePercent(const FloatKeys& keys, const std::string& option);
// The settings with a size in per cent turned into pixels of a frame
// `frameWidth` pixels wide; throws a UsageError when a key gives less than
// the filter's smallest size or more than its largest.
RenderSettings SizeInPixels(RenderSettings settings, int32_t frameWidth);
// "premultiplied", "straight" or "ignore"; throws a UsageError naming --alpha.
AlphaMode ParseAlphaMode(const std::string& text);

// Checks every key's value with `check` (CheckBlurRange, CheckBlurSize);
// throws a UsageError naming `option` and, for keys, the frame.
void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option);

}  // namespace kestrion
