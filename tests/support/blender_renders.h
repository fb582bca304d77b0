// blender_renders.h: small multilayer OpenEXR renders laid out as Blender
// 3.4 (Cycles) writes them, for the tests of what a Blender user meets: one
// part holding every view layer's passes,
//   <layer>.Combined.R/G/B/A   premultiplied colour (HALF or FLOAT)
//   <layer>.DiffCol.R/G/B      diffuse colour (as the colour)
//   <layer>.Depth.Z            FLOAT distance, 1e10 where a ray hit nothing
//   <layer>.Mist.Z             FLOAT 0..1
//   <layer>.Normal.X/Y/Z       FLOAT unit normals, 0 for the sky
//   <layer>.IndexOB.X, .IndexMA.X   FLOAT pass indices (0 by default)
//   <layer>.CryptoObject00.R/G/B/A  FLOAT, two ranks of (ID, coverage)
// with the Cryptomatte's header attributes cryptomatte/<key>/name, /hash,
// /conversion and /manifest (names to their MurmurHash3_32 hashes).
//
// A scene is rectangles at depths in front of a sky; a rectangle's right
// column may be covered only in part (an anti-aliased edge), the rest of
// that pixel by what lies behind it.
#pragma once

#include <ImfStringAttribute.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/exr_test_files.h"

