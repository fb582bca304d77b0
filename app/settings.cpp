#include "app/settings.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/errors.h"

namespace kestrion {

namespace {

using nlohmann::json;

float Number(const json& value, const char* field) {
  if (!value.is_number()) throw std::invalid_argument(std::string(field) + " must be a number");
  return value.get<float>();
}

int WholeNumber(const json& value, const char* field) {
  constexpr int64_t LIMIT = std::numeric_limits<int>::max();
  bool fits = false;
  if (value.is_number_unsigned()) {
    fits = value.get<uint64_t>() <= static_cast<uint64_t>(LIMIT);
  } else if (value.is_number_integer()) {
    const int64_t n = value.get<int64_t>();
    fits = n >= -LIMIT && n <= LIMIT;
  }
  if (!fits) throw std::invalid_argument(std::string(field) + " must hold whole numbers");
  return static_cast<int>(value.get<int64_t>());
}

RenderSettings FromJson(const json& document) {
  if (!document.is_object()) throw std::invalid_argument("the settings must be a JSON object");
  RenderSettings settings;
  for (const auto& [key, value] : document.items()) {
    if (key == "focusDepth") {
      settings.focusDepth = Number(value, "focusDepth");
    } else if (key == "focusPixel") {
      if (!value.is_array() || value.size() != 2) {
        throw std::invalid_argument("focusPixel must be [x, y]");
      }
      settings.focusPixel =
          FocusPixel{WholeNumber(value[0], "focusPixel"), WholeNumber(value[1], "focusPixel")};
    } else if (key == "range") {
      settings.range = Number(value, "range");
    } else if (key == "size") {
      settings.size = Number(value, "size");
    } else if (key == "source") {
      if (!value.is_string()) throw std::invalid_argument("source must be a string");
      settings.source = ParseSource(value.get<std::string>());
    } else {
      throw std::invalid_argument("unknown field \"" + key + "\"");
    }
  }
  if (settings.focusDepth && settings.focusPixel) {
    throw std::invalid_argument("give focusDepth or focusPixel, not both");
  }
  return settings;
}

}  // namespace

RenderSettings ParseSettings(const std::string& text, const std::string& name) {
  try {
    return FromJson(json::parse(text));
  } catch (const json::parse_error&) {
    throw UsageError(name + ": not valid JSON");
  } catch (const CommandError& e) {
    throw UsageError(name + ": " + e.what());
  } catch (const std::exception& e) {
    throw UsageError(name + ": " + e.what());
  }
}

RenderSettings ReadSettingsFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw FileError(path, std::string("cannot open (") + std::strerror(errno) + ")");
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw FileError(path, "cannot read");
  return ParseSettings(text.str(), path);
}

FocusPixel ParseFocusPixel(const std::string& text) {
  FocusPixel pixel;
  const char* last = text.data() + text.size();
  const auto x = std::from_chars(text.data(), last, pixel.x);
  if (x.ec == std::errc() && x.ptr != last && *x.ptr == ',') {
    const auto y = std::from_chars(x.ptr + 1, last, pixel.y);
    if (y.ec == std::errc() && y.ptr == last && y.ptr != x.ptr + 1) return pixel;
  }
  throw UsageError("focus pixel \"" + text + "\": use X,Y with whole numbers");
}

RenderSettings Merge(RenderSettings base, const RenderSettings& overrides) {
  if (overrides.focusDepth || overrides.focusPixel) {
    base.focusDepth = overrides.focusDepth;
    base.focusPixel = overrides.focusPixel;
  }
  if (overrides.range) base.range = overrides.range;
  if (overrides.size) base.size = overrides.size;
  if (overrides.source) base.source = overrides.source;
  return base;
}

}  // namespace kestrion
