// module_path.h: which filter module kestrion loads: --module when given,
// else $KESTRION_MODULE when set, else KESTRION.FLT beside the running
// executable.
#pragma once

#include <string>

namespace kestrion {

inline constexpr const char* MODULE_ENVIRONMENT = "KESTRION_MODULE";

// `commandLine` is the --module option's value, empty when not given.
std::string ResolveModulePath(const std::string& commandLine);

}  // namespace kestrion
