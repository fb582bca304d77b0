// view_text.h: how a review image is shown (the display look's exposure
// and gamma, a colour configuration's display, view and look) read from
// the text a user gives it in: the command line's options, a settings
// file's "view" object, a keyword. Each reader names what it reads by the
// label its caller passes in the UsageErrors it throws.
#pragma once

#include <optional>
#include <string>

#include "formats/review_io.h"

namespace kestrion {

// The view settings given, each unset when not given, so that one source
// (the command line) can override another (a settings file) field by field.
struct ViewOptions {
  std::optional<std::string> config;
  std::optional<std::string> display;
  std::optional<std::string> view;
  std::optional<std::string> look;
  std::optional<float> exposure;
  std::optional<float> gamma;

  // Whether any of the configuration's names is given.
  bool NamesGiven() const { return config || display || view || look; }
};

// Stops of exposure, -20 .. 20.
float CheckExposure(float stops, const std::string& label);
// A display gamma above 0, at most 10.
float CheckGamma(float gamma, const std::string& label);

// `key` one of "config", "display", "view", "look", "exposure", "gamma"
// and its value's text, into `options`; throws a UsageError naming `label`
// for an unknown key or a bad value (an empty name, a number out of range).
void SetViewOption(const std::string& key, const std::string& text, const std::string& label,
                   ViewOptions& options);

// The options given over `look`'s.
void ApplyViewOptions(const ViewOptions& options, ReviewLook& look);

}  // namespace kestrion
