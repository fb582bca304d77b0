#include "frame/focus_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "base/errors.h"

namespace kestrion {
namespace {

// The record's bytes as the host stores them.
std::vector<uint8_t> Bytes(const FocusConfig& config) {
  std::vector<uint8_t> bytes(sizeof config);
  std::memcpy(bytes.data(), &config, sizeof config);
  return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
  return {bytes.begin() + offset, bytes.begin() + offset + count};
}

using Four = std::vector<uint8_t>;

TEST(FocusRecord, FieldsLandAtTheirStoredOffsets) {
  FocusSettings settings;
  settings.focalName = "Sphere02";
  settings.source = {SOURCE_OBJECT_CHANNEL, 517};
  settings.range = 12.5f;
  settings.size = 7.0f;
  const std::vector<uint8_t> bytes = Bytes(ComposeRecord(settings));
  ASSERT_EQ(bytes.size(), 284u);
  EXPECT_EQ(Slice(bytes, 0, 4), (Four{0x38, 0x4C, 0xEF, 0x78}));
  EXPECT_EQ(Slice(bytes, 4, 4), (Four{0xF4, 0x03, 0x00, 0x00}));  // 1012
  EXPECT_EQ(Slice(bytes, 8, 4), (Four{0x05, 0x02, 0x00, 0x00}));  // object ID 517
  EXPECT_EQ(Slice(bytes, 12, 4), (Four{0, 0, 0, 0}));             // material ID unused
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[16])), "Sphere02");
  for (size_t i = 16 + 8; i < 276; ++i) EXPECT_EQ(bytes[i], 0) << "name byte " << i;
  EXPECT_EQ(Slice(bytes, 276, 4), (Four{0x00, 0x00, 0x48, 0x41}));  // 12.5f
  EXPECT_EQ(Slice(bytes, 280, 4), (Four{0x00, 0x00, 0xE0, 0x40}));  // 7.0f

  settings.source = {SOURCE_MATERIAL_EFFECTS, 9};
  const std::vector<uint8_t> material = Bytes(ComposeRecord(settings));
  EXPECT_EQ(Slice(material, 4, 4), (Four{0xF3, 0x03, 0x00, 0x00}));  // 1011
  EXPECT_EQ(Slice(material, 8, 4), (Four{0, 0, 0, 0}));
  EXPECT_EQ(Slice(material, 12, 4), (Four{0x09, 0x00, 0x00, 0x00}));
}

TEST(FocusRecord, LongestNameFitsAndOutOfRangeValuesAreRefused) {
  FocusSettings settings;
  settings.focalName = std::string(259, 'n');
  settings.range = 0.0f;  // the extremes the filter offers
  settings.size = 1.0f;
  const std::vector<uint8_t> bytes = Bytes(ComposeRecord(settings));
  EXPECT_EQ(bytes[16 + 258], 'n');
  EXPECT_EQ(bytes[16 + 259], 0);
  EXPECT_EQ(Slice(bytes, 280, 4), (Four{0x00, 0x00, 0x80, 0x3F}));  // 1.0f intact

  const float nan = std::nanf("");
  const FocusSettings bad[] = {{std::string(260, 'n'), {}, 1.0f, 2.0f},
                               {"Box01", {}, -1.0f, 2.0f},
                               {"Box01", {}, nan, 2.0f},
                               {"Box01", {}, 50.0f, 100000.0f}};
  for (const FocusSettings& b : bad) {
    EXPECT_THROW(ComposeRecord(b), Error) << b.range << " " << b.size;
  }
}

TEST(SourceSelection, ParsesTheThreeModesWithinTheChannelWidths) {
  EXPECT_EQ(ParseSource("whole").mode, SOURCE_WHOLE_IMAGE);
  EXPECT_EQ(SourceText(ParseSource("material:255")), "material:255");
  EXPECT_EQ(ParseSource("object:65535").mode, SOURCE_OBJECT_CHANNEL);
  for (const char* bad : {"", "Whole", "material", "material:", "material:256", "object:-1",
                          "object:65536", "object:3x", "object: 3", "mat:1", "whole:2"}) {
    EXPECT_THROW(ParseSource(bad), Error) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace kestrion
