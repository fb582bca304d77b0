// keywords.h: a function's keyword arguments read by name, so that an
// unknown or missing one is named as Python itself names it ("filter() got
// an unexpected keyword argument 'rnage'").
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>

namespace kestrion_python {

namespace py = pybind11;

class Keywords {
 public:
  // Raises a TypeError for a keyword of `given` not among `known`.
  Keywords(std::string function, const py::kwargs& given, std::initializer_list<const char*> known);

  // The keyword's value, or `fallback` when it was not given.
  py::object Get(const char* name, py::object fallback = py::none()) const;
  // The keyword's value; a TypeError when it was not given.
  py::object Required(const char* name) const;

 private:
  std::string function;
  py::kwargs given;
};

// Whether `value` is a real number (not a bool), as numbers.Real says.
bool IsNumber(const py::handle& value);
// The name of `value`'s type, for messages.
std::string TypeName(const py::handle& value);

}  // namespace kestrion_python
