// display_view.h: review images through a colour configuration's display
// and view (and, when asked, one of its looks), instead of the built-in
// sRGB encode.
//
// A ViewChoice names what to show: the configuration file and the names
// in it; empty names mean the configuration's defaults. OpenDisplayView
// checks the names against the file and builds the processor once; the
// processor turns linear scene light (the configuration's scene_linear
// role) into display values, which the review writers then quantise.
// Nothing here reads the environment: the programs choose the file
// (ChooseViewConfig) and pass it down.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrion {

// What a review image is shown through, as a user names it.
struct ViewChoice {
  std::string config;   // the configuration file; empty: the built-in sRGB encode
  std::string display;  // empty: the configuration's default display
  std::string view;     // empty: the display's default view
  std::string look;     // empty: the view's own looks only

  bool operator==(const ViewChoice&) const = default;
};

// A configuration's display, view and look, ready to apply. Shared by the
// threads that encode parts of a frame: Apply changes nothing of it.
class DisplayView {
 public:
  virtual ~DisplayView() = default;
  // `count` interleaved pixels of four floats (R, G, B and a fourth that
  // is not colour) from linear scene light to display values, in place.
  virtual void Apply(float* rgba, size_t count) const = 0;
  // The names it was made with, the defaults filled in.
  virtual const ViewChoice& Choice() const = 0;
};

// The names a configuration offers, for menus and for refusals.
struct ViewNames {
  std::string defaultDisplay;
  std::vector<std::string> displays;
  // The views of each display, in the order of `displays`.
  std::vector<std::vector<std::string>> views;
  std::vector<std::string> looks;
};

// Reads the configuration `path`; throws a UsageError naming the file and
// the configuration library's reason when it is missing or broken.
ViewNames ReadViewNames(const std::string& path);

// The processor for `choice` (choice.config not empty). Throws a
// UsageError naming the file and its reason for a missing or broken
// configuration, and one naming the choices there are for an unknown
// display, view or look.
std::shared_ptr<const DisplayView> OpenDisplayView(const ViewChoice& choice);

// The configuration to show review images through: `given` (an option;
// "none" asks for the built-in encode), else `environment` (the $OCIO the
// program read), else the first of `installed` that exists (an installed
// application's own configuration), else none.
std::optional<std::string> ChooseViewConfig(const std::optional<std::string>& given,
                                            const char* environment,
                                            const std::vector<std::string>& installed);

// Where an installed Blender keeps its configuration: Debian's
// <root>/datafiles/colormanagement/config.ocio, then every
// <root>/<version>/datafiles/colormanagement/config.ocio, newest first.
std::vector<std::string> InstalledBlenderConfigs(const std::string& root = "/usr/share/blender");

}  // namespace kestrion
