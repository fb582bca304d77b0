// hand_off.h: what the studio hands on to `kestrion render`: the settings
// file that `--shot` reads, and the command line that renders what the
// preview shows.
//
// The settings are the focus (keyed depths, keyed pixels or an object, with
// its statistic), Range and Size (one value, or the keys of the filter's
// tracks by frame), the source, whether it is filtered in depth layers and
// the view review images are shown through. Every number is written so
// that it reads back as the very float the studio rendered with: the
// command line in the shortest decimal that float has, the settings file as
// a JSON number that converts back to it.
#pragma once

#include <string>
#include <vector>

#include "frame/render_settings.h"

namespace studio {

// The settings file's text, as settings_file.h reads it: one JSON object.
std::string SettingsFileText(const kestrion::RenderSettings& settings);

// The words that give the same settings on a command line: --focus-depth
// (or --focus-pixel, or --focus-object with --focus-statistic when one is
// set), --range, --size, --source unless it is the whole image, and
// --layered when set.
std::vector<std::string> SettingsWords(const kestrion::RenderSettings& settings);

// The words that show review images under `look` on a command line:
// --ocio-config, --ocio-display, --ocio-view and --ocio-look when it is
// through a configuration, --exposure and --gamma unless they are 0 and 1.
std::vector<std::string> ViewWords(const kestrion::ReviewLook& look);

// A float in its shortest decimal form that reads back as the same float.
std::string FloatText(float value);

// `words` as one line a POSIX shell reads back into the same words.
std::string ShellLine(const std::vector<std::string>& words);

}  // namespace studio
