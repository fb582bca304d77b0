#include "cli/commands.h"
#include "cli/console.h"

namespace kestrion {

void RunInspect(const InspectOptions& options, std::FILE* out) {
  const AbortCheck abort(&StopRequested);
  std::fputs(FileOverview(options, abort).c_str(), out);
}

}  // namespace kestrion
