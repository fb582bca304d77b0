// What a multilayer render as Blender writes it meets in the frame library:
// roles from the chosen view layer, data passes left out of --layers all,
// the sky's far depth as background, and focus on an object by its name
// through the Cryptomatte manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "frame/channel_roles.h"
#include "frame/cryptomatte.h"
#include "frame/file_overview.h"
#include "frame/frame_render.h"
#include "tests/support/blender_renders.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::BlenderLayer;
using test_files::BlenderObject;
using test_files::BlenderRender;
using test_files::ScratchDirectory;

// A monkey in front of a cube, both over the ground, under a sky. The
// monkey's right column covers 0.4 of its pixels, the cube behind the rest.
BlenderRender Scene() {
  BlenderRender render;
  render.transparentFilm = true;
  BlenderLayer& layer = render.layers.front();
  layer.objects = {{"Ground", 0, 11, 24, 16, 0.0f, 9.0f, {0.3f, 0.5f, 0.2f}, 0.0f, 0.0f},
                   {"Monkey", 6, 4, 12, 10, 0.4f, 4.0f, {0.9f, 0.6f, 0.3f}, 0.0f, 1.0f},
                   {"Cube", 12, 2, 20, 9, 0.0f, 6.5f, {0.2f, 0.2f, 0.8f}, 0.0f, 2.0f}};
  return render;
}

// The scene with a second view layer "Fg" holding the monkey alone, without
// index passes of its own.
BlenderRender TwoViewLayers() {
  BlenderRender render = Scene();
  BlenderLayer fg;
  fg.name = "Fg";
  fg.objects = {render.layers.front().objects[1]};
  fg.indexPasses = false;
  render.layers.push_back(fg);
  return render;
}

std::vector<std::string> Names(const std::vector<ChannelRef>& refs) {
  std::vector<std::string> names;
  for (const ChannelRef& ref : refs) names.push_back(ref.name);
  return names;
}

TEST(BlenderRenders, RolesAndFurtherLayersComeFromTheChosenViewLayer) {
  ScratchDirectory dir;
  test_files::WriteBlenderRender(dir / "two.exr", TwoViewLayers());
  const ExrDocument document = ReadExrDocument(dir / "two.exr");

  RoleOptions options;
  options.layer = "ViewLayer.Combined";
  options.layers = {"all"};
  ChannelRoles roles = FindChannelRoles(document, options);
  EXPECT_EQ(roles.depth->name, "ViewLayer.Depth.Z");
  EXPECT_EQ(roles.objectId->name, "ViewLayer.IndexOB.X");
  EXPECT_TRUE(roles.warnings.empty());
  // The colour layers of this view layer only, each listed R, G, B: not its
  // normals, mist or Cryptomatte, nor the other view layer's beauty.
  EXPECT_EQ(Names(roles.colour),
            (std::vector<std::string>{"ViewLayer.Combined.R", "ViewLayer.Combined.G",
                                      "ViewLayer.Combined.B", "ViewLayer.DiffCol.R",
                                      "ViewLayer.DiffCol.G", "ViewLayer.DiffCol.B"}));

  options.layer = "Fg.Combined";
  SettingLabels labels;
  labels.objectIdChannel = "--object-id-channel";
  roles = FindChannelRoles(document, options, labels);
  EXPECT_EQ(roles.depth->name, "Fg.Depth.Z");
  EXPECT_EQ(Names(roles.colour).back(), "Fg.DiffCol.B");
  // Fg has no index passes: ViewLayer's are used, and said so.
  ASSERT_TRUE(roles.objectId);
  EXPECT_EQ(roles.objectId->name, "ViewLayer.IndexOB.X");
  ASSERT_EQ(roles.warnings.size(), 2u);
  EXPECT_NE(roles.warnings[0].find("object ID comes from ViewLayer.IndexOB.X"), std::string::npos)
      << roles.warnings[0];
  EXPECT_NE(roles.warnings[0].find("--object-id-channel"), std::string::npos);
  EXPECT_NE(roles.warnings[1].find("ViewLayer.IndexMA.X"), std::string::npos);

  // A data pass named explicitly is filtered all the same.
  options.layers = {"Fg.Normal"};
  EXPECT_EQ(Names(FindChannelRoles(document, options).colour).back(), "Fg.Normal.Z");
}

TEST(BlenderRenders, TheSkysFarDepthIsBackgroundUnlessTheOptionsSayOtherwise) {
  ScratchDirectory dir;
  const BlenderRender scene = Scene();
  test_files::WriteBlenderRender(dir / "sky.exr", scene);
  size_t sky = 0;
  for (int y = 0; y < scene.height; ++y) {
    for (int x = 0; x < scene.width; ++x) sky += CoversAt(scene.layers.front(), x, y).empty();
  }
  ASSERT_GT(sky, 0u);

  RenderSettings settings;
  settings.focusPixel = PixelKeys{{0, {1, 1}}};  // in the sky
  const RenderInput input = ReadFrameInput(dir / "sky.exr", settings);
  try {
    PrepareFrame(input, settings);
    ADD_FAILURE() << "focused on the sky";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Input);
    EXPECT_NE(std::string(e.what()).find("no geometry at pixel (1, 1)"), std::string::npos);
  }
  settings.depth.backgroundFrom = 1.0e30f;  // the sky as geometry, far away
  EXPECT_EQ(PrepareFrame(input, settings).focusDepth, test_files::BLENDER_SKY_DEPTH);

  // inspect counts the sky as background, and its suggested focus is the
  // median of the rest; with --background-from 1e30 it is not.
  InspectOptions inspect;
  inspect.input = dir / "sky.exr";
  const FileOverview near = InspectFile(inspect);
  ASSERT_TRUE(near.usable);
  ASSERT_TRUE(near.depth && near.depth->nearest && near.depth->spread);
  EXPECT_EQ(*near.depth->nearest, 4.0f);
  EXPECT_EQ(*near.depth->farthest, 9.0f);
  EXPECT_EQ(near.depth->background, sky);
  EXPECT_EQ(near.depth->pixels, static_cast<size_t>(scene.width * scene.height));
  EXPECT_EQ(near.depth->spread->median, 9.0f);
  EXPECT_NEAR((near.depth->spread->high - near.depth->spread->low) / 2.0, 2.5, 0.05);
  inspect.depth.backgroundFrom = 1.0e30f;
  const FileOverview far = InspectFile(inspect);
  ASSERT_TRUE(far.depth && far.depth->farthest);
  EXPECT_EQ(*far.depth->nearest, 4.0f);
  EXPECT_EQ(*far.depth->farthest, 1.0e10f);
  EXPECT_EQ(far.depth->background, 0u);
  EXPECT_EQ(far.depthOptions.backgroundFrom, 1.0e30f);
}

