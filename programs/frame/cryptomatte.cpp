#include "frame/cryptomatte.h"

#include <ImfStringAttribute.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "base/errors.h"
#include "frame/exr_planes.h"

namespace kestrion {

namespace {

constexpr const char* ATTRIBUTE_PREFIX = "cryptomatte/";
constexpr const char* HASH = "MurmurHash3_32";
constexpr const char* CONVERSION = "uint32_to_float32";
// A manifest file beside the image is read only up to this size.
constexpr std::uintmax_t MANIFEST_FILE_MAX = std::uintmax_t{64} << 20;
// How many names an error lists of a manifest that lacks the one asked for.
constexpr size_t NAMES_LISTED = 12;

// The matte's fields as the header gives them, by key.
struct Described {
  std::string name;
  std::string hash;
  std::string conversion;
  std::string manifest;
  std::string manifestFile;
};

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::map<std::string, Described> Descriptions(const Imf::Header& header) {
  std::map<std::string, Described> described;
  const std::string prefix = ATTRIBUTE_PREFIX;
  for (auto it = header.begin(); it != header.end(); ++it) {
    const std::string attribute = it.name();
    if (attribute.rfind(prefix, 0) != 0) continue;
    const auto* text = dynamic_cast<const Imf::StringAttribute*>(&it.attribute());
    const size_t slash = attribute.find('/', prefix.size());
    if (!text || slash == std::string::npos) continue;
    Described& matte = described[attribute.substr(prefix.size(), slash - prefix.size())];
    const std::string field = attribute.substr(slash + 1);
    if (field == "name") matte.name = text->value();
    if (field == "hash") matte.hash = text->value();
    if (field == "conversion") matte.conversion = text->value();
    if (field == "manifest") matte.manifest = text->value();
    if (field == "manif_file") matte.manifestFile = text->value();
  }
  return described;
}

std::string ManifestText(const ExrDocument& document, const Described& described) {
  if (described.manifestFile.empty()) return described.manifest;
  const std::filesystem::path file =
      std::filesystem::path(document.path).parent_path() / described.manifestFile;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) {
    throw FileError(document.path, "cannot read the Cryptomatte manifest " +
                                       ShownName(file.string()) + " of " +
                                       ShownName(described.name) + " (" + error.message() + ")");
  }
  if (size > MANIFEST_FILE_MAX) {
    throw FileError(document.path, "the Cryptomatte manifest " + ShownName(file.string()) +
                                       " is larger than 64 MiB");
  }
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    throw FileError(document.path,
                    "cannot read the Cryptomatte manifest " + ShownName(file.string()));
  }
  return text;
}

// Names and their IDs; an error names the matte.
std::map<std::string, uint32_t> ParseManifest(const ExrDocument& document,
                                              const Described& described) {
  const std::string text = ManifestText(document, described);
  const std::string bad = "the Cryptomatte manifest of " + ShownName(described.name) +
                          " is not JSON of names and hexadecimal IDs";
  std::map<std::string, uint32_t> manifest;
  if (text.empty()) return manifest;
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) throw FileError(document.path, bad);
  for (const auto& [name, value] : parsed.items()) {
    if (!value.is_string()) throw FileError(document.path, bad);
    const std::string hex = value.get<std::string>();
    uint32_t hash = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), hash, 16);
    if (hex.empty() || hex.size() > 8 || error != std::errc() || end != hex.data() + hex.size()) {
      throw FileError(document.path, bad);
    }
    manifest.emplace(name, CryptoIdOfHash(hash));
  }
  return manifest;
}

// The rank channels <name>00.R/G, <name>00.B/A, <name>01.R/G, ... as far as
// the part has them.
std::vector<std::pair<std::string, std::string>> Ranks(const ExrDocument& document,
                                                       const ExrPart& part,
                                                       const std::string& name) {
  std::vector<std::pair<std::string, std::string>> ranks;
  for (int level = 0; level < 100; ++level) {
    char number[4];
    std::snprintf(number, sizeof number, "%02d", level);
    const std::string layer = name + number + ".";
    bool found = false;
    for (const auto& [id, coverage] : {std::pair{"R", "G"}, std::pair{"B", "A"}}) {
      const ExrChannel* idChannel = part.Find(layer + id);
      if (!idChannel || !part.Find(layer + coverage)) continue;
      if (idChannel->Type() != Imf::FLOAT) {
        throw FileError(document.path, "Cryptomatte channel " + layer + id +
                                           " is not FLOAT, so it cannot hold the IDs");
      }
      ranks.push_back({layer + id, layer + coverage});
      found = true;
    }
    if (!found) break;
  }
  return ranks;
}

