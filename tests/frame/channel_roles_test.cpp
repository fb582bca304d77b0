// Channel roles, the planes between a document and a render, and what
// `kestrion inspect` says about a file.
#include "frame/channel_roles.h"

#include <ImfMatrixAttribute.h>
#include <ImfStringAttribute.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "frame/exr_planes.h"
#include "frame/file_overview.h"
#include "tests/support/exr_layouts.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using namespace test_files;

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

template <typename Set>
RoleOptions Options(Set set) {
  RoleOptions options;
  set(options);
  return options;
}

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
      // The colour AOV, not the normals or the Cryptomatte.
      {"all further colour layers",
       {AovsWithOverscan()},
       Options([](RoleOptions& o) { o.layers = {"all"}; }),
       "0:R",
       "0:A",
       "0:Z",
       "0:objectId",
       3 + 3},
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
  // The options as a command line names them; with the library's own
  // labels no message spells a flag.
  SettingLabels flags;
  flags.part = "--part";
  flags.layer = "--layer";
  flags.layers = "--layers";
  flags.depthChannel = "--depth-channel";
  flags.objectIdChannel = "--object-id-channel";
  ScratchDirectory dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLine);
    test_files::WriteExrFile(dir / "in.exr", c.parts);
    const ExrDocument document = ReadExrDocument(dir / "in.exr");
    try {
      FindChannelRoles(document, c.options);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.find("--"), std::string::npos) << message;
    }
    try {
      FindChannelRoles(document, c.options, flags);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
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
  } catch (const Error& e) {
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
    } catch (const Error& e) {
      const std::string message = e.what();
      EXPECT_EQ(e.Kind(), ErrorKind::Input);
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

TEST(FileOverview, DescribesAMultiPartFile) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "shot.exr", RgbaAndDepthParts());
  InspectOptions options;
  options.input = dir / "shot.exr";
  options.pixel = "3,2";
  const FileOverview overview = InspectFile(options);
  ASSERT_EQ(overview.parts.size(), 2u);
  const OverviewPart& rgba = overview.parts[0];
  EXPECT_EQ(rgba.name, "rgba");
  EXPECT_FALSE(rgba.tiled);
  EXPECT_EQ(rgba.compression, "zip");
  EXPECT_EQ(rgba.channels.size(), 4u);
  const OverviewPart& depth = overview.parts[1];
  EXPECT_EQ(depth.name, "depth");
  EXPECT_EQ(depth.dataWindow.minX, 2);
  EXPECT_EQ(depth.dataWindow.minY, 1);
  EXPECT_EQ(depth.dataWindow.maxX, 8);
  EXPECT_EQ(depth.dataWindow.maxY, 3);
  ASSERT_EQ(depth.channels.size(), 1u);
  EXPECT_EQ(depth.channels[0].name, "depth.Z");
  EXPECT_EQ(depth.channels[0].type, "float");
  ASSERT_TRUE(overview.roles && overview.roles->depth);
  EXPECT_EQ(overview.roles->depth->part, 1);
  EXPECT_EQ(overview.roles->depth->name, "depth.Z");
  ASSERT_TRUE(overview.depth);
  EXPECT_EQ(overview.depth->pixels, 35u);
  EXPECT_EQ(overview.depth->background, 20u);  // 57.14286 % of the pixels
  ASSERT_TRUE(overview.pixel);
  EXPECT_EQ(overview.pixel->fileX, 3);
  EXPECT_EQ(overview.pixel->fileY, 2);
  ASSERT_EQ(overview.pixel->parts.size(), 2u);
  ASSERT_TRUE(overview.pixel->parts[1].inside);
  EXPECT_EQ(overview.pixel->parts[1].values,
            (std::vector<std::pair<std::string, double>>{{"depth.Z", 11.25}}));
  EXPECT_TRUE(overview.usable);
  EXPECT_TRUE(overview.pixelHasGeometry);
}

}  // namespace
}  // namespace kestrion
