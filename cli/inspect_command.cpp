#include "cli/commands.h"
#include "cli/console.h"
#include "cli/render_options.h"

namespace kestrion {

void RunInspect(const InspectCommandOptions& options, std::FILE* out) {
  const AbortCheck abort(&StopRequested);
  InspectOptions overview = options.overview;
  ReadDepthOptions(options.depth, overview.depth);
  std::fputs(FileOverview(overview, abort).c_str(), out);
}

}  // namespace kestrion
