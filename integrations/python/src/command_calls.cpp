#include "command_calls.h"

#include <algorithm>
#include <optional>

#include "cli/command_line.h"
#include "cli/render_options.h"
#include "formats/exr_document.h"
#include "frame/frame_render.h"
#include "keywords.h"
#include "module_file.h"
#include "python_errors.h"
#include "python_run.h"

namespace kestrion_python {

namespace {

using kestrion::CommandLine;
using kestrion::RenderOptionName;

// Render's options that a function call gives otherwise (the output is an
// argument, the report the result, progress a callable) or that belong to
// a shot, which render() does not run.
constexpr const char* NOT_KEYWORDS[] = {"output",        "help",       "report", "quiet",
                                        "focus-report",  "frames",     "chunk",  "jobs",
                                        "skip-existing", "report-file"};

std::string KeywordOf(const std::string& option) {
  std::string keyword = option;
  std::replace(keyword.begin(), keyword.end(), '-', '_');
  return keyword;
}

// The options render() takes, by keyword.
const std::vector<RenderOptionName>& RenderKeywords() {
  static const std::vector<RenderOptionName> keywords = [] {
    std::vector<RenderOptionName> names;
    for (RenderOptionName option : CommandLine::RenderOptionNames()) {
      const auto same = [&option](const char* other) { return option.name == other; };
      if (std::any_of(std::begin(NOT_KEYWORDS), std::end(NOT_KEYWORDS), same)) continue;
      option.name = KeywordOf(option.name);
      names.push_back(option);
    }
    return names;
  }();
  return keywords;
}

// A number as the strict reader takes it: Python's shortest form of a
// float, without the exponent's plus sign.
std::string NumberText(const py::handle& value) {
  if (py::isinstance<py::int_>(value) || PyIndex_Check(value.ptr())) {
    return py::str(py::int_(py::reinterpret_borrow<py::object>(value)));
  }
  std::string text = py::repr(py::float_(py::reinterpret_borrow<py::object>(value)));
  if (const size_t plus = text.find("e+"); plus != std::string::npos) text.erase(plus + 1, 1);
  return text;
}

bool IsPair(const py::handle& value) {
  return (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) &&
         py::len(value) == 2;
}

[[noreturn]] void WrongType(const std::string& keyword, const py::handle& value,
                            const std::string& wanted) {
  throw py::type_error(keyword + ": " + wanted + ", not " + TypeName(value));
}

std::string ValueText(const std::string& keyword, const py::handle& value);

// Keys as the command writes them: "F:V,F:V" (focus pixels "F:X,Y;F:X,Y"),
// from a dict {frame: value} or pairs [(frame, value), ...].
std::string KeysText(const std::string& keyword,
                     const std::vector<std::pair<py::handle, py::handle>>& keys) {
  const char* separator = keyword == "focus_pixel" ? ";" : ",";
  std::string text;
  for (const auto& [frame, value] : keys) {
    if (!IsNumber(frame)) WrongType(keyword, frame, "a key's frame is a whole number");
    if (!text.empty()) text += separator;
    text += NumberText(frame) + ":" + ValueText(keyword, value);
  }
  return text;
}

std::string ValueText(const std::string& keyword, const py::handle& value) {
  if (py::isinstance<py::str>(value)) return py::str(value);
  if (IsNumber(value)) return NumberText(value);
  if (py::hasattr(value, "__fspath__")) {
    return py::str(py::module_::import("os").attr("fspath")(value));
  }
  if (py::isinstance<py::dict>(value)) {
    std::vector<std::pair<py::handle, py::handle>> keys;
    for (const auto& [frame, key] : py::reinterpret_borrow<py::dict>(value))
      keys.emplace_back(frame, key);
    return KeysText(keyword, keys);
  }
  if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    const bool pairs =
        py::len(items) > 0 && std::all_of(items.begin(), items.end(),
                                          [](const py::handle& item) { return IsPair(item); });
    if (pairs) {
      std::vector<std::pair<py::handle, py::handle>> keys;
      for (const py::handle item : items) keys.emplace_back(item[py::int_(0)], item[py::int_(1)]);
      return KeysText(keyword, keys);
    }
    std::string text;
    for (const py::handle item : items) {
      if (!py::isinstance<py::str>(item) && !IsNumber(item)) {
        WrongType(keyword, item, "a list of numbers or names");
      }
      text += (text.empty() ? "" : ",") + ValueText(keyword, item);
    }
    return text;
  }
  WrongType(keyword, value, "a number, a string, a list or a dict of keys");
}

std::string PathText(const py::object& path, const char* argument) {
  if (!py::isinstance<py::str>(path) && !py::hasattr(path, "__fspath__")) {
    WrongType(argument, path, "a path");
  }
  const py::object text = py::module_::import("os").attr("fspath")(path);
  if (!py::isinstance<py::str>(text)) WrongType(argument, text, "a path as text");
  return py::str(text);
}

// OpenEXR's threads are the process's: sized by the first render, as a
// program sizes them once.
void SizeExrThreads(unsigned threads) {
  static bool sized = false;
  if (sized) return;
  kestrion::SetExrThreadCount(threads);
  sized = true;
}

py::dict ReportOf(const kestrion::FrameReport& report) {
  return py::module_::import("json").attr("loads")(report.Json());
}

// The failure as its exception, the frame's report on it as `report`.
[[noreturn]] void RaiseFailure(const kestrion::Error& error, const kestrion::FrameReport& report) {
  SetPythonError(error);
  PyObject *type, *value, *trace;
  PyErr_Fetch(&type, &value, &trace);
  PyErr_NormalizeException(&type, &value, &trace);
  const py::dict data = ReportOf(report);
  PyObject_SetAttrString(value, "report", data.ptr());
  PyErr_Restore(type, value, trace);
  throw py::error_already_set();
}

}  // namespace

