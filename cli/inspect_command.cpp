#include "base/errors.h"
#include "cli/commands.h"
#include "cli/console.h"

namespace kestrion {

void RunInspect(const InspectOptions& options, std::FILE* out) {
  const AbortCheck abort(&StopRequested);
  // The overview shows every name escaped; printed as messages are, no
  // control character of any other line reaches the terminal either.
  std::fputs(PrintableMessage(FileOverview(options, abort), std::string::npos).c_str(), out);
}

}  // namespace kestrion
