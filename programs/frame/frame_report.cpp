#include "frame/frame_report.h"

#include <nlohmann/json.hpp>

#include "base/errors.h"

namespace kestrion {

namespace {

template <typename T>
nlohmann::json OrNull(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::string Number(const std::optional<float>& value) {
  if (!value) return "unknown";
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(*value));
  return text;
}

}  // namespace

std::string FrameReport::Json() const {
  // Kept in the documented order (ordered_json), so that lines are easy to
  // read and compare.
  nlohmann::ordered_json line;
  // Names are shown escaped (errors.h), so that the line is UTF-8 text
  // whatever bytes they hold, and a program that prints a field prints no
  // control character.
  line["input"] = ShownName(input);
  line["output"] = ShownName(output);
  line["frame"] = frame;
  line["width"] = OrNull(width);
  line["height"] = OrNull(height);
  line["focusDepth"] = OrNull(focusDepth);
  line["range"] = OrNull(range);
  line["size"] = OrNull(size);
  line["source"] = OrNull(source);
  line["passes"] = OrNull(passes);
  line["layers"] = OrNull(layers);
  line["seconds"] = seconds;
  line["status"] = status;
  line["error"] = OrNull(error);
  // The shot runner's field, so that every line of a shot has the same keys.
  line["warning"] = nullptr;
  // Anything that still is not UTF-8 is replaced rather than fail.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FrameReport::FocusLine() const {
  return "frame " + std::to_string(frame) + ": focus depth " + Number(focusDepth) + ", range " +
         Number(range) + ", size " + Number(size);
}

bool ParseReportFormat(const std::optional<std::string>& text, const std::string& option) {
  if (!text) return false;
  if (*text == "json") return true;
  throw UsageError(option + ": " + QuotedValue(*text) + " is not a report format (use json)");
}

}  // namespace kestrion
