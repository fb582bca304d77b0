#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "filter/focus_filter.h"
#include "tests/support/scene_frame.h"

namespace {

using Block = std::array<uint8_t, sizeof(FocusConfig)>;

Block Save(FocusFilter& f) {
  Block b{};
  EXPECT_EQ(f.SaveConfigure(b.data()), 1);
  return b;
}

TEST(FocusConfig, NewFilterSavesTheDefaultBytes) {
  FocusFilter f;
  ASSERT_EQ(f.EvaluateConfigure(), 284u);
  const Block b = Save(f);
  const uint8_t head[16] = {0x38, 0x4C, 0xEF, 0x78, 0xF2, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const uint8_t tail[8] = {0x00, 0x00, 0x48, 0x42, 0x00, 0x00, 0x00, 0x40};
  EXPECT_EQ(std::memcmp(b.data(), head, 16), 0);
  EXPECT_EQ(std::memcmp(b.data() + 276, tail, 8), 0);
  // The whole name field is zero, not only its first byte.
  for (size_t i = 16; i < 276; ++i) ASSERT_EQ(b[i], 0) << "offset " << i;
}

TEST(FocusConfig, SaveThenLoadIntoAnotherFilterIsByteIdentical) {
  FocusFilter a;
  a.config.sourceMode = SOURCE_OBJECT_CHANNEL;
  a.config.objectChannelId = 4093;
  a.config.materialEffectsId = 11;
  kestrion_test::SetFocalName(a.config, "Lamp.Target");
  a.config.focalObjectName[200] = 'x';  // bytes behind the terminator travel too
  a.config.blurRange = 12.5f;
  a.config.blurSize = 7.25f;
  const Block saved = Save(a);

  FocusFilter b;
  Block block = saved;
  ASSERT_EQ(b.LoadConfigure(block.data()), 1);
  EXPECT_EQ(Save(b), saved);
  EXPECT_EQ(b.ChannelsRequired(), 5u);
}

TEST(FocusConfig, LoadRejectsAWrongFirstWordAndNullBuffers) {
  FocusFilter f;
  f.config.blurSize = 9.0f;
  const Block before = Save(f);

  for (uint32_t magic : {0u, CONFIG_MAGIC + 1, CONFIG_MAGIC ^ 0x80000000u}) {
    Block other = before;
    std::memcpy(other.data(), &magic, 4);
    other[4] = 0xF3;  // sourceMode 1011, which must not be taken over
    other[280] = 0x55;
    EXPECT_EQ(f.LoadConfigure(other.data()), 0) << std::hex << magic;
    EXPECT_EQ(Save(f), before);
  }
  EXPECT_EQ(f.LoadConfigure(nullptr), 0);
  EXPECT_EQ(f.SaveConfigure(nullptr), 0);
  EXPECT_EQ(Save(f), before);
}

TEST(FocusConfig, LoadedSourceModeChoosesTheChannels) {
  const struct {
    int32_t mode;
    uint32_t channels;
  } cases[] = {{0, 1}, {1010, 1}, {1011, 3}, {1012, 5}, {1013, 1}, {-1, 1}};
  for (const auto& c : cases) {
    FocusFilter f;
    Block b = Save(f);
    std::memcpy(b.data() + 4, &c.mode, 4);
    ASSERT_EQ(f.LoadConfigure(b.data()), 1);
    EXPECT_EQ(f.config.sourceMode, c.mode);
    EXPECT_EQ(f.ChannelsRequired(), c.channels) << "mode " << c.mode;
  }
}

TEST(FocusFilter, AnswersItsIdentity) {
  FocusFilter f;
  ImageFilter& host = f;  // as the host sees it, through the base
  EXPECT_STREQ(host.DescriptionText(), "Kestrion");
  EXPECT_EQ(host.VersionNumber(), 0x78EF4C38u);
  EXPECT_EQ(host.CapabilityFlags(), 6u);
  EXPECT_EQ(host.ChannelsRequired(), 1u);
  EXPECT_EQ(host.EvaluateConfigure(), 284u);
  EXPECT_STREQ(host.CopyrightText(), "Copyright (c) 2026 Kestrion Labs");
}

TEST(FocusFilter, TwoFiltersKeepIndependentRecords) {
  FocusFilter a;
  FocusFilter b;
  const Block bBefore = Save(b);
  a.config.sourceMode = SOURCE_MATERIAL_EFFECTS;
  a.config.blurRange = 1.0f;
  kestrion_test::SetFocalName(a.config, "Box01");
  EXPECT_EQ(Save(b), bBefore);
  EXPECT_EQ(a.ChannelsRequired(), 3u);
  EXPECT_EQ(b.ChannelsRequired(), 1u);
}

}  // namespace
