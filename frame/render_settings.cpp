#include "frame/render_settings.h"

#include "base/errors.h"

namespace kestrion {

DepthOptions RenderSettings::DepthOptionsFor(bool normalisedMap) const {
  DepthOptions depth;
  if (depthMode) {
    depth.mode = *depthMode;
  } else if (normalisedMap) {
    depth.mode = DepthMode::Normalised;
  }
  depth.near = depthNear;
  depth.far = depthFar;
  depth.invert = depthInvert;
  depth.backgroundDepth = backgroundDepth;
  return depth;
}

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

AlphaMode ParseAlphaMode(const std::string& text) {
  if (text == "premultiplied") return AlphaMode::Premultiplied;
  if (text == "straight") return AlphaMode::Straight;
  if (text == "ignore") return AlphaMode::Ignore;
  throw UsageError("--alpha: " + QuotedValue(text) +
                   " is not one of premultiplied, straight, ignore");
}

}  // namespace kestrion
