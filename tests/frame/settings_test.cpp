#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "base/errors.h"
#include "frame/render_settings.h"
#include "frame/settings_file.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

TEST(RenderSettings, TheFileReplacesTheFieldsItGivesAndNoOthers) {
  test_files::ScratchDirectory dir;
  test_files::WriteText(dir / "s.json",
                        R"({"focusDepth": 20.5, "range": 5, "size": 3.5, "source": "material:4"})");
  const RenderSettings file = ReadSettingsFile(dir / "s.json");
  EXPECT_EQ(file.focusDepth, (FloatKeys{{0, 20.5f}}));
  EXPECT_EQ(file.range, (FloatKeys{{0, 5.0f}}));
  EXPECT_EQ(file.size, (FloatKeys{{0, 3.5f}}));
  ASSERT_TRUE(file.source);
  EXPECT_EQ(file.source->id, 4);

  RenderSettings base;
  base.focusPixel = PixelKeys{{0, ParseFocusPixel("12,-7", "--pixel")}};
  base.focusStatistic = FocusStatistic::Max;
  base.range = FloatKeys{{0, 9.0f}};
  base.frame = 7;
  const RenderSettings over = ReadSettingsFile(dir / "s.json", base);
  EXPECT_FALSE(over.focusPixel) << "the file's focus depth replaces a focus pixel";
  EXPECT_EQ(over.focusDepth, (FloatKeys{{0, 20.5f}}));
  EXPECT_EQ(over.focusStatistic, FocusStatistic::Max);
  EXPECT_EQ(over.range, (FloatKeys{{0, 5.0f}}));
  EXPECT_EQ(over.source->mode, SOURCE_MATERIAL_EFFECTS);
  EXPECT_EQ(over.frame, 7);

  const RenderSettings pixel = ParseSettings(R"({"focusPixel": [3, 4000]})", "p.json", base);
  EXPECT_EQ(pixel.focusPixel->at(0).y, 4000);
  EXPECT_EQ(pixel.range, (FloatKeys{{0, 9.0f}})) << "a field the file lacks stays";
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
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::Usage) << json;
      EXPECT_EQ(std::string(e.what()).rfind("bad.json: ", 0), 0u) << e.what();
    }
  }
  for (const char* pixel : {"", "12", "12,", ",7", "a,b", "1,2,3", "1.5,2", "1 ,2"}) {
    EXPECT_THROW(ParseFocusPixel(pixel, "--pixel"), Error) << '"' << pixel << '"';
  }
  try {
    ReadSettingsFile("/nonexistent/settings.json");
    ADD_FAILURE() << "a missing settings file was read";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/settings.json"), std::string::npos);
  }
}

// The error ReadSettingsFile throws for `path`, or nothing.
std::optional<Error> SettingsError(const std::string& path) {
  try {
    ReadSettingsFile(path);
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

TEST(SettingsFiles, OnlySmallRegularFilesAreRead) {
  test_files::ScratchDirectory dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "sub.json");
  // Valid JSON of exactly the cap is a settings file; one byte more is not.
  const std::string object = R"({"size": 3})";
  test_files::WriteText(dir / "at-cap.json",
                        object + std::string(SETTINGS_FILE_MAX - object.size(), ' '));
  test_files::WriteText(dir / "over-cap.json",
                        object + std::string(SETTINGS_FILE_MAX - object.size() + 1, ' '));
  EXPECT_EQ(ReadSettingsFile(dir / "at-cap.json").size, (FloatKeys{{0, 3.0f}}));

  // A FIFO is refused without waiting for a writer; /dev/zero without
  // reading it.
  for (const std::string& path :
       {dir / "sub.json", std::string("/dev/zero"), dir / "fifo", dir / "over-cap.json"}) {
    const std::optional<Error> error = SettingsError(path);
    ASSERT_TRUE(error) << path;
    EXPECT_EQ(error->Kind(), ErrorKind::Usage) << path;
    const std::string expected = path.ends_with("over-cap.json")
                                     ? "larger than 1 MiB, not a settings file"
                                     : "not a regular file";
    EXPECT_EQ(std::string(error->what()), path + ": " + expected);
  }
  // A file that is not there or cannot be read is a failed run, not usage.
  const std::optional<Error> missing = SettingsError(dir / "missing.json");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->Kind(), ErrorKind::Input);
  EXPECT_EQ(std::string(missing->what()).rfind(dir / "missing.json: cannot open", 0), 0u);
}

