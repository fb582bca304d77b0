#include "frame/channel_roles.h"

#include <ImfChannelList.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "base/errors.h"
#include "frame/channel_names.h"
#include "frame/extra_layers.h"

namespace kestrion {

using namespace channel_names;

namespace {

bool BeautyName(const std::string& name) {
  const std::string last = Suffix(name);
  return name == "rgba" || name == "RGBA" || name == "beauty" || last == "Combined";
}

struct Candidate {
  int part;
  std::string layer;
};

std::string CandidateList(const ExrDocument& document, const std::vector<Candidate>& candidates) {
  std::string list;
  for (const Candidate& c : candidates) {
    if (!list.empty()) list += ", ";
    list += PartLabel(document, c.part) + ":" + LayerLabel(c.layer);
  }
  return list;
}

Candidate FindColour(const ExrDocument& document, const RoleOptions& options,
                     const SettingLabels& labels) {
  const std::string choosePart = "); choose one with " + labels.part;
  const std::string chooseLayer =
      "); choose one with " + labels.layer + " (and " + labels.part + ")";
  std::vector<int> parts;
  if (options.part) {
    const auto part = PartNamed(document, *options.part);
    if (!part)
      throw Usage(document, "no part " + QuotedValue(*options.part) + " (" + labels.part + ")");
    parts.push_back(*part);
  } else {
    for (int i = 0; i < static_cast<int>(document.parts.size()); ++i) parts.push_back(i);
  }

  if (options.layer) {
    const std::string layer = *options.layer == ROOT_LABEL ? "" : *options.layer;
    std::vector<Candidate> found;
    for (int part : parts) {
      if (HasColour(document.parts[part], layer)) found.push_back({part, layer});
    }
    if (found.empty()) {
      throw Usage(document, "no layer " + QuotedValue(LayerLabel(layer)) + " with R, G and B (" +
                                labels.layer + ")");
    }
    if (found.size() > 1) {
      throw Usage(document, "layer " + QuotedValue(LayerLabel(layer)) + " is in several parts (" +
                                CandidateList(document, found) + choosePart);
    }
    return found.front();
  }

  std::vector<Candidate> root, beauty, all;
  for (int part : parts) {
    for (const std::string& layer : LayersOf(document.parts[part])) {
      if (!HasColour(document.parts[part], layer)) continue;
      all.push_back({part, layer});
      if (layer.empty()) root.push_back({part, layer});
      if (layer.empty() ? BeautyName(document.parts[part].Name()) : BeautyName(layer)) {
        beauty.push_back({part, layer});
      }
    }
  }
  if (root.size() == 1) return root.front();
  if (root.size() > 1) {
    std::vector<Candidate> named;
    for (const Candidate& c : root) {
      if (BeautyName(document.parts[c.part].Name())) named.push_back(c);
    }
    if (named.size() == 1) return named.front();
    throw Usage(document,
                "R, G and B are in several parts (" + CandidateList(document, root) + choosePart);
  }
  if (beauty.size() == 1) return beauty.front();
  if (beauty.size() > 1) {
    throw Usage(document,
                "several colour layers (" + CandidateList(document, beauty) + chooseLayer);
  }
  if (all.size() == 1) return all.front();
  if (all.size() > 1) {
    throw Usage(document, "several colour layers (" + CandidateList(document, all) + chooseLayer);
  }
  throw Failure(Listed(document,
                       "no colour channels (R, G and B at the root or in one layer); name them "
                       "with " +
                           labels.layer + " (and " + labels.part + ")"));
}

// `name` in the colour part, else in exactly one other part.
std::optional<ChannelRef> Locate(const ExrDocument& document, int colourPart,
                                 const std::string& name, const std::string& option) {
  std::vector<ChannelRef> found;
  for (int part : SearchOrder(document, colourPart)) {
    if (document.parts[part].Find(name)) {
      if (part == colourPart) return ChannelRef{part, name};
      found.push_back({part, name});
    }
  }
  if (found.size() > 1) {
    std::string list;
    for (const ChannelRef& ref : found) {
      list += (list.empty() ? "" : ", ") + PartLabel(document, ref.part) + ":" + ShownName(name);
    }
    throw Usage(document, "channel " + ShownName(name) + " is in several parts (" + list +
                              "); choose one with " + option + " PART:" + ShownName(name));
  }
  if (found.empty()) return std::nullopt;
  return found.front();
}

// Every channel anywhere whose name ends with `end` (".Depth.Z"): the one
// there is, nothing when none, an error naming `option` when several.
std::optional<ChannelRef> LocateUnique(const ExrDocument& document, const std::string& end,
                                       const std::string& what, const std::string& option) {
  std::vector<ChannelRef> found;
  for (int part = 0; part < static_cast<int>(document.parts.size()); ++part) {
    for (const ExrChannel& channel : document.parts[part].channels) {
      if (EndsWith(channel.name, end)) found.push_back({part, channel.name});
    }
  }
  if (found.size() > 1) {
    std::string list;
    for (const ChannelRef& ref : found) {
      list +=
          (list.empty() ? "" : ", ") + PartLabel(document, ref.part) + ":" + ShownName(ref.name);
    }
    throw Usage(document,
                "several " + what + " channels (" + list + "); choose one with " + option);
  }
  if (found.empty()) return std::nullopt;
  return found.front();
}

// The colour layer and its leading components, longest first.
std::vector<std::string> Prefixes(const std::string& layer) {
  std::vector<std::string> prefixes;
  std::string rest = layer;
  while (!rest.empty()) {
    prefixes.push_back(rest);
    const size_t dot = rest.rfind('.');
    rest = dot == std::string::npos ? "" : rest.substr(0, dot);
  }
  return prefixes;
}

std::optional<ChannelRef> Explicit(const ExrDocument& document, int colourPart,
                                   const std::string& text, const std::string& option) {
  const auto [part, name] = SplitPart(document, text);
  if (part) {
    if (!document.parts[*part].Find(name)) {
      throw Usage(document, "no channel " + ShownName(name) + " in part " +
                                PartLabel(document, *part) + " (" + option + ")");
    }
    return ChannelRef{*part, name};
  }
  auto found = Locate(document, colourPart, name, option);
  if (!found) {
    throw Usage(document, "no channel " + ShownName(name) + " in any part (" + option + ")");
  }
  return found;
}

// What a role is looked up by: the names in order, then the one channel
// anywhere ending with `anyEnd`.
struct RoleLookup {
  std::vector<std::string> names;
  std::string anyEnd;  // ".Depth.Z"
  std::string what;    // "depth", "object ID"
  std::string option;  // the label of the setting that names it
};

// The first of the names found, then the one channel ending with anyEnd.
// That one may lie in another view layer than the colour's: it is used, and
// a warning names it.
std::optional<ChannelRef> ByConvention(const ExrDocument& document, const ChannelRoles& roles,
                                       const RoleLookup& lookup,
                                       std::vector<std::string>& warnings) {
  for (const std::string& name : lookup.names) {
    if (auto found = Locate(document, roles.colourPart, name, lookup.option)) return found;
  }
  auto found = LocateUnique(document, lookup.anyEnd, lookup.what, lookup.option);
  const std::string colourView = ViewLayerOf(roles.colourLayer);
  if (found && !colourView.empty()) {
    const std::string view = ViewLayerOf(LayerOf(found->name));
    if (view != colourView) {
      warnings.push_back(ShownName(document.path) + ": the " + lookup.what + " comes from " +
                         ShownName(found->name) + ", of view layer " +
                         QuotedValue(LayerLabel(view)) + ", not the colour's " +
                         QuotedValue(colourView) + "; name one with " + lookup.option);
    }
  }
  return found;
}

}  // namespace

std::string LayerOf(const std::string& channel) {
  const size_t dot = channel.rfind('.');
  return dot == std::string::npos ? "" : channel.substr(0, dot);
}

std::string ViewLayerOf(const std::string& layer) { return LayerOf(layer); }

ChannelRoles FindChannelRoles(const ExrDocument& document, const RoleOptions& options,
                              const SettingLabels& labels) {
  const Candidate colour = FindColour(document, options, labels);
  ChannelRoles roles;
  roles.colourPart = colour.part;
  roles.colourLayer = colour.layer;
  const std::string prefix = Prefix(colour.layer);
  for (const char* c : {"R", "G", "B"}) roles.colour.push_back({colour.part, prefix + c});
  if (document.parts[colour.part].Find(prefix + "A")) roles.alpha = {colour.part, prefix + "A"};

  // Names in the colour's own layers first (its view layer's passes), then
  // the names of files without view layers.
  const std::vector<std::string> prefixes = Prefixes(colour.layer);
  RoleLookup depth{{}, ".Depth.Z", "depth", labels.depthChannel};
  for (const std::string& p : prefixes) depth.names.push_back(p + ".Depth.Z");
  for (const std::string& p : prefixes) depth.names.push_back(p + ".Z");
  depth.names.insert(depth.names.end(), {"Z", "depth.Z", "depth"});
  RoleLookup object{{}, ".IndexOB.X", "object ID", labels.objectIdChannel};
  RoleLookup material{{}, ".IndexMA.X", "material ID", labels.materialIdChannel};
  for (const std::string& p : prefixes) object.names.push_back(p + ".IndexOB.X");
  for (const std::string& p : prefixes) material.names.push_back(p + ".IndexMA.X");
  object.names.push_back("objectId");
  material.names.push_back("materialId");

  auto find = [&](const std::optional<std::string>& chosen, const RoleLookup& lookup) {
    return chosen ? Explicit(document, colour.part, *chosen, lookup.option)
                  : ByConvention(document, roles, lookup, roles.warnings);
  };
  roles.depth = find(options.depthChannel, depth);
  roles.objectId = find(options.objectIdChannel, object);
  roles.materialId = find(options.materialIdChannel, material);
  if (!roles.depth && options.requireDepth) {
    throw Error(ErrorKind::Input,
                Listed(document,
                       "no depth channel (Z, depth.Z, <layer>.Depth.Z, <layer>.Z or depth); "
                       "name one with " +
                           labels.depthChannel));
  }
  AddExtraLayers(document, options, labels, roles);
  return roles;
}

std::string DescribeParts(const ExrDocument& document) {
  std::string text;
  for (size_t i = 0; i < document.parts.size(); ++i) {
    const ExrPart& part = document.parts[i];
    if (i > 0) text += "\n";
    text += "  part " + std::to_string(i);
    if (!part.Name().empty()) text += " \"" + ShownName(part.Name()) + "\"";
    text +=
        std::string(part.Tiled() ? " tiled " : " scanline ") + WindowText(part.DataWindow()) + ":";
    // Runs of channels in one layer with one type: "layer.(A,B) half".
    size_t run = 0;
    bool first = true;
    while (run < part.channels.size()) {
      const std::string layer = LayerOf(part.channels[run].name);
      const Imf::PixelType type = part.channels[run].Type();
      size_t end = run;
      std::vector<std::string> suffixes;
      while (end < part.channels.size() && LayerOf(part.channels[end].name) == layer &&
             part.channels[end].Type() == type) {
        suffixes.push_back(layer.empty() ? part.channels[end].name
                                         : part.channels[end].name.substr(layer.size() + 1));
        ++end;
      }
      std::string names;
      for (const std::string& s : suffixes) names += (names.empty() ? "" : ",") + s;
      if (suffixes.size() > 1) names = "(" + names + ")";
      text += std::string(first ? " " : "; ") + ShownName(Prefix(layer) + names) + " " +
              PixelTypeName(type);
      first = false;
      run = end;
    }
    if (first) text += " no channels";
  }
  return text;
}

}  // namespace kestrion
