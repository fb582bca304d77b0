// settings_text.h: the frame's settings (frame_settings.h) read from the
// text a user gives them in: the command line's options and a settings
// file's values. Every reader names what it reads by the label its caller
// passes (an option, a file's key) in the errors it throws, UsageErrors.
#pragma once

#include <cstdint>
#include <string>

#include "frame/frame_settings.h"
#include "frame/shot_keys.h"

namespace kestrion {

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
void SetFocusObject(const std::string& text, const std::string& option, FrameSettings& settings);
// "hold" or "fail"; throws a UsageError naming `option`.
FocusMissing ParseFocusMissing(const std::string& text, const std::string& option);

// Size keys: every value in pixels ("4", "1:2,48:16") or every value in per
// cent of the frame's width ("2%", "1:1%,48:3%"), checked: pixels within
// what the filter offers, per cent above 0 and at most 100. Sets
// settings.size and sizeInPercent; throws a UsageError naming `option`.
void SetSize(const std::string& text, const std::string& option, FrameSettings& settings);
// Checks per-cent size keys; throws a UsageError naming `option`.
void CheckSizePercent(const FloatKeys& keys, const std::string& option);
// "premultiplied", "straight" or "ignore"; throws a UsageError naming
// `option`.
AlphaMode ParseAlphaMode(const std::string& text, const std::string& option);

// Checks every key's value with `check` (CheckBlurRange, CheckBlurSize);
// throws a UsageError naming `option` and, for keys, the frame.
void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option);

}  // namespace kestrion
