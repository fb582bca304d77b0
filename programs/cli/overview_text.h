// overview_text.h: what `kestrion inspect FILE [--pixel X,Y]` prints: the
// file's overview (frame/file_overview.h) as lines of text, names escaped,
// with the `kestrion render` command line it suggests.
#pragma once

#include <string>

#include "frame/file_overview.h"

namespace kestrion {

std::string OverviewText(const FileOverview& overview, const InspectOptions& options);

}  // namespace kestrion
