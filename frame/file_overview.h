// file_overview.h: what `kestrion inspect FILE [--pixel X,Y]` shows, what kestrion
// sees in an OpenEXR file: its parts, windows, layers and channels, the
// roles it would filter with, the depth range, the IDs present, the values
// at one pixel, and the `kestrion render` command line it suggests.
#pragma once

#include <optional>
#include <string>

#include "base/abort_check.h"
#include "frame/channel_roles.h"
#include "frame/depth_modes.h"

namespace kestrion {

struct InspectOptions {
  std::string input;
  // "X,Y" from the display window's top-left pixel (0,0), as render's
  // --focus-pixel; unset: no pixel values.
  std::optional<std::string> pixel;
  // Explicit role choices, as for render; the roles found are shown either
  // way (requireDepth is ignored: a file without depth can be inspected).
  RoleOptions roles;
  // What the depth means and where it comes from, as for render: the
  // depth's range, its background and the suggested focus follow them.
  DepthSettings depth;
  std::string depthFile;  // empty: the file's own depth channel
};

// The overview as lines of text. Throws a CommandError when the file cannot
// be read or the pixel is not a pixel of the display window; a file whose
// roles cannot be found is inspected all the same and says why.
std::string FileOverview(const InspectOptions& options, const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