std::string ListOfNames(const CryptoMatte& matte) {
  std::string names;
  size_t listed = 0;
  for (const auto& [name, id] : matte.manifest) {
    if (listed++ == NAMES_LISTED) return names + ", ...";
    names += (names.empty() ? "" : ", ") + ShownName(name);
  }
  return names.empty() ? "none" : names;
}

}  // namespace

uint32_t CryptoIdOfHash(uint32_t hash) {
  const uint32_t exponent = (hash >> 23) & 0xFFu;
  return exponent == 0 || exponent == 0xFFu ? hash ^ (1u << 23) : hash;
}

std::vector<CryptoMatte> FindCryptoMattes(const ExrDocument& document) {
  std::vector<CryptoMatte> mattes;
  for (size_t p = 0; p < document.parts.size(); ++p) {
    const ExrPart& part = document.parts[p];
    for (const auto& [key, described] : Descriptions(part.header)) {
      if (described.name.empty() || described.hash != HASH || described.conversion != CONVERSION) {
        continue;
      }
      CryptoMatte matte;
      matte.part = static_cast<int>(p);
      matte.name = described.name;
      matte.ranks = Ranks(document, part, described.name);
      if (matte.ranks.empty()) continue;
      matte.manifest = ParseManifest(document, described);
      mattes.push_back(std::move(matte));
    }
  }
  return mattes;
}

bool ObjectMatte(const CryptoMatte& matte) {
  const std::string last = Lowercase(matte.name.substr(matte.name.rfind('.') + 1));
  return last.size() >= 6 && last.compare(last.size() - 6, 6, "object") == 0;
}

const CryptoMatte* MatteListing(const std::vector<CryptoMatte>& mattes, const ExrDocument& document,
                                const ChannelRoles& roles, const std::string& objectName,
                                const SettingLabels& labels, std::vector<std::string>& warnings,
                                std::string& unlisted) {
  const std::string view = ViewLayerOf(roles.colourLayer);
  std::vector<const CryptoMatte*> own, others;
  for (const CryptoMatte& matte : mattes) {
    if (!ObjectMatte(matte)) continue;
    (ViewLayerOf(matte.name) == view ? own : others).push_back(&matte);
  }
  const std::string quoted = QuotedValue(objectName);
  const std::string named = labels.focusObject + " " + quoted;
  if (own.empty() && others.empty()) {
    throw FileError(document.path, named +
                                       ": the file has no object Cryptomatte (such as "
                                       "ViewLayer.CryptoObject) to find the name in; give an "
                                       "object ID instead");
  }
  for (const auto* candidates : {&own, &others}) {
    std::vector<const CryptoMatte*> listing;
    for (const CryptoMatte* matte : *candidates) {
      if (matte->manifest.count(objectName)) listing.push_back(matte);
    }
    if (listing.size() > 1) {
      std::string names;
      for (const CryptoMatte* matte : listing)
        names += (names.empty() ? "" : ", ") + ShownName(matte->name);
      throw FileError(document.path, named + " is in several Cryptomattes (" + names +
                                         "); choose the view layer with " + labels.layer);
    }
    if (listing.size() == 1) {
      if (candidates == &others) {
        warnings.push_back(ShownName(document.path) + ": object " + quoted + " is found in " +
                           ShownName(listing.front()->name) +
                           ", of another view layer than the colour's");
      }
      return listing.front();
    }
  }
  const CryptoMatte& shown = own.empty() ? *others.front() : *own.front();
  unlisted = "object " + quoted + " is not in the Cryptomatte manifest of " +
             ShownName(shown.name) + " (it lists " + ListOfNames(shown) + ")";
  return nullptr;
}

std::vector<uint32_t> TopRankedIds(const ExrDocument& document, const ChannelRoles& roles,
                                   const CryptoMatte& matte, const AbortCheck& abort) {
  std::vector<uint32_t> top;
  std::vector<float> best;
  for (const auto& [idName, coverageName] : matte.ranks) {
    const Plane ids = ChannelPlane(document, roles, {matte.part, idName}, 0.0f, abort);
    const Plane coverage = ChannelPlane(document, roles, {matte.part, coverageName}, 0.0f, abort);
    if (top.empty()) {
      top.assign(ids.size(), 0u);
      best.assign(ids.size(), 0.0f);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
      abort.Poll(i);
      // Strictly more: of equal coverages the higher rank wins.
      if (coverage[i] > best[i]) {
        best[i] = coverage[i];
        std::memcpy(&top[i], &ids[i], sizeof top[i]);
      }
    }
  }
  return top;
}

}  // namespace kestrion
