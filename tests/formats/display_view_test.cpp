// Review pixels through a colour configuration's display and view, the
// refusals of names a configuration lacks, and the choice of configuration.
#include "formats/display_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "base/errors.h"
#include "formats/image.h"
#include "formats/review_io.h"
#include "tests/support/test_files.h"
#include "tests/support/view_config.h"

namespace kestrion {
namespace {

using test_files::ScratchDirectory;
using test_files::WriteText;

class ViewConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::copy_file(test_files::SMALL_VIEW_CONFIG_PATH, config); }

  // The message of the UsageError that opening `choice` throws; empty (and
  // a failure) when it opens.
  std::string Refusal(ViewChoice choice) {
    choice.config = choice.config.empty() ? config : choice.config;
    try {
      OpenDisplayView(choice);
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::Usage);
      return e.what();
    }
    ADD_FAILURE() << "opened";
    return {};
  }

  ScratchDirectory dir;
  std::string config = dir / "small.ocio";
};

FramePlanes Ramp(int32_t width, bool withAlpha) {
  FramePlanes frame;
  frame.width = width;
  frame.height = 2;
  frame.colour.assign(3, Plane(frame.PixelCount()));
  frame.colourNames = {"R", "G", "B"};
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    frame.colour[0][i] = static_cast<float>(i) / static_cast<float>(frame.PixelCount());
    frame.colour[1][i] = 0.18f;
    frame.colour[2][i] = 1.5f * frame.colour[0][i];
  }
  if (withAlpha) {
    frame.alphaMode = AlphaMode::Premultiplied;
    frame.alpha = Plane(frame.PixelCount(), 0.5f);
    (*frame.alpha)[0] = 0.0f;
    for (Plane& plane : frame.colour) {
      for (size_t i = 0; i < plane.size(); ++i) plane[i] *= (*frame.alpha)[i];
    }
  }
  return frame;
}

TEST_F(ViewConfigTest, PlainSrgbViewEncodesMiddleGrey) {
  const auto view = OpenDisplayView({config, "sRGB", "Standard", ""});
  float rgb[4] = {0.18f, 0.18f, 0.18f, 1.0f};
  view->Apply(rgb, 1);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(rgb[c], 0.4613f, 0.001f);
}

TEST_F(ViewConfigTest, EmptyNamesTakeTheDefaults) {
  const auto view = OpenDisplayView({config, "", "", ""});
  EXPECT_EQ(view->Choice().display, "sRGB");
  EXPECT_EQ(view->Choice().view, "Standard");
  const auto flat = OpenDisplayView({config, "Flat", "", ""});
  EXPECT_EQ(flat->Choice().view, "Raw");
}

TEST_F(ViewConfigTest, ViewsAndLooksChangeTheLight) {
  float dim[4] = {0.72f, 0.72f, 0.72f, 1.0f};
  OpenDisplayView({config, "sRGB", "Dim", ""})->Apply(dim, 1);
  EXPECT_NEAR(dim[0], SrgbEncode(0.18f), 0.001f);
  float brighter[4] = {0.09f, 0.09f, 0.09f, 1.0f};
  OpenDisplayView({config, "sRGB", "Standard", "Brighter"})->Apply(brighter, 1);
  EXPECT_NEAR(brighter[0], SrgbEncode(0.18f), 0.001f);
  float raw[4] = {0.3f, 2.0f, -0.1f, 1.0f};
  OpenDisplayView({config, "Flat", "Raw", ""})->Apply(raw, 1);
  EXPECT_FLOAT_EQ(raw[0], 0.3f);
  EXPECT_FLOAT_EQ(raw[1], 2.0f);
}

TEST_F(ViewConfigTest, NamesTheConfigurationOffers) {
  const ViewNames names = ReadViewNames(config);
  EXPECT_EQ(names.defaultDisplay, "sRGB");
  EXPECT_EQ(names.displays, (std::vector<std::string>{"sRGB", "Flat"}));
  ASSERT_EQ(names.views.size(), 2u);
  EXPECT_EQ(names.views[0], (std::vector<std::string>{"Standard", "Dim"}));
  EXPECT_EQ(names.looks, std::vector<std::string>{"Brighter"});
}

TEST_F(ViewConfigTest, UnknownNamesAreRefusedWithTheChoices) {
  const std::string display = Refusal({"", "P3", "", ""});
  EXPECT_NE(display.find("no display 'P3'"), std::string::npos) << display;
  EXPECT_NE(display.find("sRGB, Flat"), std::string::npos) << display;
  const std::string view = Refusal({"", "sRGB", "Filmic", ""});
  EXPECT_NE(view.find("no view 'Filmic'"), std::string::npos) << view;
  EXPECT_NE(view.find("Standard, Dim"), std::string::npos) << view;
  // A view of another display is not this display's.
  EXPECT_NE(Refusal({"", "sRGB", "Raw", ""}).find("no view"), std::string::npos);
  const std::string look = Refusal({"", "sRGB", "", "Punchy"});
  EXPECT_NE(look.find("no look 'Punchy'"), std::string::npos) << look;
  EXPECT_NE(look.find("Brighter"), std::string::npos) << look;
}

