#include "cli/module_path.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "frame/filter_session.h"

namespace kestrion {

std::string ResolveModulePath(const std::string& commandLine) {
  if (!commandLine.empty()) return commandLine;
  if (const char* environment = std::getenv(MODULE_ENVIRONMENT); environment && *environment) {
    return environment;
  }
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return MODULE_FILE_NAME;
  return (self.parent_path() / MODULE_FILE_NAME).string();
}

}  // namespace kestrion