namespace kestrion::test_files {

// MurmurHash3's 32-bit x86 form, as the Cryptomatte convention hashes names.
inline uint32_t MurmurHash3_32(std::string_view text, uint32_t seed = 0) {
  constexpr uint32_t c1 = 0xcc9e2d51u, c2 = 0x1b873593u;
  auto rotl = [](uint32_t x, int r) { return (x << r) | (x >> (32 - r)); };
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t blocks = text.size() / 4;
  uint32_t h = seed;
  for (size_t i = 0; i < blocks; ++i) {
    uint32_t k = bytes[4 * i] | (bytes[4 * i + 1] << 8) | (bytes[4 * i + 2] << 16) |
                 (static_cast<uint32_t>(bytes[4 * i + 3]) << 24);
    k *= c1;
    k = rotl(k, 15);
    k *= c2;
    h ^= k;
    h = rotl(h, 13);
    h = h * 5 + 0xe6546b64u;
  }
  const unsigned char* tail = bytes + 4 * blocks;
  uint32_t k = 0;
  switch (text.size() & 3) {
    case 3:
      k ^= static_cast<uint32_t>(tail[2]) << 16;
      [[fallthrough]];
    case 2:
      k ^= static_cast<uint32_t>(tail[1]) << 8;
      [[fallthrough]];
    case 1:
      k ^= tail[0];
      k *= c1;
      k = rotl(k, 15);
      k *= c2;
      h ^= k;
  }
  h ^= static_cast<uint32_t>(text.size());
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}

// The ID a Cryptomatte's pixels hold for a name: the hash with its float
// exponent moved off 0 and 255, read as a float.
inline float CryptoId(const std::string& name) {
  uint32_t bits = MurmurHash3_32(name);
  const uint32_t exponent = (bits >> 23) & 0xFFu;
  if (exponent == 0 || exponent == 0xFFu) bits ^= 1u << 23;
  float id;
  std::memcpy(&id, &bits, sizeof id);
  return id;
}

inline std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

inline constexpr float BLENDER_SKY_DEPTH = 1.0e10f;

struct BlenderObject {
  std::string name;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // covers [x0, x1) x [y0, y1) ...
  float edge = 0.0f;                   // ... and this share of column x1
  float depth = 5.0f;
  std::array<float, 3> colour{0.5f, 0.5f, 0.5f};
  float passIndex = 0.0f;  // IndexOB: Blender's default is 0
  float materialIndex = 0.0f;
};

struct BlenderLayer {
  std::string name = "ViewLayer";
  std::vector<BlenderObject> objects;
  bool indexPasses = true;  // IndexOB and IndexMA
};

struct BlenderRender {
  int width = 24;
  int height = 16;
  std::vector<BlenderLayer> layers{BlenderLayer{}};
  bool transparentFilm = false;  // the sky's alpha 0 (else the world colour, alpha 1)
  bool halfColour = false;       // Combined and DiffCol as HALF
  std::array<float, 3> sky{0.2f, 0.3f, 0.6f};
  bool cryptomatte = true;
};

// What covers a pixel, most first: objects and their coverage; the sky
// takes the rest.
struct Cover {
  const BlenderObject* object = nullptr;
  float coverage = 0.0f;
};

inline std::vector<Cover> CoversAt(const BlenderLayer& layer, int x, int y) {
  std::vector<const BlenderObject*> here;
  for (const BlenderObject& o : layer.objects) {
    const bool rows = y >= o.y0 && y < o.y1;
    if (rows && ((x >= o.x0 && x < o.x1) || (x == o.x1 && o.edge > 0.0f))) here.push_back(&o);
  }
  std::sort(here.begin(), here.end(),
            [](const BlenderObject* a, const BlenderObject* b) { return a->depth < b->depth; });
  std::vector<Cover> covers;
  float left = 1.0f;
  for (const BlenderObject* o : here) {
    const float share = x == o->x1 ? o->edge : 1.0f;
    const float taken = std::min(left, share);
    if (taken > 0.0f) covers.push_back({o, taken});
    left -= taken;
  }
  std::stable_sort(covers.begin(), covers.end(),
                   [](const Cover& a, const Cover& b) { return a.coverage > b.coverage; });
  return covers;
}

inline std::string CryptoKey(const std::string& matteName) {
  return Hex8(MurmurHash3_32(matteName)).substr(0, 7);
}

inline std::string Manifest(const BlenderLayer& layer) {
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  for (const BlenderObject& o : layer.objects) json[o.name] = Hex8(MurmurHash3_32(o.name));
  return json.dump();
}

// The sample of channel `name` (as "<layer>.<pass>.<component>") at (x, y).
inline double BlenderSample(const BlenderRender& render, const std::string& name, int x, int y) {
  const size_t firstDot = name.find('.');
  const size_t lastDot = name.rfind('.');
  const std::string layerName = name.substr(0, firstDot);
  const std::string pass = name.substr(firstDot + 1, lastDot - firstDot - 1);
  const char c = name.back();
  const BlenderLayer* layer = nullptr;
  for (const BlenderLayer& l : render.layers) {
    if (l.name == layerName) layer = &l;
  }
  const std::vector<Cover> covers = CoversAt(*layer, x, y);
  float covered = 0.0f;
  for (const Cover& cover : covers) covered += cover.coverage;
  const BlenderObject* top = covers.empty() ? nullptr : covers.front().object;
  const int component = c == 'R' || c == 'X' ? 0 : c == 'G' || c == 'Y' ? 1 : 2;
  if (pass == "Combined") {
    const float skyShare = render.transparentFilm ? 0.0f : 1.0f - covered;
    if (c == 'A') return render.transparentFilm ? covered : 1.0;
    double value = skyShare * render.sky[component];
    for (const Cover& cover : covers) value += cover.coverage * cover.object->colour[component];
    return value;
  }
  if (pass == "DiffCol") return top ? top->colour[component] : 0.0;
  if (pass == "Depth") return top ? top->depth : BLENDER_SKY_DEPTH;
  if (pass == "Mist") return top ? std::min(1.0f, top->depth / 100.0f) : 1.0;
  if (pass == "Normal") {
    if (!top) return 0.0;
    const double turn = 0.3 * static_cast<double>(top - layer->objects.data());
    const std::array<double, 3> normal{std::sin(turn) * 0.6, 0.8, std::cos(turn) * 0.6};
    return normal[component];
  }
  if (pass == "IndexOB") return top ? top->passIndex : 0.0;
  if (pass == "IndexMA") return top ? top->materialIndex : 0.0;
  if (pass.rfind("CryptoObject", 0) == 0) {
    const size_t rank =
        2 * static_cast<size_t>(std::stoi(pass.substr(12))) + (c == 'B' || c == 'A' ? 1 : 0);
    if (rank >= covers.size()) return 0.0;
    return c == 'R' || c == 'B' ? CryptoId(covers[rank].object->name) : covers[rank].coverage;
  }
  return 0.0;
}

inline ExrPartLayout BlenderLayout(const BlenderRender& render) {
  ExrPartLayout layout;
  layout.dataWindow = layout.displayWindow = {{0, 0}, {render.width - 1, render.height - 1}};
  const Imf::PixelType colour = render.halfColour ? Imf::HALF : Imf::FLOAT;
  for (const BlenderLayer& layer : render.layers) {
    const std::string l = layer.name + ".";
    for (const char* c : {"R", "G", "B", "A"})
      layout.channels.push_back({l + "Combined." + c, colour});
    for (const char* c : {"R", "G", "B"}) layout.channels.push_back({l + "DiffCol." + c, colour});
    for (const char* c : {"X", "Y", "Z"}) {
      layout.channels.push_back({l + "Normal." + c, Imf::FLOAT});
    }
    for (const char* pass : {"Depth.Z", "Mist.Z"})
      layout.channels.push_back({l + pass, Imf::FLOAT});
    if (layer.indexPasses) {
      for (const char* pass : {"IndexOB.X", "IndexMA.X"}) {
        layout.channels.push_back({l + pass, Imf::FLOAT});
      }
    }
    if (render.cryptomatte) {
      for (const char* c : {"R", "G", "B", "A"}) {
        layout.channels.push_back({l + "CryptoObject00." + c, Imf::FLOAT});
      }
    }
  }
  layout.attributes = [render](Imf::Header& header) {
    if (!render.cryptomatte) return;
    for (const BlenderLayer& layer : render.layers) {
      const std::string matte = layer.name + ".CryptoObject";
      const std::string prefix = "cryptomatte/" + CryptoKey(matte) + "/";
      header.insert(prefix + "name", Imf::StringAttribute(matte));
      header.insert(prefix + "hash", Imf::StringAttribute("MurmurHash3_32"));
      header.insert(prefix + "conversion", Imf::StringAttribute("uint32_to_float32"));
      header.insert(prefix + "manifest", Imf::StringAttribute(Manifest(layer)));
    }
  };
  return layout;
}

inline void WriteBlenderRender(const std::string& path, const BlenderRender& render) {
  WriteExrFile(path, {BlenderLayout(render)},
               [&render](const std::string& name, int, int x, int y) {
                 return BlenderSample(render, name, x, y);
               });
}

}  // namespace kestrion::test_files
