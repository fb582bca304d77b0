// render_options.h: the settings of `kestrion render` from its options and a
// settings file. The options' texts are read in a fixed order, so that of
// two mistakes the same one is always reported: the output's name and the
// frame, the compression, the bit depth and focus map, alpha, the limits,
// the settings file, the focus, range, size and source, and the depth mode.
#pragma once

#include "cli/commands.h"
#include "frame/render_settings.h"

namespace kestrion {

// Throws a UsageError naming the option (or the settings file) at fault, a
// FileError for a settings file that cannot be read.
// The settings' labels as the command line names them: its flags.
SettingLabels CommandLineLabels();

RenderSettings ReadRenderSettings(const RenderOptions& options);
// The same for `kestrion studio`, which needs no output and no focus (its
// page sets one): the output's name is checked only when one is given.
RenderSettings ReadStudioSettings(const RenderOptions& options);

// The depth options' texts into `depth`; throws a UsageError naming the
// option.
void ReadDepthOptions(const DepthOptionTexts& texts, DepthSettings& depth);

}  // namespace kestrion
