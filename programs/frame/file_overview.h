// file_overview.h: what kestrion sees in an OpenEXR file, as data: its
// parts, windows and channels, the roles it would filter with, the depth's
// range and spread, the IDs present, the Cryptomattes' names, the values at
// one pixel. `kestrion inspect` prints it with the render command it
// suggests (cli/overview_text.h); other callers take the data as it is.
// Names are as the file holds them, unescaped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/abort_check.h"
#include "frame/channel_roles.h"
#include "frame/depth_modes.h"
#include "frame/shot_keys.h"

namespace kestrion {

struct InspectOptions {
  std::string input;
  // "X,Y" from the display window's top-left pixel (0,0), as render's
  // --focus-pixel; unset: no pixel values.
  std::optional<std::string> pixel;
  // Explicit role choices, as for render; the roles found are shown either
  // way (requireDepth is ignored: a file without depth can be inspected).
  RoleOptions roles;
  // What the depth means and where it comes from, as for render: the
  // depth's range, its background and the suggested focus follow them.
  DepthSettings depth;
  std::string depthFile;  // empty: the file's own depth channel
  // What the messages call the settings above.
  SettingLabels labels;
};

// A window of pixels, its corners inclusive.
struct OverviewWindow {
  int32_t minX = 0;
  int32_t minY = 0;
  int32_t maxX = 0;
  int32_t maxY = 0;
};

struct OverviewChannel {
  std::string name;
  std::string type;  // "uint", "half" or "float"
};

struct OverviewPart {
  std::string name;  // empty: the part has none
  bool tiled = false;
  std::string compression;  // "zip", "piz", ...
  OverviewWindow dataWindow;
  OverviewWindow displayWindow;
  double pixelAspect = 1.0;
  // The depth layers kestrion filtered the part's colour in, when a layered
  // render wrote it.
  std::optional<int32_t> layers;
  std::vector<OverviewChannel> channels;  // in the file's order
};

// A channel a role is taken from.
struct OverviewRef {
  int32_t part = 0;
  std::string name;
  std::string type;
};

struct OverviewRoles {
  int32_t colourPart = 0;
  std::string colourLayer;  // "" for the root
  std::vector<std::string> colour;
  std::optional<OverviewRef> alpha;
  std::optional<OverviewRef> depth;
  std::optional<OverviewRef> objectId;
  std::optional<OverviewRef> materialId;
  std::vector<std::string> warnings;
};

// The depths of the pixels with geometry: their 10th, 50th and 90th
// percentiles.
struct DepthSpread {
  float median = 0.0f;
  float low = 0.0f;
  float high = 0.0f;
};

struct OverviewDepth {
  size_t pixels = 0;
  size_t background = 0;  // pixels without geometry
  // Set when some pixel has geometry: the nearest and farthest distance
  // and the spread.
  std::optional<float> nearest;
  std::optional<float> farthest;
  std::optional<DepthSpread> spread;
  std::vector<std::string> warnings;
};

struct OverviewMatte {
  std::string name;
  int32_t part = 0;
  size_t ranks = 0;
  // Each name of the manifest, in its order, with the pixels where it
  // ranks first.
  std::vector<std::pair<std::string, size_t>> names;
  bool objects = false;  // names objects, for --focus-object NAME
};

struct OverviewPixelPart {
  bool inside = false;  // within the part's data window
  std::vector<std::pair<std::string, double>> values;
};

struct OverviewPixel {
  FocusPixel at;  // from the display window's top-left pixel
  int32_t fileX = 0;
  int32_t fileY = 0;
  std::vector<OverviewPixelPart> parts;
};

// The overview, in the order `kestrion inspect` shows it. A step that
// fails on what the file holds leaves its error in rolesError or
// planesError, with what was found before it set.
struct FileOverview {
  std::string path;
  std::vector<OverviewPart> parts;
  std::optional<OverviewRoles> roles;
  std::optional<std::string> rolesError;
  // The depth's meaning the overview read it with.
  DepthOptions depthOptions;
  std::optional<std::string> depthFile;  // set once read
  // The depth of the roles (or the depth file), or noDepth when they have
  // none.
  std::optional<OverviewDepth> depth;
  bool noDepth = false;
  std::optional<std::map<uint32_t, size_t>> objectIds;    // pixels by ID
  std::optional<std::map<uint32_t, size_t>> materialIds;  // pixels by ID
  std::vector<OverviewMatte> mattes;
  std::optional<std::string> planesError;
  std::optional<OverviewPixel> pixel;
  // The roles and the depth are there to filter the file with; the pixel
  // asked about shows geometry.
  bool usable = false;
  bool pixelHasGeometry = false;
};

// Reads `options.input` and what it holds. Throws an Error when the file
// cannot be read or the pixel is not a pixel of the display window; a file
// whose roles or planes cannot be found is inspected all the same and says
// why.
FileOverview InspectFile(const InspectOptions& options, const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
