#include "app/exr_document.h"

#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfIntAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfMultiPartInputFile.h>
#include <ImfStringAttribute.h>
#include <ImfTiledInputPart.h>
#include <ImfVersion.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/channel_roles.h"
#include "app/errors.h"
#include "app/exr_planes.h"
#include "app/file_overview.h"
#include "exr_test_files.h"
#include "test_files.h"

namespace kestrion {
namespace {

using test_files::ExrPartLayout;
using test_files::ScratchDirectory;

const Imath::Box2i SMALL{{0, 0}, {6, 4}};

// Part 0 of the file as OpenEXR's C++ reader decodes it: the oracle for
// the document's own decoding.
ExrDocument ReadThroughCxx(Imf::MultiPartInputFile& file) {
  ExrPart part{file.header(0), {}};
  const Imath::Box2i& window = part.DataWindow();
  const size_t count = static_cast<size_t>(part.Width()) * static_cast<size_t>(part.Height());
  Imf::FrameBuffer frame;
  for (auto it = part.header.channels().begin(); it != part.header.channels().end(); ++it) {
    ExrChannel channel{it.name(), std::vector<float>()};
    if (it.channel().type == Imf::HALF) channel.samples = std::vector<half>(count);
    if (it.channel().type == Imf::FLOAT) channel.samples = std::vector<float>(count);
    if (it.channel().type == Imf::UINT) channel.samples = std::vector<uint32_t>(count);
    part.channels.push_back(std::move(channel));
  }
  for (ExrChannel& channel : part.channels) {
    frame.insert(channel.name, Imf::Slice::Make(channel.Type(), channel.Bytes(), window));
  }
  if (part.Tiled()) {
    Imf::TiledInputPart input(file, 0);
    input.setFrameBuffer(frame);
    input.readTiles(0, input.numXTiles() - 1, 0, input.numYTiles() - 1);
  } else {
    Imf::InputPart input(file, 0);
    input.setFrameBuffer(frame);
    input.readPixels(window.min.y, window.max.y);
  }
  ExrDocument document;
  document.parts.push_back(std::move(part));
  return document;
}

template <typename Set>
RoleOptions Options(Set set) {
  RoleOptions options;
  set(options);
  return options;
}

std::vector<test_files::ExrChannelLayout> Channels(std::initializer_list<const char*> names,
                                                   Imf::PixelType type) {
  std::vector<test_files::ExrChannelLayout> channels;
  for (const char* name : names) channels.push_back({name, type});
  return channels;
}

template <typename... Lists>
std::vector<test_files::ExrChannelLayout> Join(Lists... lists) {
  std::vector<test_files::ExrChannelLayout> all;
  (all.insert(all.end(), lists.begin(), lists.end()), ...);
  return all;
}

ExrPartLayout RootRgbaZ() {
  return test_files::Part(
      "", SMALL, SMALL,
      Join(Channels({"R", "G", "B", "A"}, Imf::HALF), Channels({"Z"}, Imf::FLOAT)));
}

ExrPartLayout ViewLayer() {
  return test_files::Part(
      "", SMALL, SMALL,
      Join(Channels({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                     "ViewLayer.Combined.A", "ViewLayer.DiffCol.R", "ViewLayer.DiffCol.G",
                     "ViewLayer.DiffCol.B", "ViewLayer.Depth.Z", "ViewLayer.IndexOB.X"},
                    Imf::FLOAT)));
}

// Colour in "rgba"; depth in a part whose data window holds only part of it.
std::vector<ExrPartLayout> RgbaAndDepthParts() {
  return {test_files::Part("rgba", SMALL, SMALL, Channels({"R", "G", "B", "A"}, Imf::HALF)),
          test_files::Part("depth", Imath::Box2i{{2, 1}, {8, 3}}, SMALL,
                           Channels({"depth.Z"}, Imf::FLOAT))};
}

// A beauty with AOVs, renderer attributes, an offset display window and a
// data window reaching beyond it (overscan).
ExrPartLayout AovsWithOverscan() {
  ExrPartLayout layout = test_files::Part(
      "", Imath::Box2i{{-3, 8}, {11, 14}}, Imath::Box2i{{-1, 10}, {8, 13}},
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

std::vector<FileCase> FileCases() {
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

void ExpectSameDocument(const ExrDocument& a, const ExrDocument& b) {
  ASSERT_EQ(a.parts.size(), b.parts.size());
  for (size_t p = 0; p < a.parts.size(); ++p) {
    auto attributes = test_files::AttributeBytes(a.parts[p].header);
    EXPECT_EQ(attributes, test_files::AttributeBytes(b.parts[p].header)) << "part " << p;
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

TEST(ExrDocument, WritesEveryPartBackUnchanged) {
  ScratchDirectory dir;
  for (const FileCase& c : FileCases()) {
    SCOPED_TRACE(c.name);
    test_files::WriteExrFile(dir / "in.exr", c.parts);
    const ExrDocument read = ReadExrDocument(dir / "in.exr");
    ASSERT_EQ(read.parts.size(), c.parts.size());
    // The samples are the generated ones, at the right pixels.
    const ExrPart& part = read.parts.back();
    const ExrChannel& last = part.channels.back();
    const Imath::Box2i& w = part.DataWindow();
    const double expected = test_files::SampleAt(
        last.name, static_cast<int>(c.parts.back().channels.size()) - 1, w.max.x, w.max.y - 1);
    EXPECT_NEAR(last.ExactValue(*part.IndexOf(w.max.x, w.max.y - 1)), expected, 1e-3);
    EXPECT_EQ(part.Tiled(), c.parts.back().tiled);

    WriteExrDocument(read, dir / "out.exr");
    ExpectSameDocument(read, ReadExrDocument(dir / "out.exr"));
    EXPECT_EQ(Imf::isMultiPart(Imf::MultiPartInputFile((dir / "out.exr").c_str()).version()),
              c.parts.size() > 1);

    WriteExrDocument(read, dir / "zip.exr", Imf::ZIPS_COMPRESSION);
    const ExrDocument recompressed = ReadExrDocument(dir / "zip.exr");
    EXPECT_EQ(recompressed.parts.front().header.compression(), Imf::ZIPS_COMPRESSION);
    ExrDocument expected2 = read;
    // The chunk count follows the compression. (It is copied over rather
    // than erased: this OpenEXR's Header::erase leaks the attribute.)
    for (size_t i = 0; i < expected2.parts.size(); ++i) {
      Imf::Header& header = expected2.parts[i].header;
      header.compression() = Imf::ZIPS_COMPRESSION;
      const auto* count =
          recompressed.parts[i].header.findTypedAttribute<Imf::IntAttribute>("chunkCount");
      if (auto* mine = header.findTypedAttribute<Imf::IntAttribute>("chunkCount"); mine && count) {
        mine->value() = count->value();
      }
    }
    ExpectSameDocument(expected2, recompressed);
  }
}

// Every compression OpenEXR writes, scanline and tiled, with a data window
// off the origin and every pixel type: the document holds exactly the
// samples OpenEXR's C++ reader decodes from the file, lossy ones included.
TEST(ExrDocument, DecodesEveryCompressionAsOpenExrsReaderDoes) {
  ScratchDirectory dir;
  const Imath::Box2i window{{-3, 2}, {40, 37}};
  for (const Imf::Compression compression :
       {Imf::NO_COMPRESSION, Imf::RLE_COMPRESSION, Imf::ZIPS_COMPRESSION, Imf::ZIP_COMPRESSION,
        Imf::PIZ_COMPRESSION, Imf::PXR24_COMPRESSION, Imf::B44_COMPRESSION, Imf::B44A_COMPRESSION,
        Imf::DWAA_COMPRESSION, Imf::DWAB_COMPRESSION}) {
    for (const bool tiled : {false, true}) {
      SCOPED_TRACE(CompressionName(compression) + (tiled ? " tiled" : " scanline"));
      ExrPartLayout layout =
          test_files::Part("", window, window,
                           Join(Channels({"R", "G", "B", "A"}, Imf::HALF),
                                Channels({"Z"}, Imf::FLOAT), Channels({"objectId"}, Imf::UINT)));
      layout.compression = compression;
      layout.tiled = tiled;
      test_files::WriteExrFile(
          dir / "in.exr", {layout}, [](const std::string& name, int k, int x, int y) {
            // Irregular values, so that lossy compressions lose something.
            return test_files::SampleAt(name, k, x, y) * (1.0 + 0.37 * std::sin(x * 1.7 + y * 0.9));
          });
      const ExrDocument document = ReadExrDocument(dir / "in.exr");
      Imf::MultiPartInputFile file((dir / "in.exr").c_str());
      const ExrDocument expected = ReadThroughCxx(file);
      ASSERT_EQ(document.parts.size(), 1u);
      for (const ExrChannel& channel : expected.parts[0].channels) {
        const ExrChannel* read = document.parts[0].Find(channel.name);
        ASSERT_NE(read, nullptr) << channel.name;
        ASSERT_EQ(read->ByteSize(), channel.ByteSize());
        EXPECT_EQ(std::memcmp(read->Bytes(), channel.Bytes(), channel.ByteSize()), 0)
            << channel.name;
      }
    }
  }
}

TEST(ExrDocument, RefusesWhatItCannotHoldInOneLine) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "in.exr", {RootRgbaZ()});
  try {
    ResourceLimits limits;
    limits.memoryLimit = 100;
    ReadExrDocument(dir / "in.exr", limits);
    FAIL() << "read past the memory limit";
  } catch (const CommandError& e) {
    EXPECT_NE(std::string(e.what()).find("reading it needs about 420 bytes, more than the 100 "
                                         "bytes memory limit (--memory-limit)"),
              std::string::npos)
        << e.what();
  }
  test_files::WriteText(dir / "bad.exr", "not an image");
  EXPECT_THROW(ReadExrDocument(dir / "bad.exr"), CommandError);
  EXPECT_THROW(ReadExrDocument(dir / "missing.exr"), CommandError);
}

// A role as "part:name", empty when there is none.
std::string Text(const std::optional<ChannelRef>& ref) {
  return ref ? std::to_string(ref->part) + ":" + ref->name : "";
}

struct RolesCase {
  const char* name;
  std::vector<ExrPartLayout> parts;
  RoleOptions options;
  const char* red;
  const char* alpha;
  const char* depth;
  const char* objectId;
  size_t colourChannels;
};

TEST(ChannelRoles, FindsRolesByRenderersNames) {
  ScratchDirectory dir;
  const std::vector<RolesCase> cases{
      {"root", {RootRgbaZ()}, {}, "0:R", "0:A", "0:Z", "", 3},
      {"view layer",
       {ViewLayer()},
       {},
       "0:ViewLayer.Combined.R",
       "0:ViewLayer.Combined.A",
       "0:ViewLayer.Depth.Z",
       "0:ViewLayer.IndexOB.X",
       3},
      {"depth in another part", RgbaAndDepthParts(), {}, "0:R", "0:A", "1:depth.Z", "", 3},
      {"all further layers but cryptomatte",
       {AovsWithOverscan()},
       Options([](RoleOptions& o) { o.layers = {"all"}; }),
       "0:R",
       "0:A",
       "0:Z",
       "0:objectId",
       3 + 3 + 3},
  };
  for (const RolesCase& c : cases) {
    SCOPED_TRACE(c.name);
    test_files::WriteExrFile(dir / "in.exr", c.parts);
    const ChannelRoles roles = FindChannelRoles(ReadExrDocument(dir / "in.exr"), c.options);
    EXPECT_EQ(Text(roles.colour.front()), c.red);
    EXPECT_EQ(Text(roles.alpha), c.alpha);
    EXPECT_EQ(Text(roles.depth), c.depth);
    EXPECT_EQ(Text(roles.objectId), c.objectId);
    EXPECT_EQ(roles.colour.size(), c.colourChannels);
  }
  // Explicit choices win over the conventions.
  test_files::WriteExrFile(dir / "in.exr", {ViewLayer()});
  const ExrDocument document = ReadExrDocument(dir / "in.exr");
  const ChannelRoles roles = FindChannelRoles(document, Options([](RoleOptions& o) {
                                                o.layer = "ViewLayer.DiffCol";
                                                o.depthChannel = "0:ViewLayer.Depth.Z";
                                                o.layers = {"ViewLayer.Combined"};
                                              }));
  EXPECT_EQ(roles.colour.front(), (ChannelRef{0, "ViewLayer.DiffCol.R"}));
  EXPECT_FALSE(roles.alpha);
  EXPECT_EQ(roles.colour.size(), 3u + 4u);
}

TEST(ChannelRoles, MissingOrAmbiguousRolesNameTheOptionAndListTheParts) {
  ExrPartLayout twoLayers = test_files::Part(
      "", SMALL, SMALL, Channels({"a.R", "a.G", "a.B", "b.R", "b.G", "b.B", "Z"}, Imf::HALF));
  ExrPartLayout noDepth = test_files::Part("", SMALL, SMALL, Channels({"R", "G", "B"}, Imf::HALF));
  std::vector<ExrPartLayout> twoRoots{
      test_files::Part("left", SMALL, SMALL, Channels({"R", "G", "B"}, Imf::HALF)),
      test_files::Part("right", SMALL, SMALL, Channels({"R", "G", "B", "Z"}, Imf::FLOAT))};
  struct Case {
    std::vector<ExrPartLayout> parts;
    RoleOptions options;
    const char* firstLine;
    const char* listed;
  };
  const std::vector<Case> cases{
      {{twoLayers},
       {},
       "several colour layers (0:a, 0:b); choose one with --layer",
       "a.(B,G,R) half; b.(B,G,R) half"},
      {{noDepth}, {}, "no depth channel", "part 0 scanline 7 x 5 at (0, 0): (B,G,R) half"},
      {twoRoots, {}, "choose one with --part", "part 1 \"right\""},
      {{noDepth},
       Options([](RoleOptions& o) { o.objectIdChannel = "objectId"; }),
       "no channel objectId in any part (--object-id-channel)",
       "part 0"},
      {{RootRgbaZ()},
       Options([](RoleOptions& o) { o.layers = {"diffuse"}; }),
       "no layer 'diffuse' (--layers)",
       "part 0"},
  };
  ScratchDirectory dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLine);
    test_files::WriteExrFile(dir / "in.exr", c.parts);
    const ExrDocument document = ReadExrDocument(dir / "in.exr");
    try {
      FindChannelRoles(document, c.options);
      ADD_FAILURE() << "no error";
    } catch (const CommandError& e) {
      const std::string message = e.what();
      const std::string first = message.substr(0, message.find('\n'));
      EXPECT_EQ(first.rfind(dir / "in.exr: ", 0), 0u) << first;
      EXPECT_NE(first.find(c.firstLine), std::string::npos) << first;
      EXPECT_NE(message.find(c.listed, first.size()), std::string::npos) << message;
    }
  }
}

TEST(ExrPlanes, MapsOtherPartsByPixelAndChecksIds) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "in.exr", RgbaAndDepthParts());
  ExrDocument document = ReadExrDocument(dir / "in.exr");
  const FramePlanes planes = ExtractPlanes(document, FindChannelRoles(document, {}));
  ASSERT_EQ(planes.width, 7);
  ASSERT_EQ(planes.height, 5);
  ASSERT_TRUE(planes.depth && planes.alpha);
  EXPECT_EQ(planes.colourNames, (std::vector<std::string>{"R", "G", "B"}));
  // The depth part holds x 2..8, y 1..3: elsewhere is background.
  EXPECT_TRUE(std::isinf((*planes.depth)[0 * 7 + 3]));
  EXPECT_TRUE(std::isinf((*planes.depth)[2 * 7 + 1]));
  EXPECT_FLOAT_EQ((*planes.depth)[2 * 7 + 6], test_files::SampleAt("depth.Z", 0, 6, 2));
  EXPECT_FLOAT_EQ(planes.colour[1][4 * 7 + 5], half(test_files::SampleAt("G", 1, 5, 4)));

