// channel_names.h: how the roles' lookups (channel_roles.cpp) and the
// further layers to filter (extra_layers.cpp) read an OpenEXR file's names:
// layers and suffixes of channel names, parts by index or name, and the
// labels their messages show.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "formats/exr_document.h"

namespace kestrion::channel_names {

// How the root layer is written and shown.
inline const std::string ROOT_LABEL = ".";

// "LAYER." for a layer, "" for the root.
std::string Prefix(const std::string& layer);
// A channel name's last component ("Z" of "depth.Z").
std::string Suffix(const std::string& channel);

// A layer and a part as messages show them, escaped (errors.h).
std::string LayerLabel(const std::string& layer);
std::string PartLabel(const ExrDocument& document, int part);

bool EndsWith(const std::string& text, const std::string& end);

// What is wrong on the first line, the parts on the following ones; as a
// UsageError.
std::string Listed(const ExrDocument& document, const std::string& what);
Error Usage(const ExrDocument& document, const std::string& what);

// A part given by index or by name; nothing when `text` names none.
std::optional<int> PartNamed(const ExrDocument& document, const std::string& text);
// "PART:NAME" when PART names a part, else just a name.
std::pair<std::optional<int>, std::string> SplitPart(const ExrDocument& document,
                                                     const std::string& text);

// Whether the layer of `part` has R, G and B.
bool HasColour(const ExrPart& part, const std::string& layer);
// The part's layers in the order their first channels come.
std::vector<std::string> LayersOf(const ExrPart& part);
// The parts to look in: the colour part first, then the others in order.
std::vector<int> SearchOrder(const ExrDocument& document, int colourPart);

}  // namespace kestrion::channel_names
