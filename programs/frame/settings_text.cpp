#include "frame/settings_text.h"

#include <cstdio>

#include "base/errors.h"
#include "base/numbers.h"

namespace kestrion {

void CheckKeys(const FloatKeys& keys, void (*check)(float), const std::string& option) {
  for (const auto& [frame, value] : keys) {
    try {
      check(value);
    } catch (const Error& e) {
      throw UsageError(option + ": " + e.what() +
                       (keys.size() > 1 ? " (key at frame " + std::to_string(frame) + ")" : ""));
    }
  }
}

FocusPixel ParseFocusPixel(const std::string& text, const std::string& option) {
  if (text.find(':') != std::string::npos) {
    throw UsageError(option + ": " + QuotedValue(text) + " is not X,Y with whole numbers");
  }
  return ParsePixelKeys(text, option).begin()->second;
}

FocusStatistic ParseFocusStatistic(const std::string& text, const std::string& option) {
  if (text == "median") return FocusStatistic::Median;
  if (text == "mean") return FocusStatistic::Mean;
  if (text == "min") return FocusStatistic::Min;
  if (text == "max") return FocusStatistic::Max;
  throw UsageError(option + ": " + QuotedValue(text) + " is not one of median, mean, min, max");
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

void SetFocusObject(const std::string& text, const std::string& option, FrameSettings& settings) {
  constexpr std::string_view NAME_PREFIX = "name:";
  settings.focusObject.reset();
  settings.focusObjectName.reset();
  if (text.rfind(NAME_PREFIX, 0) == 0) {
    settings.focusObjectName = text.substr(NAME_PREFIX.size());
  } else if (text.empty() ||
             std::string_view("0123456789+-. \t").find(text[0]) != std::string_view::npos) {
    settings.focusObject = CheckFocusObject(IntegerOption<int64_t>(text, option), option);
  } else {
    settings.focusObjectName = text;
  }
  if (settings.focusObjectName && settings.focusObjectName->empty()) {
    throw UsageError(option + ": give an object ID or an object's name");
  }
}

FocusMissing ParseFocusMissing(const std::string& text, const std::string& option) {
  if (text == "hold") return FocusMissing::Hold;
  if (text == "fail") return FocusMissing::Fail;
  throw UsageError(option + ": " + QuotedValue(text) + " is not one of hold, fail");
}

void CheckSizePercent(const FloatKeys& keys, const std::string& option) {
  for (const auto& [frame, value] : keys) {
    if (!(value > 0.0f && value <= 100.0f)) {
      char text[64];
      std::snprintf(text, sizeof text, "%g%%", static_cast<double>(value));
      throw UsageError(option + ": " + text + " is not a share of the frame's width (give more " +
                       "than 0% and at most 100%)" +
                       (keys.size() > 1 ? " (key at frame " + std::to_string(frame) + ")" : ""));
    }
  }
}

void SetSize(const std::string& text, const std::string& option, FrameSettings& settings) {
  // Every key's value ends with % or none does.
  std::string plain;
  size_t percent = 0;
  size_t values = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ',') ++values;
    if (text[i] == '%' && (i + 1 == text.size() || text[i + 1] == ',')) {
      ++percent;
      continue;
    }
    plain += text[i];
  }
  if (percent != 0 && percent != values) {
    throw UsageError(option + ": " + QuotedValue(text) +
                     " mixes pixels and per cent; give every key in one of them");
  }
  settings.size = ParseFloatKeys(plain, option);
  settings.sizeInPercent = percent > 0;
  if (settings.sizeInPercent) {
    CheckSizePercent(*settings.size, option);
  } else {
    CheckKeys(*settings.size, CheckBlurSize, option);
  }
}

AlphaMode ParseAlphaMode(const std::string& text, const std::string& option) {
  if (text == "premultiplied") return AlphaMode::Premultiplied;
  if (text == "straight") return AlphaMode::Straight;
  if (text == "ignore") return AlphaMode::Ignore;
  throw UsageError(option + ": " + QuotedValue(text) +
                   " is not one of premultiplied, straight, ignore");
}

}  // namespace kestrion