  // Object IDs stored as FLOAT whole numbers are IDs; a fraction is not.
  test_files::WriteExrFile(dir / "ids.exr", {ViewLayer()});
  document = ReadExrDocument(dir / "ids.exr");
  const ChannelRoles roles = FindChannelRoles(document, {});
  const FramePlanes ids = ExtractPlanes(document, roles);
  ASSERT_TRUE(ids.objectId);
  EXPECT_EQ((*ids.objectId)[3 * 7 + 4], (4 + 2 * 3 + 8) % 5);
  document.parts[0].Find("ViewLayer.IndexOB.X")->SetValue(*document.parts[0].IndexOf(5, 2), 2.5f);
  try {
    ExtractPlanes(document, roles);
    FAIL() << "a fractional ID passed";
  } catch (const CommandError& e) {
    EXPECT_NE(std::string(e.what()).find("ViewLayer.IndexOB.X holds 2.5 at pixel (5, 2)"),
              std::string::npos)
        << e.what();
  }
}

// ID channels hold whole numbers in range; anything else would end up as
// another ID, so it is refused with the first pixel and a count of the rest.
TEST(ExrPlanes, ValuesThatAreNotIdsNameTheFirstPixelAndCountTheRest) {
  ScratchDirectory dir;
  struct Pixel {
    int x, y;
    double value;
  };
  struct Case {
    const char* what;
    Imf::PixelType objectType, materialType;
    std::vector<Pixel> objectIds, materialIds;
    std::string error;  // empty: the IDs are read as they are
  };
  const double nan = std::nan("");
  const std::vector<Case> cases = {
      {"fractions and negatives",
       Imf::FLOAT,
       Imf::UINT,
       {{2, 3, -1.0}, {4, 1, 3.7}},
       {},
       "channel objectId holds 3.70000005 at pixel (4, 1) (and 1 more pixel), not an ID (a "
       "whole number 0 to 65535)"},
      {"above the object range",
       Imf::FLOAT,
       Imf::UINT,
       {{6, 4, 65536.0}},
       {},
       "holds 65536 at pixel (6, 4), not an ID (a whole number 0 to 65535)"},
      {"NaN",
       Imf::FLOAT,
       Imf::UINT,
       {{1, 0, nan}, {2, 0, nan}, {3, 4, 0.5}},
       {},
       "holds nan at pixel (1, 0) (and 2 more pixels)"},
      {"above the material range",
       Imf::FLOAT,
       Imf::UINT,
       {},
       {{3, 2, 256.0}},
       "channel materialId holds 256 at pixel (3, 2), not an ID (a whole number 0 to 255)"},
      {"a half fraction", Imf::HALF, Imf::HALF, {}, {{5, 1, 2.5}}, "materialId holds 2.5 at pixel"},
      {"the largest IDs", Imf::FLOAT, Imf::UINT, {{5, 3, 65535.0}}, {{5, 3, 255.0}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto at = [](const std::vector<Pixel>& pixels, int x, int y) -> std::optional<double> {
      for (const Pixel& p : pixels) {
        if (p.x == x && p.y == y) return p.value;
      }
      return std::nullopt;
    };
    test_files::WriteExrFile(
        dir / "ids.exr",
        {test_files::Part(
            "", SMALL, SMALL,
            Join(Channels({"R", "G", "B"}, Imf::HALF), Channels({"Z"}, Imf::FLOAT),
                 Channels({"objectId"}, c.objectType), Channels({"materialId"}, c.materialType)))},
        [&](const std::string& name, int k, int x, int y) {
          const auto set = at(name == "objectId" ? c.objectIds : c.materialIds, x, y);
          return set && name.ends_with("Id") ? *set : test_files::SampleAt(name, k, x, y);
        });
    const ExrDocument document = ReadExrDocument(dir / "ids.exr");
    const ChannelRoles roles = FindChannelRoles(document, {});
    try {
      const FramePlanes planes = ExtractPlanes(document, roles);
      EXPECT_TRUE(c.error.empty()) << "accepted";
      ASSERT_TRUE(planes.objectId && planes.materialId);
      EXPECT_EQ((*planes.objectId)[3 * 7 + 5], 65535);
      EXPECT_EQ((*planes.materialId)[3 * 7 + 5], 255);
      EXPECT_EQ((*planes.objectId)[2 * 7 + 1], test_files::SampleAt("objectId", 4, 1, 2));
    } catch (const CommandError& e) {
      const std::string message = e.what();
      EXPECT_EQ(e.ExitCode(), EXIT_FAILED);
      EXPECT_EQ(message.rfind(dir / "ids.exr: ", 0), 0u) << message;
      EXPECT_FALSE(c.error.empty()) << message;
      EXPECT_NE(message.find(c.error), std::string::npos) << message;
    }
  }
}

TEST(ExrPlanes, ReplacedChannelsKeepTheirTypeAndTheRestStays) {
  ScratchDirectory dir;
  for (const FileCase& c : FileCases()) {
    SCOPED_TRACE(c.name);
    test_files::WriteExrFile(dir / "in.exr", c.parts);
    const ExrDocument original = ReadExrDocument(dir / "in.exr");
    const ChannelRoles roles =
        FindChannelRoles(original, Options([](RoleOptions& o) { o.layers = {"all"}; }));
    // An identity filter changes nothing, to the byte.
    ExrDocument document = original;
    ReplacePlanes(document, roles, ExtractPlanes(document, roles));
    WriteExrDocument(document, dir / "out.exr");
    ExpectSameDocument(original, ReadExrDocument(dir / "out.exr"));

    // A real change lands in the colour's own type, nowhere else.
    FramePlanes planes = ExtractPlanes(document, roles);
    for (float& v : planes.colour[0]) v *= 2.0f;
    ReplacePlanes(document, roles, planes);
    const ExrChannel& red = *document.parts[roles.colourPart].Find(roles.colour[0].name);
    const ExrChannel& was = *original.parts[roles.colourPart].Find(roles.colour[0].name);
    EXPECT_EQ(red.Type(), was.Type());
    EXPECT_FLOAT_EQ(red.Value(9), 2.0f * was.Value(9));
    const ExrChannel& green = *document.parts[roles.colourPart].Find(roles.colour[1].name);
    EXPECT_EQ(0, std::memcmp(green.Bytes(),
                             original.parts[roles.colourPart].Find(roles.colour[1].name)->Bytes(),
                             green.ByteSize()));
  }
}

TEST(InspectCommand, DescribesAMultiPartFile) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "shot.exr", RgbaAndDepthParts());
  const std::string report = dir / "report.txt";
  std::FILE* out = std::fopen(report.c_str(), "w");
  ASSERT_TRUE(out);
  RunInspect({dir / "shot.exr", "3,2", {}}, out);
  std::fclose(out);
  const std::string text = test_files::ReadText(report);
  for (const std::string& expected : std::vector<std::string>{
           "2 parts", "part 0 \"rgba\": scanline, zip, 4 channels", "part 1 \"depth\"",
           "data window    7 x 3 at (2, 1)", "layer depth    Z float",
           "depth        depth.Z (float, part 1 \"depth\")", "background 57.14286% of pixels",
           "pixel (3, 2), file coordinates (3, 2)", "depth.Z                  11.25",
           "suggested: kestrion render " + (dir / "shot.exr") + " -o " + (dir / "shot.dof.exr") +
               " --focus-pixel 3,2"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
}

}  // namespace
}  // namespace kestrion