std::vector<std::string> RenderWords(const std::string& input, const std::string& output,
                                     const py::kwargs& options) {
  std::vector<std::string> words{"--output=" + output};
  for (const auto& [key, value] : options) {
    const std::string keyword = py::str(key);
    const auto named =
        std::find_if(RenderKeywords().begin(), RenderKeywords().end(),
                     [&keyword](const RenderOptionName& option) { return option.name == keyword; });
    if (named == RenderKeywords().end()) {
      throw py::type_error("render() got an unexpected keyword argument '" + keyword + "'");
    }
    if (value.is_none()) continue;
    std::string option = "--" + keyword;
    std::replace(option.begin(), option.end(), '_', '-');
    if (named->flag) {
      if (!py::isinstance<py::bool_>(value)) WrongType(keyword, value, "True or False");
      if (value.cast<bool>()) words.push_back(option);
      continue;
    }
    if (py::isinstance<py::bool_>(value)) WrongType(keyword, value, "a value");
    words.push_back(option + "=" + ValueText(keyword, value));
  }
  // INPUT last, after the end of the options, whatever it begins with.
  words.insert(words.end(), {"--", input});
  return words;
}

py::dict Render(const py::object& inputPath, const py::object& outputPath,
                const py::kwargs& options, const py::object& progress) {
  const std::string input = PathText(inputPath, "input");
  const std::string output = PathText(outputPath, "output");
  const std::vector<std::string> words = RenderWords(input, output, options);
  kestrion::RenderOptions read;
  kestrion::RenderSettings settings;
  try {
    read = CommandLine::ParseRenderWords(words);
    settings = kestrion::ReadRenderSettings(read);
  } catch (const kestrion::Error& e) {
    if (e.Kind() != kestrion::ErrorKind::Usage) throw;
    throw kestrion::UsageError(KeywordNames(e.what()));
  }
  // Messages name the settings by their keywords.
  settings.labels = kestrion::SettingLabels();
  SizeExrThreads(settings.threads);
  const FilterModule& module = LoadedModule();
  PythonRun run(progress);
  kestrion::FrameOutcome outcome;
  const kestrion::RenderCallbacks callbacks = run.Callbacks();
  run.Run([&] { outcome = kestrion::RenderFrameFiles(module, read.files, settings, callbacks); });
  if (outcome.error) {
    kestrion::Error error = *outcome.error;
    if (error.Kind() == kestrion::ErrorKind::Usage) {
      error = kestrion::UsageError(KeywordNames(error.what()));
    }
    RaiseFailure(error, outcome.report);
  }
  return ReportOf(outcome.report);
}

void DefineCommands(py::module_& module) {
  module.def(
      "render",
      [](const py::object& input, const py::object& output, const py::object& progress,
         const py::kwargs& options) { return Render(input, output, options, progress); },
      py::arg("input"), py::arg("output"), py::kw_only(), py::arg("progress") = py::none(),
      "Filters the file `input` into `output` as `kestrion render INPUT -o OUTPUT` does, with "
      "the command's options as keywords (dashes as underscores: focus_depth=12.5, "
      "layers=\"all\"). Returns the frame's report as a dict; raises kestrion.Error, naming the "
      "file, when the frame fails, and leaves `output` as it was.");
}

}  // namespace kestrion_python
