#include "frame/extra_layers.h"

#include <ImfChannelList.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "base/errors.h"
#include "frame/channel_names.h"

namespace kestrion {

using namespace channel_names;

namespace {

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A layer that holds data rather than light, by the names renderers give
// such passes: averaging it would make values no renderer wrote (a normal
// of length 0.2, a position between two surfaces, an ID between two IDs,
// a mixture of hashes).
bool DataLayerName(const std::string& layer) {
  std::string last;
  for (char c : Lowercase(Suffix(layer))) {
    if (c != ' ' && c != '_' && c != '-') last += c;
  }
  static const std::set<std::string> DATA = {"n",
                                             "normal",
                                             "normals",
                                             "nworld",
                                             "nn",
                                             "p",
                                             "pworld",
                                             "position",
                                             "pref",
                                             "pobject",
                                             "vector",
                                             "motion",
                                             "motionvector",
                                             "motionvectors",
                                             "velocity",
                                             "z",
                                             "zdepth",
                                             "depth",
                                             "mist",
                                             "indexob",
                                             "indexma",
                                             "objectid",
                                             "materialid",
                                             "id",
                                             "uv",
                                             "st"};
  return DATA.count(last) > 0 || last.rfind("crypto", 0) == 0 || last.rfind("denoising", 0) == 0 ||
         Lowercase(layer).rfind("crypto", 0) == 0;
}

// Whether `layer` is of another view layer than the colour layer: with a
// view layer of its own ("ViewLayer.Combined"), every layer outside it;
// else a layer whose view layer has a beauty of its own ("Fg.Combined").
bool OtherViewLayer(const ExrPart& part, const std::string& layer, const std::string& colour) {
  const std::string colourView = ViewLayerOf(colour);
  if (!colourView.empty()) return layer.rfind(colourView + ".", 0) != 0;
  const std::string view = ViewLayerOf(layer);
  return Suffix(layer) == "Combined" || (!view.empty() && HasColour(part, view + ".Combined"));
}

// The channels in the order a colour layer's are listed: R, G, B, A, then
// the rest as they come.
std::vector<std::string> ColourOrder(std::vector<std::string> names) {
  auto rank = [](const std::string& name) {
    const std::string s = Suffix(name);
    return s == "R" ? 0 : s == "G" ? 1 : s == "B" ? 2 : s == "A" ? 3 : 4;
  };
  std::stable_sort(names.begin(), names.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  return names;
}

// The channels of `layer` in `part` when it is a colour layer: R, G and B,
// maybe A, and nothing else, none of them UINT.
std::vector<std::string> ColourLayerChannels(const ExrPart& part, const std::string& layer) {
  std::vector<std::string> names;
  bool colour = true;
  for (const ExrChannel& channel : part.channels) {
    if (LayerOf(channel.name) != layer) continue;
    const std::string s = Suffix(channel.name);
    colour =
        colour && (s == "R" || s == "G" || s == "B" || s == "A") && channel.Type() != Imf::UINT;
    names.push_back(channel.name);
  }
  if (!colour || !HasColour(part, layer)) names.clear();
  return ColourOrder(names);
}

}  // namespace

void AddExtraLayers(const ExrDocument& document, const RoleOptions& options,
                    const SettingLabels& labels, ChannelRoles& roles) {
  const std::string hint = " (" + labels.layers + ")";
  const Imath::Box2i& window = document.parts[roles.colourPart].DataWindow();
  std::set<std::pair<int, std::string>> used;
  for (const auto& ref : {roles.depth, roles.objectId, roles.materialId}) {
    if (ref) used.insert({ref->part, ref->name});
  }
  auto take = [&](int part, const std::string& layer, const std::vector<std::string>& names) {
    for (const std::string& name : names) roles.colour.push_back({part, name});
    roles.extraLayers.push_back((part == roles.colourPart ? "" : PartLabel(document, part) + ":") +
                                LayerLabel(layer));
  };
  const bool all = options.layers.size() == 1 && options.layers.front() == "all";
  if (all) {
    for (int part : SearchOrder(document, roles.colourPart)) {
      const ExrPart& p = document.parts[part];
      if (p.DataWindow() != window) continue;
      for (const std::string& layer : LayersOf(p)) {
        if (part == roles.colourPart && layer == roles.colourLayer) continue;
        if (DataLayerName(layer) || OtherViewLayer(p, layer, roles.colourLayer)) continue;
        const auto names = ColourLayerChannels(p, layer);
        const bool holdsRole = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
          return used.count({part, n}) > 0;
        });
        if (!names.empty() && !holdsRole) take(part, layer, names);
      }
    }
    return;
  }
  for (const std::string& text : options.layers) {
    auto [part, layerText] = SplitPart(document, text);
    const std::string layer = layerText == ROOT_LABEL ? "" : layerText;
    std::vector<int> found;
    for (int p : part ? std::vector<int>{*part} : SearchOrder(document, roles.colourPart)) {
      const auto layers = LayersOf(document.parts[p]);
      if (std::find(layers.begin(), layers.end(), layer) != layers.end()) found.push_back(p);
    }
    if (found.empty()) throw Usage(document, "no layer " + QuotedValue(text) + hint);
    if (found.size() > 1 && found.front() != roles.colourPart) {
      throw Usage(document, "layer " + QuotedValue(text) +
                                " is in several parts; write PART:" + LayerLabel(layer) + hint);
    }
    const int p = found.front();
    if (p == roles.colourPart && layer == roles.colourLayer) {
      throw Usage(document, "layer " + QuotedValue(text) + " is the colour layer already" + hint);
    }
    if (document.parts[p].DataWindow() != window) {
      throw Usage(document, "layer " + QuotedValue(text) +
                                " lies in a part whose data window differs " + "from the colour's" +
                                hint);
    }
    std::vector<std::string> names;
    for (const ExrChannel& channel : document.parts[p].channels) {
      if (LayerOf(channel.name) == layer) names.push_back(channel.name);
    }
    take(p, layer, ColourOrder(names));
  }
}

}  // namespace kestrion
