#include "frame/view_text.h"

#include <algorithm>

#include "base/errors.h"
#include "base/numbers.h"

namespace kestrion {

float CheckExposure(float stops, const std::string& label) {
  if (!(stops >= -20.0f && stops <= 20.0f)) {
    throw UsageError(label + ": " + std::to_string(stops) + " is not within -20 .. 20 stops");
  }
  return stops;
}

float CheckGamma(float gamma, const std::string& label) {
  if (!(gamma > 0.0f && gamma <= 10.0f)) {
    throw UsageError(label + ": a gamma must be above 0 and at most 10, not " +
                     std::to_string(gamma));
  }
  return gamma;
}

namespace {

std::string Name(const std::string& text, const std::string& label) {
  if (text.empty()) throw UsageError(label + ": the name is empty");
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    throw UsageError(label + ": " + QuotedValue(text) + " holds a control character");
  }
  return text;
}

}  // namespace

void SetViewOption(const std::string& key, const std::string& text, const std::string& label,
                   ViewOptions& options) {
  if (key == "config") {
    options.config = Name(text, label);
  } else if (key == "display") {
    options.display = Name(text, label);
  } else if (key == "view") {
    options.view = Name(text, label);
  } else if (key == "look") {
    options.look = Name(text, label);
  } else if (key == "exposure") {
    options.exposure = CheckExposure(FloatOption<float>(text, label), label);
  } else if (key == "gamma") {
    options.gamma = CheckGamma(FloatOption<float>(text, label), label);
  } else {
    throw UsageError(label + ": " + QuotedValue(key) +
                     " is not one of config, display, view, look, exposure, gamma");
  }
}

void ApplyViewOptions(const ViewOptions& options, ReviewLook& look) {
  if (options.config) look.choice.config = *options.config;
  if (options.display) look.choice.display = *options.display;
  if (options.view) look.choice.view = *options.view;
  if (options.look) look.choice.look = *options.look;
  if (options.exposure) look.exposure = *options.exposure;
  if (options.gamma) look.gamma = *options.gamma;
}

}  // namespace kestrion
