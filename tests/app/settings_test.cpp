#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/errors.h"
#include "test_files.h"

namespace kestrion {
namespace {

TEST(RenderSettings, CommandLineOverridesTheFileFieldByField) {
  test_files::ScratchDirectory dir;
  test_files::WriteText(dir / "s.json",
                        R"({"focusDepth": 20.5, "range": 5, "size": 3.5, "source": "material:4"})");
  const RenderSettings file = ReadSettingsFile(dir / "s.json");
  EXPECT_EQ(file.focusDepth, (FloatKeys{{0, 20.5f}}));
  EXPECT_EQ(file.range, (FloatKeys{{0, 5.0f}}));
  EXPECT_EQ(file.size, (FloatKeys{{0, 3.5f}}));
  ASSERT_TRUE(file.source);
  EXPECT_EQ(file.source->id, 4);

  RenderSettings flags;
  flags.focusPixel = PixelKeys{{0, ParseFocusPixel("12,-7", "--pixel")}};
  flags.range = FloatKeys{{0, 9.0f}};
  const RenderSettings merged = Merge(file, flags);
  EXPECT_FALSE(merged.focusDepth) << "a focus pixel replaces the file's focus depth";
  ASSERT_TRUE(merged.focusPixel);
  EXPECT_EQ(merged.focusPixel->at(0).x, 12);
  EXPECT_EQ(merged.focusPixel->at(0).y, -7);
  EXPECT_EQ(merged.range, (FloatKeys{{0, 9.0f}}));
  EXPECT_EQ(merged.size, (FloatKeys{{0, 3.5f}}));
  EXPECT_EQ(merged.source->mode, SOURCE_MATERIAL_EFFECTS);

  const RenderSettings pixel = ParseSettings(R"({"focusPixel": [3, 4000]})", "p.json");
  EXPECT_EQ(pixel.focusPixel->at(0).y, 4000);
}

TEST(RenderSettings, BadContentIsAUsageErrorNamingTheFile) {
  for (const char* json :
       {"[1, 2]", "{\"focusDepth\": \"near\"}", "{\"focusdepth\": 3}", "{\"focusPixel\": [1]}",
        "{\"focusPixel\": [1.5, 2]}", "{\"focusPixel\": [1, 4294967296]}",
        "{\"focusDepth\": 1, \"focusPixel\": [1, 2]}", "{\"source\": \"object:x\"}",
        "{\"range\": 5,}"}) {
    try {
      ParseSettings(json, "bad.json");
      ADD_FAILURE() << json << " accepted";
    } catch (const CommandError& e) {
      EXPECT_EQ(e.ExitCode(), EXIT_USAGE) << json;
      EXPECT_EQ(std::string(e.what()).rfind("bad.json: ", 0), 0u) << e.what();
    }
  }
  for (const char* pixel : {"", "12", "12,", ",7", "a,b", "1,2,3", "1.5,2", "1 ,2"}) {
    EXPECT_THROW(ParseFocusPixel(pixel, "--pixel"), CommandError) << '"' << pixel << '"';
  }
  try {
    ReadSettingsFile("/nonexistent/settings.json");
    ADD_FAILURE() << "a missing settings file was read";
  } catch (const CommandError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/settings.json"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrion
