// The Python module `kestrion`: the depth-of-field filter module on numpy
// frames in the interpreter's process, and the kestrion commands render
// and inspect as functions.
#include <pybind11/pybind11.h>

#include "command_calls.h"
#include "filter_calls.h"
#include "kestrion/version.h"
#include "module_file.h"
#include "python_errors.h"

namespace py = pybind11;

PYBIND11_MODULE(kestrion, module) {
  module.doc() =
      "Depth-of-field filtering with the Kestrion filter module: numpy frames filtered in "
      "this process (filter, Filter), and the kestrion commands render and inspect.";
  module.attr("__version__") = KESTRION_VERSION_TEXT;
  kestrion_python::DefineErrors(module);
  kestrion_python::DefineCommands(module);
  kestrion_python::DefineFilterCalls(module);
  kestrion_python::DefineInspect(module);
  module.def("module_path", &kestrion_python::ModulePath,
             "The filter module file kestrion loads: $KESTRION_MODULE when set, else the "
             "KESTRION.FLT of this build or install.");
}
