// exr_layouts.h: the OpenEXR files the document and role tests write: the
// layouts renderers use (root channels, a view layer, colour and depth in
// separate parts, AOVs with overscan and attributes), and a comparison of
// two documents sample for sample.
#pragma once

#include <ImfMatrixAttribute.h>
#include <ImfStringAttribute.h>
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "formats/exr_document.h"
#include "tests/support/exr_test_files.h"

namespace kestrion::test_files {

inline const Imath::Box2i SMALL{{0, 0}, {6, 4}};

inline std::vector<ExrChannelLayout> Channels(std::initializer_list<const char*> names,
                                              Imf::PixelType type) {
  std::vector<ExrChannelLayout> channels;
  for (const char* name : names) channels.push_back({name, type});
  return channels;
}

template <typename... Lists>
inline std::vector<ExrChannelLayout> Join(Lists... lists) {
  std::vector<ExrChannelLayout> all;
  (all.insert(all.end(), lists.begin(), lists.end()), ...);
  return all;
}

inline ExrPartLayout RootRgbaZ() {
  return Part("", SMALL, SMALL,
              Join(Channels({"R", "G", "B", "A"}, Imf::HALF), Channels({"Z"}, Imf::FLOAT)));
}

inline ExrPartLayout ViewLayer() {
  return Part("", SMALL, SMALL,
              Join(Channels({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                             "ViewLayer.Combined.A", "ViewLayer.DiffCol.R", "ViewLayer.DiffCol.G",
                             "ViewLayer.DiffCol.B", "ViewLayer.Depth.Z", "ViewLayer.IndexOB.X"},
                            Imf::FLOAT)));
}

// Colour in "rgba"; depth in a part whose data window holds only part of it.
inline std::vector<ExrPartLayout> RgbaAndDepthParts() {
  return {Part("rgba", SMALL, SMALL, Channels({"R", "G", "B", "A"}, Imf::HALF)),
          Part("depth", Imath::Box2i{{2, 1}, {8, 3}}, SMALL, Channels({"depth.Z"}, Imf::FLOAT))};
}

// A beauty with AOVs, renderer attributes, an offset display window and a
// data window reaching beyond it (overscan).
inline ExrPartLayout AovsWithOverscan() {
  ExrPartLayout layout =
      Part("", Imath::Box2i{{-3, 8}, {11, 14}}, Imath::Box2i{{-1, 10}, {8, 13}},
           Join(Channels({"R", "G", "B", "A", "diffuse.R", "diffuse.G", "diffuse.B"}, Imf::HALF),
                Channels({"N.X", "N.Y", "N.Z", "Z"}, Imf::FLOAT),
                Channels({"CryptoObject00.R"}, Imf::FLOAT), Channels({"objectId"}, Imf::UINT)));
  layout.attributes = [](Imf::Header& header) {
    header.insert("renderer", Imf::StringAttribute("a renderer 4.2"));
    Imath::M44f worldToCamera;
    worldToCamera.setTranslation(Imath::V3f(1.5f, -2.0f, 7.25f));
    header.insert("worldToCamera", Imf::M44fAttribute(worldToCamera));
    header.pixelAspectRatio() = 1.25f;
  };
  return layout;
}

struct FileCase {
  const char* name;
  std::vector<ExrPartLayout> parts;
};

inline std::vector<FileCase> FileCases() {
  ExrPartLayout tiled = RootRgbaZ();
  tiled.tiled = true;
  tiled.compression = Imf::PIZ_COMPRESSION;
  ExrPartLayout floatColour = RootRgbaZ();
  floatColour.channels = Join(Channels({"R", "G", "B", "A", "Z"}, Imf::FLOAT));
  return {{"root RGBA and Z", {RootRgbaZ()}},
          {"view layer", {ViewLayer()}},
          {"rgba and depth parts", RgbaAndDepthParts()},
          {"tiled", {tiled}},
          {"float colour", {floatColour}},
          {"AOVs with overscan", {AovsWithOverscan()}}};
}

inline void ExpectSameDocument(const ExrDocument& a, const ExrDocument& b) {
  ASSERT_EQ(a.parts.size(), b.parts.size());
  for (size_t p = 0; p < a.parts.size(); ++p) {
    auto attributes = AttributeBytes(a.parts[p].header);
    EXPECT_EQ(attributes, AttributeBytes(b.parts[p].header)) << "part " << p;
    ASSERT_EQ(a.parts[p].channels.size(), b.parts[p].channels.size());
    for (size_t c = 0; c < a.parts[p].channels.size(); ++c) {
      const ExrChannel& x = a.parts[p].channels[c];
      const ExrChannel& y = b.parts[p].channels[c];
      EXPECT_EQ(x.name, y.name);
      EXPECT_EQ(x.Type(), y.Type()) << x.name;
      ASSERT_EQ(x.ByteSize(), y.ByteSize()) << x.name;
      EXPECT_EQ(0, std::memcmp(x.Bytes(), y.Bytes(), x.ByteSize())) << x.name;
    }
  }
}

}  // namespace kestrion::test_files