// A name whose hash is no normal float's bits, so that its ID is the hash
// with bit 23 flipped.
std::string NameWithExtremeExponent() {
  for (int i = 0;; ++i) {
    const std::string name = "Prop." + std::to_string(i);
    const uint32_t exponent = (test_files::MurmurHash3_32(name) >> 23) & 0xFFu;
    if (exponent == 0 || exponent == 0xFFu) return name;
  }
}

TEST(Cryptomatte, AnObjectsPixelsAreThoseItCoversMostAndItsNameFindsThem) {
  // The hash the mattes rest on, checked against known values.
  EXPECT_EQ(test_files::MurmurHash3_32(""), 0u);
  EXPECT_EQ(test_files::MurmurHash3_32("hello"), 0x248bfa47u);
  EXPECT_EQ(test_files::MurmurHash3_32("The quick brown fox jumps over the lazy dog"), 0x2e4ff723u);

  ScratchDirectory dir;
  BlenderRender scene = Scene();
  const std::string odd = NameWithExtremeExponent();
  scene.layers.front().objects.push_back(
      {odd, 1, 1, 4, 3, 0.0f, 3.0f, {1.0f, 1.0f, 1.0f}, 0.0f, 0.0f});
  test_files::WriteBlenderRender(dir / "crypto.exr", scene);
  RenderSettings settings;
  const RenderInput input = ReadFrameInput(dir / "crypto.exr", settings);
  const std::vector<CryptoMatte> mattes = FindCryptoMattes(*input.document);
  ASSERT_EQ(mattes.size(), 1u);
  EXPECT_EQ(mattes[0].name, "ViewLayer.CryptoObject");
  EXPECT_TRUE(ObjectMatte(mattes[0]));
  const std::vector<uint32_t> top = TopRankedIds(*input.document, input.roles, mattes[0]);
  auto id = [](const std::string& name) {
    const float value = test_files::CryptoId(name);
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  };
  EXPECT_EQ(mattes[0].manifest.at(odd), id(odd));
  EXPECT_EQ(top[5 * scene.width + 11], id("Monkey"));
  EXPECT_EQ(top[5 * scene.width + 12], id("Cube"));  // the monkey covers 0.4 of it
  EXPECT_EQ(top[0], 0u);                             // sky

  // The monkey's depth by name: its edge column, where the cube shows
  // more, is not the monkey's.
  settings.focusObjectName = "Monkey";
  settings.focusStatistic = FocusStatistic::Max;
  EXPECT_EQ(PrepareFrame(input, settings).focusDepth, 4.0f);
  settings.focusObjectName = odd;
  EXPECT_EQ(PrepareFrame(input, settings).focusDepth, 3.0f);

  // A name the manifest lacks says which names it has; a file without an
  // object matte says to give an ID.
  settings.focusObjectName = "Monky";
  try {
    PrepareFrame(input, settings);
    ADD_FAILURE() << "focused on a name the file lacks";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("object 'Monky' is not in the Cryptomatte manifest of "
                           "ViewLayer.CryptoObject (it lists Cube, Ground, Monkey"),
              std::string::npos)
        << message;
  }
  scene.cryptomatte = false;
  test_files::WriteBlenderRender(dir / "plain.exr", scene);
  settings.focusObjectName = "Monkey";
  EXPECT_THROW(PrepareFrame(ReadFrameInput(dir / "plain.exr", settings), settings), Error);

  // inspect lists the names with the pixels each covers most.
  InspectOptions inspect;
  inspect.input = dir / "crypto.exr";
  const FileOverview overview = InspectFile(inspect);
  ASSERT_EQ(overview.mattes.size(), 1u);
  const OverviewMatte& matte = overview.mattes[0];
  EXPECT_EQ(matte.name, "ViewLayer.CryptoObject");
  EXPECT_EQ(matte.part, 0);
  EXPECT_EQ(matte.ranks, 2u);
  EXPECT_TRUE(matte.objects);
  ASSERT_EQ(matte.names.size(), 4u);
  EXPECT_EQ(matte.names[0], (std::pair<std::string, size_t>{"Cube", 56}));
  const auto monkey = std::find_if(matte.names.begin(), matte.names.end(),
                                   [](const auto& named) { return named.first == "Monkey"; });
  ASSERT_NE(monkey, matte.names.end());
  EXPECT_EQ(monkey->second, 37u);
}

}  // namespace
}  // namespace kestrion
