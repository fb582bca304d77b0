#include "frame/channel_names.h"

#include <algorithm>
#include <cctype>

#include "frame/channel_roles.h"

namespace kestrion::channel_names {

std::string Prefix(const std::string& layer) { return layer.empty() ? "" : layer + "."; }

std::string Suffix(const std::string& channel) {
  const size_t dot = channel.rfind('.');
  return dot == std::string::npos ? channel : channel.substr(dot + 1);
}

// Labels and names in messages are shown escaped (errors.h).
std::string LayerLabel(const std::string& layer) {
  return layer.empty() ? ROOT_LABEL : ShownName(layer);
}

std::string PartLabel(const ExrDocument& document, int part) {
  const std::string name = document.parts[part].Name();
  return name.empty() ? std::to_string(part) : ShownName(name);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What is wrong on the first line, the parts on the following ones.
std::string Listed(const ExrDocument& document, const std::string& what) {
  return ShownName(document.path) + ": " + what + "\n" + DescribeParts(document);
}

Error Usage(const ExrDocument& document, const std::string& what) {
  return UsageError(Listed(document, what));
}

// A part given by index or by name; nothing when `text` names none.
std::optional<int> PartNamed(const ExrDocument& document, const std::string& text) {
  const int count = static_cast<int>(document.parts.size());
  for (int i = 0; i < count; ++i) {
    if (!text.empty() && document.parts[i].Name() == text) return i;
  }
  if (!text.empty() && std::all_of(text.begin(), text.end(), ::isdigit) && text.size() < 6) {
    const int index = std::stoi(text);
    if (index < count) return index;
  }
  return std::nullopt;
}

// "PART:NAME" when PART names a part, else just a name.
std::pair<std::optional<int>, std::string> SplitPart(const ExrDocument& document,
                                                     const std::string& text) {
  const size_t colon = text.find(':');
  if (colon != std::string::npos) {
    if (auto part = PartNamed(document, text.substr(0, colon))) {
      return {part, text.substr(colon + 1)};
    }
  }
  return {std::nullopt, text};
}

bool HasColour(const ExrPart& part, const std::string& layer) {
  const std::string prefix = Prefix(layer);
  return part.Find(prefix + "R") && part.Find(prefix + "G") && part.Find(prefix + "B");
}

std::vector<std::string> LayersOf(const ExrPart& part) {
  std::vector<std::string> layers;
  for (const ExrChannel& channel : part.channels) {
    const std::string layer = LayerOf(channel.name);
    if (std::find(layers.begin(), layers.end(), layer) == layers.end()) layers.push_back(layer);
  }
  return layers;
}

std::vector<int> SearchOrder(const ExrDocument& document, int colourPart) {
  std::vector<int> order{colourPart};
  for (int i = 0; i < static_cast<int>(document.parts.size()); ++i) {
    if (i != colourPart) order.push_back(i);
  }
  return order;
}

}  // namespace kestrion::channel_names
