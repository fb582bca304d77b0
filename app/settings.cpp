#include "app/settings.h"

#include <cerrno>
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

float Number(const json& value, const std::string& field) {
  if (!value.is_number()) throw std::invalid_argument(field + " must be a number");
  const double number = value.get<double>();
  if (!std::isfinite(static_cast<float>(number))) {
    throw std::invalid_argument(field + " must be a finite number");
  }
  return static_cast<float>(number);
}

int64_t WholeNumber(const json& value, const std::string& field) {
  constexpr int64_t LIMIT = std::numeric_limits<int>::max();
  bool fits = false;
  if (value.is_number_unsigned()) {
    fits = value.get<uint64_t>() <= static_cast<uint64_t>(LIMIT);
  } else if (value.is_number_integer()) {
    const int64_t n = value.get<int64_t>();
    fits = n >= -LIMIT && n <= LIMIT;
  }
  if (!fits) throw std::invalid_argument(field + " must hold whole numbers");
  return value.get<int64_t>();
}

// The frame of the next key of `field`: whole, in range and after the
// frames of the keys before it.
template <typename Value>
int32_t KeyFrame(const json& frame, const std::string& field,
                 const std::map<int32_t, Value>& before) {
  const int64_t n = WholeNumber(frame, field + " key frames");
  CheckFrame(n, field);
  if (!before.empty() && n <= before.rbegin()->first) {
    throw std::invalid_argument(
        field + ": key at frame " + std::to_string(n) + " follows the key at frame " +
        std::to_string(before.rbegin()->first) + "; give keys in increasing frame order");
  }
  return static_cast<int32_t>(n);
}

// A number, or keys [[frame, value], ...].
FloatKeys FloatKeysOf(const json& value, const std::string& field) {
  FloatKeys keys;
  if (!value.is_array()) {
    keys.emplace(0, Number(value, field));
    return keys;
  }
  if (value.empty()) throw std::invalid_argument(field + " has no keys");
  for (const json& key : value) {
    if (!key.is_array() || key.size() != 2) {
      throw std::invalid_argument(field + " keys must be [frame, value]");
    }
    const int32_t frame = KeyFrame(key[0], field, keys);
    keys.emplace(frame, Number(key[1], field));
  }
  return keys;
}

// [x, y], or keys [[frame, x, y], ...].
PixelKeys PixelKeysOf(const json& value, const std::string& field) {
  PixelKeys keys;
  if (!value.is_array() || value.empty()) {
    throw std::invalid_argument(field + " must be [x, y] or [[frame, x, y], ...]");
  }
  if (!value[0].is_array()) {
    if (value.size() != 2) throw std::invalid_argument(field + " must be [x, y]");
    keys.emplace(0, FocusPixel{static_cast<int>(WholeNumber(value[0], field)),
                               static_cast<int>(WholeNumber(value[1], field))});
    return keys;
  }
  for (const json& key : value) {
    if (!key.is_array() || key.size() != 3) {
      throw std::invalid_argument(field + " keys must be [frame, x, y]");
    }
    const int32_t frame = KeyFrame(key[0], field, keys);
    keys.emplace(frame, FocusPixel{static_cast<int>(WholeNumber(key[1], field)),
                                   static_cast<int>(WholeNumber(key[2], field))});
  }
  return keys;
}

RenderSettings FromJson(const json& document) {
  if (!document.is_object()) throw std::invalid_argument("the settings must be a JSON object");
  RenderSettings settings;
  for (const auto& [key, value] : document.items()) {
    if (key == "focusDepth") {
      settings.focusDepth = FloatKeysOf(value, key);
    } else if (key == "focusPixel") {
      settings.focusPixel = PixelKeysOf(value, key);
    } else if (key == "focusObject") {
      settings.focusObject = CheckFocusObject(WholeNumber(value, key), key);
    } else if (key == "focusStatistic") {
      if (!value.is_string()) throw std::invalid_argument("focusStatistic must be a string");
      settings.focusStatistic = ParseFocusStatistic(value.get<std::string>(), key);
    } else if (key == "range") {
      settings.range = FloatKeysOf(value, key);
      CheckKeys(*settings.range, CheckBlurRange, key);
    } else if (key == "size") {
      settings.size = FloatKeysOf(value, key);
      CheckKeys(*settings.size, CheckBlurSize, key);
    } else if (key == "source") {
      if (!value.is_string()) throw std::invalid_argument("source must be a string");
      settings.source = ParseSource(value.get<std::string>());
    } else {
      throw std::invalid_argument("unknown field \"" + key + "\"");
    }
  }
  if (settings.FocusCount() > 1) {
    throw std::invalid_argument("give one of focusDepth, focusPixel and focusObject");
  }
  return settings;
}

}  // namespace

void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option) {
  for (const auto& [frame, value] : keys) {
    try {
      check(value);
    } catch (const CommandError& e) {
      throw UsageError(option + ": " + e.what() +
                       (keys.size() > 1 ? " (key at frame " + std::to_string(frame) + ")" : ""));
    }
  }
}

RenderSettings ParseSettings(const std::string& text, const std::string& name) {
  try {
    return FromJson(json::parse(text));
  } catch (const json::parse_error&) {
    throw UsageError(name + ": not valid JSON");
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
  const PixelKeys keys = ParsePixelKeys(text, "focus pixel");
  if (keys.size() != 1 || keys.begin()->first != 0 || text.find(':') != std::string::npos) {
    throw UsageError("focus pixel \"" + text + "\": use X,Y with whole numbers");
  }
  return keys.begin()->second;
}

FocusStatistic ParseFocusStatistic(const std::string& text, const std::string& option) {
  if (text == "median") return FocusStatistic::Median;
  if (text == "mean") return FocusStatistic::Mean;
  if (text == "min") return FocusStatistic::Min;
  if (text == "max") return FocusStatistic::Max;
  throw UsageError(option + ": '" + text.substr(0, 80) + "' is not one of median, mean, min, max");
}

const char* FocusStatisticName(FocusStatistic statistic) {
  switch (statistic) {
    case FocusStatistic::Mean:
      return "mean";
    case FocusStatistic::Min:
      return "min";
    case FocusStatistic::Max:
      return "max";
    default:
      return "median";
  }
}

int32_t CheckFocusObject(int64_t id, const std::string& option) {
  if (id < 0 || id > OBJECT_ID_MAX) {
    throw UsageError(option + ": object ID " + std::to_string(id) + " is outside 0 to " +
                     std::to_string(OBJECT_ID_MAX));
  }
  return static_cast<int32_t>(id);
}

RenderSettings Merge(RenderSettings base, const RenderSettings& overrides) {
  if (overrides.FocusCount() > 0) {
    base.focusDepth = overrides.focusDepth;
    base.focusPixel = overrides.focusPixel;
    base.focusObject = overrides.focusObject;
  }
  if (overrides.focusStatistic) base.focusStatistic = overrides.focusStatistic;
  if (overrides.range) base.range = overrides.range;
  if (overrides.size) base.size = overrides.size;
  if (overrides.source) base.source = overrides.source;
  return base;
}

}  // namespace kestrion