TEST(SettingsFiles, ErrorsNameTheFileAndWhereTheJsonGoesWrong) {
  test_files::ScratchDirectory dir;
  struct Case {
    std::string text;
    std::string error;  // after "FILE: "
  };
  const std::vector<Case> cases = {
      {"{\n  \"range\": 5,\n  \"size\" 3\n}",
       "not valid JSON at line 3, column 10: unexpected '3'"},
      {"{\"range\": 5", "not valid JSON at line 1, column 12: the text ends before the JSON does"},
      {"{\"range\": 5} x", "not valid JSON at line 1, column 14: unexpected 'x'"},
      {"{\"range\": }", "not valid JSON at line 1, column 11: unexpected '}'"},
      {"{\"range\": tru}",
       "not valid JSON at line 1, column 14: a word that is not true, false or null"},
      {"\xff", "not valid JSON at line 1, column 1: unexpected '\\xff'"},
      {"{\"source\": \"a\x1b[2Jb\"}",
       "not valid JSON at line 1, column 14: a control character in a string (write it as \\n, "
       "\\t or \\u00XX)"},
      {"{\"source\": \"caf\xe9\"}",
       "not valid JSON at line 1, column 17: a string that is not UTF-8"},
      {R"({"source": "a\qb"})",
       "not valid JSON at line 1, column 15: a string with an escape JSON does not have"},
      {" \n ", "not valid JSON: the file holds no settings"},
      {"{\n  \"size\": 3,\n  \"range\": 1e400\n}",
       "line 3, column 12: the number 1e400 is out of range"},
      // Values out of range or of the wrong type name the file too.
      {R"({"range": 100000})", "range: range 100000 is outside 0 to 99999"},
      {R"({"size": [[0, 2], [10, 0.5]]})",
       "size: size 0.5 is outside 1 to 99999 (key at frame 10)"},
      {R"({"size": "8"})", "size must be a number, or a share of the frame's width such as \"2%\""},
      {R"({"focusObject": 2.5})", "focusObject must hold whole numbers"},
      {R"({"source": "object:0x3"})",
       "source 'object:0x3': the ID '0x3' is hexadecimal; write it in decimal"},
      {R"({"sauce": 1})", "unknown field 'sauce'"},
  };
  for (const Case& c : cases) {
    test_files::WriteText(dir / "s.json", c.text);
    const std::optional<Error> error = SettingsError(dir / "s.json");
    ASSERT_TRUE(error) << c.text;
    EXPECT_EQ(error->Kind(), ErrorKind::Usage) << c.text;
    EXPECT_EQ(std::string(error->what()), dir / "s.json: " + c.error);
  }
  // A huge bad value is quoted in part, on one line.
  test_files::WriteText(dir / "s.json", R"({"source": ")" + std::string(500000, 'x') + R"(\n"})");
  const std::optional<Error> error = SettingsError(dir / "s.json");
  ASSERT_TRUE(error);
  const std::string message = error->what();
  EXPECT_LT(message.size(), (dir / "s.json").size() + 200) << message.substr(0, 300);
  EXPECT_NE(message.find(std::string(70, 'x') + "..."), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos);
}

// Sizes in per cent of the frame's width, objects by name and what a
// frame without its focus object does: the same from an option and a file.
TEST(RenderSettings, SizesInPerCentAndObjectsByNameReadAlikeFromOptionsAndFiles) {
  RenderSettings option;
  SetSize("1:1%,48:2.5%", "--size", option);
  const RenderSettings file =
      ParseSettings(R"({"size": [[1, "1%"], [48, "2.5%"]], "focusObject": "Monkey",
                        "focusMissing": "fail"})",
                    "s.json");
  const RenderSettings& fromOption = option;
  for (const RenderSettings* settings : {&fromOption, &file}) {
    EXPECT_TRUE(settings->sizeInPercent);
    EXPECT_EQ(settings->size, (FloatKeys{{1, 1.0f}, {48, 2.5f}}));
  }
  EXPECT_EQ(file.focusObjectName, "Monkey");
  EXPECT_EQ(file.focusMissing, FocusMissing::Fail);
  // In pixels of a frame 640 wide; a share that gives less than a pixel is
  // refused once the width is known.
  EXPECT_EQ(SizeInPixels(option, 640).size, (FloatKeys{{1, 6.4f}, {48, 16.0f}}));
  EXPECT_FALSE(SizeInPixels(option, 640).sizeInPercent);
  EXPECT_THROW(SizeInPixels(option, 50), Error);
  // A later file's pixels replace a size in per cent, and a file without
  // focusMissing leaves it as it was.
  const RenderSettings over = ParseSettings(R"({"size": 4})", "s.json", file);
  EXPECT_FALSE(over.sizeInPercent);
  EXPECT_EQ(over.focusMissing, FocusMissing::Fail);

  RenderSettings object;
  SetFocusObject("Cube.001", "--focus-object", object);
  EXPECT_EQ(object.focusObjectName, "Cube.001");
  SetFocusObject("12", "--focus-object", object);
  EXPECT_EQ(object.focusObject, 12);
  EXPECT_FALSE(object.focusObjectName);
  SetFocusObject("name:3D Text", "--focus-object", object);
  EXPECT_EQ(object.focusObjectName, "3D Text");
  for (const char* bad : {"3.5", "-1", "0x10", "", "name:"}) {
    EXPECT_THROW(SetFocusObject(bad, "--focus-object", object), Error) << bad;
  }
  for (const char* bad : {"2%,4", "1:2%,5:3", "0%", "101%", "2%%"}) {
    RenderSettings settings;
    EXPECT_THROW(SetSize(bad, "--size", settings), Error) << bad;
  }
  for (const char* json : {R"({"size": [[1, "2%"], [5, 3]]})", R"({"size": "2"})",
                           R"({"focusObject": ""})", R"({"focusMissing": "keep"})"}) {
    EXPECT_THROW(ParseSettings(json, "s.json"), Error) << json;
  }
}

}  // namespace
}  // namespace kestrion
