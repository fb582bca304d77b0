#include "keywords.h"

#include <algorithm>
#include <cstring>

namespace kestrion_python {

Keywords::Keywords(std::string name, const py::kwargs& arguments,
                   std::initializer_list<const char*> known)
    : function(std::move(name)), given(arguments) {
  for (const auto& item : given) {
    const std::string keyword = py::str(item.first);
    const bool found = std::any_of(known.begin(), known.end(),
                                   [&keyword](const char* other) { return keyword == other; });
    if (!found) {
      throw py::type_error(function + "() got an unexpected keyword argument '" + keyword + "'");
    }
  }
}

py::object Keywords::Get(const char* name, py::object fallback) const {
  if (given.contains(name)) return given[name];
  return fallback;
}

py::object Keywords::Required(const char* name) const {
  if (!given.contains(name)) {
    throw py::type_error(function + "() missing required keyword argument: '" + name + "'");
  }
  return given[name];
}

bool IsNumber(const py::handle& value) {
  if (py::isinstance<py::bool_>(value)) return false;
  return py::isinstance(value, py::module_::import("numbers").attr("Real"));
}

std::string TypeName(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__"));
}

}  // namespace kestrion_python
