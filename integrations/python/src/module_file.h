// module_file.h: the filter module the Python module loads, found as
// kestrion finds it: $KESTRION_MODULE when set, else KESTRION.FLT beside
// the kestrion of the same build (<build>/bin for the build tree's
// extension, <prefix>/bin for an installed one, reached from the
// extension's own file).
#pragma once

#include <string>

#include "host/filter_pipeline.h"

namespace kestrion_python {

std::string ModulePath();

// The module, loaded on first use and kept loaded for the rest of the
// process, as an extension module stays loaded. Called with the
// interpreter's lock held. Throws the library's error naming the file
// when it cannot be loaded.
const FilterModule& LoadedModule();

}  // namespace kestrion_python
