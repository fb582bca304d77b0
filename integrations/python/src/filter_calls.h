// filter_calls.h: kestrion.filter and kestrion.Filter, numpy frames through
// the module in this process (the frame library's in-memory entry). The
// arguments are checked here, each error naming its argument, before the
// frame is filtered with the interpreter's lock released.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "base/errors.h"
#include "filter_arguments.h"

namespace kestrion_python {

namespace py = pybind11;

// Whether the library's error is about what the caller gave it.
bool IsArgumentError(const kestrion::Error& error);

// kestrion.filter(colour, depth, ...): a new array of colour's shape and
// type.
py::array Filter(const py::handle& colour, const py::handle& depth, const CallArguments& call,
                 const py::handle& range, const py::handle& size, const py::handle& source,
                 const py::handle& sourceId);

void DefineFilterCalls(py::module_& module);

}  // namespace kestrion_python
