// command_calls.h: kestrion's commands as Python functions. render() hands
// its keywords to the command's own option reading as the words of a
// command line ("focus_depth=12.5" is "--focus-depth=12.5"), so that it
// writes the same bytes and reports the same frame as `kestrion render`;
// inspect() gives what `kestrion inspect` shows, as data.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace kestrion_python {

namespace py = pybind11;

// The words of a command line for `input` and `output` and the keywords.
// Throws a TypeError for an unknown keyword or a value of a kind the
// option cannot take.
std::vector<std::string> RenderWords(const std::string& input, const std::string& output,
                                     const py::kwargs& options);

// kestrion.render(input, output, **options) -> dict, the frame's report.
py::dict Render(const py::object& input, const py::object& output, const py::kwargs& options,
                const py::object& progress);

void DefineCommands(py::module_& module);
void DefineInspect(py::module_& module);

}  // namespace kestrion_python
