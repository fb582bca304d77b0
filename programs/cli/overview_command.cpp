#include "base/errors.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/overview_text.h"
#include "cli/render_options.h"

namespace kestrion {

void RunInspect(const InspectCommandOptions& options, std::FILE* out) {
  const AbortCheck abort(&StopRequested);
  InspectOptions overview = options.overview;
  overview.labels = CommandLineLabels();
  ReadDepthOptions(options.depth, overview.depth);
  // The overview shows every name escaped; printed as messages are, no
  // control character of any other line reaches the terminal either.
  const std::string text = OverviewText(InspectFile(overview, abort), overview);
  std::fputs(PrintableMessage(text, std::string::npos).c_str(), out);
}

}  // namespace kestrion