TEST_F(ViewConfigTest, MissingOrBrokenConfigurationNamesTheFileAndWhy) {
  const std::string missing = Refusal({dir / "absent.ocio", "", "", ""});
  EXPECT_NE(missing.find("absent.ocio"), std::string::npos) << missing;
  EXPECT_NE(missing.find("no such file"), std::string::npos) << missing;
  WriteText(dir / "broken.ocio", "ocio_profile_version: 2\ncolorspaces: [\n");
  const std::string broken = Refusal({dir / "broken.ocio", "", "", ""});
  EXPECT_NE(broken.find("broken.ocio"), std::string::npos) << broken;
  EXPECT_NE(broken.find("not a usable colour configuration: "), std::string::npos) << broken;
  // The library's own reason follows.
  EXPECT_GT(broken.size(), broken.find("configuration: ") + 20) << broken;
  EXPECT_NE(Refusal({dir / "", "", "", ""}).find("not a regular file"), std::string::npos);
}

TEST_F(ViewConfigTest, ReviewPixelsThroughThePlainViewMatchTheBuiltInEncode) {
  for (const bool withAlpha : {false, true}) {
    const FramePlanes frame = Ramp(300, withAlpha);
    ReviewLook viewed;
    viewed.view = OpenDisplayView({config, "sRGB", "Standard", ""});
    const std::vector<uint8_t> builtIn = ReviewPixels8(frame, "ramp", ReviewLook{});
    const std::vector<uint8_t> through = ReviewPixels8(frame, "ramp", viewed);
    ASSERT_EQ(through.size(), builtIn.size());
    for (size_t i = 0; i < through.size(); ++i) {
      ASSERT_LE(std::abs(through[i] - builtIn[i]), 1) << "sample " << i << " alpha " << withAlpha;
    }
    // Colour under alpha 0 is cleared as the built-in encode clears it.
    if (withAlpha) {
      EXPECT_EQ(through[0], 0);
    }
  }
}

TEST_F(ViewConfigTest, ExposureAndGammaApplyAroundTheView) {
  const FramePlanes frame = Ramp(64, false);
  ReviewLook look;
  look.view = OpenDisplayView({config, "sRGB", "Standard", ""});
  look.exposure = 2.0f;
  ReviewLook dim;
  dim.view = OpenDisplayView({config, "sRGB", "Dim", ""});
  // Dim is two stops down: two stops up again is the plain view.
  const std::vector<uint8_t> plain = ReviewPixels8(frame, "ramp", ReviewLook{});
  dim.exposure = 2.0f;
  const std::vector<uint8_t> restored = ReviewPixels8(frame, "ramp", dim);
  for (size_t i = 0; i < plain.size(); ++i) ASSERT_LE(std::abs(plain[i] - restored[i]), 1) << i;
  // Gamma 2 is the square root of the display value: middle grey's 0.4613
  // shows as 0.679.
  look.exposure = 0.0f;
  look.gamma = 2.0f;
  const std::vector<uint8_t> lifted = ReviewPixels8(frame, "ramp", look);
  EXPECT_NEAR(lifted[1], std::lround(255.0 * std::sqrt(0.4613)), 1);
}

TEST(ViewConfigChoice, OptionThenEnvironmentThenInstalledThenNone) {
  ScratchDirectory dir;
  const std::string installed = dir / "installed.ocio";
  WriteText(installed, "x");
  const std::vector<std::string> list{dir / "absent.ocio", installed};
  EXPECT_EQ(ChooseViewConfig(std::string("given.ocio"), "env.ocio", list), "given.ocio");
  EXPECT_EQ(ChooseViewConfig(std::string("none"), "env.ocio", list), std::nullopt);
  EXPECT_EQ(ChooseViewConfig(std::nullopt, "env.ocio", list), "env.ocio");
  EXPECT_EQ(ChooseViewConfig(std::nullopt, "", list), installed);
  EXPECT_EQ(ChooseViewConfig(std::nullopt, nullptr, {dir / "absent.ocio"}), std::nullopt);
}

TEST(ViewConfigChoice, InstalledBlenderConfigurationsNewestFirst) {
  ScratchDirectory dir;
  for (const char* version : {"3.3", "3.4", "empty"}) {
    std::filesystem::create_directories(dir / version);
  }
  for (const char* version : {"3.3", "3.4"}) {
    const std::string folder = dir / (std::string(version) + "/datafiles/colormanagement");
    std::filesystem::create_directories(folder);
    WriteText(folder + "/config.ocio", "x");
  }
  std::vector<std::string> found = InstalledBlenderConfigs(dir / "");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_NE(found[0].find("3.4"), std::string::npos);
  EXPECT_NE(found[1].find("3.3"), std::string::npos);
  // Debian's, in no version folder, comes first.
  std::filesystem::create_directories(dir / "datafiles/colormanagement");
  WriteText(dir / "datafiles/colormanagement/config.ocio", "x");
  found = InstalledBlenderConfigs(dir / "");
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], dir / "datafiles/colormanagement/config.ocio");
  EXPECT_TRUE(InstalledBlenderConfigs(dir / "absent").empty());
}

}  // namespace
}  // namespace kestrion
