// filter_calls.h: kestrion.filter and kestrion.Filter, numpy frames through
// the module in this process (the frame library's in-memory entry). The
// arguments are checked here, each error naming its argument, before the
// frame is filtered with the interpreter's lock released.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "base/errors.h"

namespace kestrion_python {

namespace py = pybind11;

// The keywords filter() and Filter.filter() share, as given.
struct CallArguments {
  py::object focusDepth = py::none();
  py::object focusPixel = py::none();
  py::object focusObject = py::none();
  py::object objectIds = py::none();
  py::object materialIds = py::none();
  py::object alpha = py::str("premultiplied");
  py::object threads = py::int_(0);
  py::object progress = py::none();
};

// Whether the library's error is about what the caller gave it.
bool IsArgumentError(const kestrion::Error& error);

// kestrion.filter(colour, depth, ...): a new array of colour's shape and
// type.
py::array Filter(const py::handle& colour, const py::handle& depth, const CallArguments& call,
                 const py::handle& range, const py::handle& size, const py::handle& source,
                 const py::handle& sourceId);

void DefineFilterCalls(py::module_& module);

}  // namespace kestrion_python
