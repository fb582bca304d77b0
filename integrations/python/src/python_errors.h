// python_errors.h: how the library's failures reach Python. A wrong
// setting or argument is a ValueError (or a TypeError, raised where the
// argument is looked at); a file that cannot be read or written, a module
// that cannot be loaded and a filter that fails are kestrion.Error, a
// RuntimeError; want of memory is a MemoryError. Every message names the
// file, the part or the argument at fault.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "base/errors.h"

namespace kestrion_python {

namespace py = pybind11;

// kestrion.Error and kestrion.Warning, made once the module is.
void DefineErrors(py::module_& module);
py::handle ErrorClass();
py::handle WarningCategory();

// Raises `error` as the Python exception of its kind (the translator every
// function of the module has).
void SetPythonError(const kestrion::Error& error);

// "--focus-depth: ..." as Python's caller wrote it: "focus_depth: ...".
// Every "--name" of a message becomes "name" with underscores.
std::string KeywordNames(const std::string& message);

}  // namespace kestrion_python
