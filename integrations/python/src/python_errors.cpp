#include "python_errors.h"

#include <cctype>

namespace kestrion_python {

namespace {

// Owned by the module's namespace as well, and never released: the
// interpreter may be gone by the time static objects are destroyed.
PyObject* errorClass = nullptr;
PyObject* warningCategory = nullptr;

}  // namespace

void DefineErrors(py::module_& module) {
  errorClass = PyErr_NewExceptionWithDoc(
      "kestrion.Error",
      "A frame that could not be filtered: a missing or damaged input, an output that cannot "
      "be written, a module that cannot be loaded, a filter that failed.",
      PyExc_RuntimeError, nullptr);
  if (!errorClass) throw py::error_already_set();
  warningCategory = PyErr_NewExceptionWithDoc(
      "kestrion.Warning", "Something about a frame worth knowing that did not stop it.",
      PyExc_UserWarning, nullptr);
  if (!warningCategory) throw py::error_already_set();
  module.attr("Error") = py::handle(errorClass);
  module.attr("Warning") = py::handle(warningCategory);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const kestrion::Error& error) {
      SetPythonError(error);
    }
  });
}

py::handle ErrorClass() { return errorClass; }
py::handle WarningCategory() { return warningCategory; }

void SetPythonError(const kestrion::Error& error) {
  const std::string message = kestrion::PrintableMessage(error.what());
  switch (error.Kind()) {
    case kestrion::ErrorKind::Usage:
      PyErr_SetString(PyExc_ValueError, message.c_str());
      return;
    case kestrion::ErrorKind::OutOfMemory:
      PyErr_SetString(PyExc_MemoryError, message.c_str());
      return;
    default:
      PyErr_SetString(errorClass, message.c_str());
      return;
  }
}

std::string KeywordNames(const std::string& message) {
  std::string named;
  for (size_t i = 0; i < message.size(); ++i) {
    const bool starts = message.compare(i, 2, "--") == 0 && i + 2 < message.size() &&
                        std::islower(static_cast<unsigned char>(message[i + 2])) &&
                        (i == 0 || !std::isalnum(static_cast<unsigned char>(message[i - 1])));
    if (!starts) {
      named += message[i];
      continue;
    }
    i += 2;
    for (; i < message.size(); ++i) {
      const char c = message[i];
      if (c == '-') {
        named += '_';
      } else if (std::islower(static_cast<unsigned char>(c)) ||
                 std::isdigit(static_cast<unsigned char>(c))) {
        named += c;
      } else {
        break;
      }
    }
    --i;
  }
  return named;
}

}  // namespace kestrion_python
