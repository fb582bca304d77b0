// channel_roles.h: which channels of an OpenEXR document hold the colour,
// alpha, depth and IDs the filter needs, found by the names renderers use
// or chosen explicitly.
//
// The colour part and layer. The parts searched are the one RoleOptions
// names, else all of them. In each part, a layer is the channel name up to
// its last dot ("ViewLayer.Combined" for "ViewLayer.Combined.R"; the root
// layer "" for "R"). A colour layer has R, G and B (and maybe A):
//   1. root R, G, B: taken when exactly one part searched has them;
//   2. else the one colour layer named like a beauty pass: "rgba", "beauty",
//      or a last component "Combined" (e.g. "ViewLayer.Combined");
//   3. else the one colour layer there is.
// Several candidates at the same step are ambiguous: the error names
// --part or --layer. The colour's alpha is the layer's A, when present.
//
// Depth, object ID and material ID are looked up in the colour part first,
// then in the other parts in order; the first name found wins:
//   depth        <prefix>.Depth.Z, <prefix>.Z, Z, depth.Z, depth, and
//                <any>.Depth.Z when exactly one channel has that form
//   object ID    <prefix>.IndexOB.X, objectId, <any>.IndexOB.X (one only)
//   material ID  <prefix>.IndexMA.X, materialId, <any>.IndexMA.X (one only)
// where <prefix> is the colour layer or one of its leading components
// ("ViewLayer.Combined" gives "ViewLayer.Combined" and "ViewLayer"), so
// that a view layer's own passes come first. So "N.Z" is never taken for
// depth. A name found in several other parts (and not in the colour part)
// is ambiguous. A role found only by <any> in another view layer than the
// colour's ("Fg.IndexOB.X" for "ViewLayer.Combined") is used with a
// warning that names it.
//
// Further colour layers (RoleOptions::layers) are filtered with the same
// windows. "all" takes the other colour layers (R, G, B, maybe A, no UINT
// channel) of the colour's view layer, in parts whose data window equals
// the colour part's, except the channels used for depth and IDs and data
// passes named as renderers name them (normals, positions, vectors and
// motion, depth, mist, IDs, UV, Cryptomatte, denoising data), however their
// channels are named: averaging them makes values no renderer wrote.
// Layers named explicitly are taken whatever they hold. Each layer's
// channels are listed R, G, B, A, then the rest.
//
// An explicit channel option is "NAME" (searched as above) or "PART:NAME"
// with the part's index or name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/exr_document.h"
#include "frame/setting_labels.h"

namespace kestrion {

struct ChannelRef {
  int part = 0;
  std::string name;
  bool operator==(const ChannelRef&) const = default;
};

struct RoleOptions {
  std::optional<std::string> part;   // the colour part: index or name
  std::optional<std::string> layer;  // the colour layer; "" or "." is the root
  std::optional<std::string> depthChannel;
  std::optional<std::string> objectIdChannel;
  std::optional<std::string> materialIdChannel;
  // Further layers to filter like the colour, or {"all"}.
  std::vector<std::string> layers;
  // Without depth the filter cannot run; inspecting a file can.
  bool requireDepth = true;
};

struct ChannelRoles {
  int colourPart = 0;
  std::string colourLayer;  // "" for the root
  // The colour layer's R, G, B, then the further layers' channels, all in
  // parts with the colour part's data window.
  std::vector<ChannelRef> colour;
  std::optional<ChannelRef> alpha;
  std::optional<ChannelRef> depth;
  std::optional<ChannelRef> objectId;
  std::optional<ChannelRef> materialId;
  std::vector<std::string> extraLayers;  // as "layer" or "part:layer" when in another part
  // One line each, naming the file: roles taken from another view layer.
  std::vector<std::string> warnings;
};

// Throws a UsageError (exit 2) when an option names something the document
// lacks or a choice is ambiguous, a FileError when there is no colour (or no
// depth while it is required). The first line says what is wrong and which
// option picks one, named with `labels`; the following lines list the parts
// (DescribeParts).
ChannelRoles FindChannelRoles(const ExrDocument& document, const RoleOptions& options,
                              const SettingLabels& labels = {});

// One line per part: index, name, storage, data window, then its channels
// grouped by layer with their types, e.g.
//   part 0 "rgba" scanline 7 x 5 at (0, 0): (R,G,B,A) half; Z float
std::string DescribeParts(const ExrDocument& document);

// The layer of a channel name: up to its last dot, "" for root channels.
std::string LayerOf(const std::string& channel);
// The view layer of a layer: its leading components ("ViewLayer" for
// "ViewLayer.Combined"), "" for a layer of one component or the root.
std::string ViewLayerOf(const std::string& layer);

}  // namespace kestrion
