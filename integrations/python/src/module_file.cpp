#include "module_file.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/module_path.h"
#include "frame/filter_session.h"

namespace kestrion_python {

namespace {

namespace fs = std::filesystem;

// The folder of this extension's file.
fs::path ExtensionFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname) return {};
  std::error_code error;
  const fs::path file = fs::canonical(info.dli_fname, error);
  return error ? fs::path() : file.parent_path();
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return !a.empty() && fs::equivalent(a, b, error);
}

}  // namespace

std::string ModulePath() {
  if (const char* environment = std::getenv(kestrion::MODULE_ENVIRONMENT);
      environment && *environment) {
    return environment;
  }
  const fs::path folder = ExtensionFolder();
  if (SameFolder(folder, KESTRION_PYTHON_BUILD_DIR)) return KESTRION_BUILD_MODULE;
  if (folder.empty()) return kestrion::MODULE_FILE_NAME;
  return (folder / KESTRION_INSTALLED_MODULE).lexically_normal().string();
}

const FilterModule& LoadedModule() {
  // Never unloaded: filters of it may live until the interpreter ends.
  static FilterModule* const module = kestrion::LoadFilterModule(ModulePath()).release();
  return *module;
}

}  // namespace kestrion_python
