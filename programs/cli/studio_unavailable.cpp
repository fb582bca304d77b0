// studio_unavailable.cpp: `kestrion studio` in a build without the studio
// (KESTRION_BUILD_STUDIO=OFF).
#include "base/errors.h"
#include "cli/commands.h"

namespace kestrion {

int RunStudioCommand(const StudioRun&, std::FILE*, std::FILE*) {
  throw UsageError("this kestrion was built without the studio (KESTRION_BUILD_STUDIO=OFF)");
}

}  // namespace kestrion
