// The blur against the reference blur of test_frame.h on random frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "blur/blur_plan.h"
#include "blur/work_image.h"
#include "host/progress_window.h"
#include "tests/support/test_frame.h"

namespace {

using kestrion_test::BlurInput;
using kestrion_test::ReferenceBlur;

struct RandomCase {
  uint16_t width;
  uint16_t height;
  uint32_t loadIds;  // ID channels to load besides Z
  int32_t idFilter;
  float focalDepth;
  float range;
  float size;
  bool direct;   // the plan gets no memory for the table: every window summed directly
  int runs;      // times the plan runs (the result must not change)
  int abortRow;  // -1: never
};

template <typename T>
T Pick(std::mt19937& rng, std::initializer_list<T> values) {
  std::uniform_int_distribution<size_t> index(0, values.size() - 1);
  return values.begin()[index(rng)];
}

RandomCase MakeCase(std::mt19937& rng) {
  const float inf = std::numeric_limits<float>::infinity();
  std::uniform_int_distribution<int> side(1, 37);
  RandomCase c{};
  switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
    case 0:  // a single row
      c.width = static_cast<uint16_t>(side(rng));
      c.height = 1;
      break;
    case 1:  // a single column
      c.width = 1;
      c.height = static_cast<uint16_t>(side(rng));
      break;
    default:
      c.width = static_cast<uint16_t>(side(rng));
      c.height = static_cast<uint16_t>(side(rng));
  }
  c.loadIds =
      Pick<uint32_t>(rng, {0, CHANNEL_MTL_ID, CHANNEL_OBJ_ID, CHANNEL_MTL_ID | CHANNEL_OBJ_ID});
  c.idFilter = Pick<int32_t>(rng, {-1, -1, -1, 0, 1, 2, 3});
  c.focalDepth = std::uniform_real_distribution<float>(-50.0f, 200.0f)(rng);
  c.range = Pick<float>(rng, {0.0f, 0.25f, 3.7f, 10.0f, 10.0f, 123.4f, 1.0e-20f, -5.0f});
  c.size = Pick<float>(
      rng, {0.5f, 1.0f, 1.5f, 2.9f, 3.0f, 6.25f, 12.0f, 40.0f, 1.0e6f, inf, std::nanf(""), -2.0f});
  // Mostly with a table and run once; mostly not aborted.
  c.direct = std::uniform_int_distribution<int>(0, 4)(rng) == 0;
  c.runs = Pick<int>(rng, {1, 1, 2});
  c.abortRow = std::uniform_int_distribution<int>(0, 3)(rng) == 0
                   ? std::uniform_int_distribution<int>(0, c.height)(rng)
                   : -1;
  return c;
}

// Fills the frame with random pixels, depths about the focal depth (some
// exactly at it, some background) and IDs 0 to 3.
void Randomize(std::mt19937& rng, BitmapStorage& storage, const RandomCase& c) {
  std::uniform_int_distribution<int> channel(0, 65535);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> id(0, 3);
  std::uniform_real_distribution<float> offset(-25.0f, 25.0f);
  const size_t n = static_cast<size_t>(c.width) * c.height;
  for (size_t i = 0; i < n; ++i) {
    storage.Pixels()[i] = {static_cast<uint16_t>(channel(rng)), static_cast<uint16_t>(channel(rng)),
                           static_cast<uint16_t>(channel(rng)),
                           static_cast<uint16_t>(channel(rng))};
    const int k = kind(rng);
    storage.ZChannel()[i] = k < 3    ? Z_BACKGROUND
                            : k == 3 ? -c.focalDepth
                                     : -(c.focalDepth + offset(rng));
    storage.MtlChannel()[i] = static_cast<uint8_t>(id(rng));
    storage.ObjChannel()[i] = static_cast<uint16_t>(id(rng));
  }
}

// Blurs a random frame as the case says and compares it with the reference:
// rows before an abort blurred, the rest as read.
void CheckCase(std::mt19937& rng, const RandomCase& c, int round,
               VectorWidth vectors = VectorWidth::Widest) {
  SCOPED_TRACE(testing::Message() << "round " << round << ": " << c.width << " x " << c.height
                                  << ", ids " << c.loadIds << ", filter " << c.idFilter
                                  << ", focal " << c.focalDepth << ", range " << c.range
                                  << ", size " << c.size << ", direct " << c.direct << ", runs "
                                  << c.runs << ", abort " << c.abortRow);
  Bitmap bitmap(c.width, c.height);
  BitmapStorage& storage = *bitmap.Storage();
  storage.CreateChannels(CHANNEL_Z | CHANNEL_MTL_ID | CHANNEL_OBJ_ID);
  Randomize(rng, storage, c);

  ProgressWindow progress;
  progress.AbortAfter(c.abortRow);
  WorkImage image(progress.Handle(), &bitmap);
  ASSERT_EQ(image.LoadChannel(CHANNEL_Z), 1);
  for (uint32_t code : {CHANNEL_MTL_ID, CHANNEL_OBJ_ID}) {
    if (c.loadIds & code) image.LoadChannel(code);
  }
  BlurPlan plan(image, c.size, vectors, c.direct ? 0 : SIZE_MAX);
  for (int run = 0; run < c.runs; ++run) {
    image.DepthBlur(plan, c.idFilter, c.focalDepth, c.range);
  }

  BlurInput in;
  in.width = c.width;
  in.height = c.height;
  in.pixels.assign(storage.Pixels(), storage.Pixels() + static_cast<size_t>(c.width) * c.height);
  in.z = storage.ZChannel();
  in.mtl = storage.MtlChannel();
  in.obj = storage.ObjChannel();
  in.loadedChannels = image.loadedChannels;
  auto expected = ReferenceBlur(in, c.idFilter, c.focalDepth, c.range, c.size);
  if (c.abortRow >= 0) {
    const size_t kept = static_cast<size_t>(c.abortRow) * c.width;
    std::copy(in.pixels.begin() + kept, in.pixels.end(), expected.begin() + kept);
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(image.workPixels[i], expected[i]) << "pixel " << i % c.width << "," << i / c.width;
  }
}

TEST(DepthBlurReference, MatchesTheDefinitionOnRandomFrames) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 400; ++round) CheckCase(rng, MakeCase(rng), round);
}

// The same with vector loops of at most eight lanes, with only those of the
// build's baseline, and with plain loops only (the test above uses the
// widest the processor offers).
TEST(DepthBlurReference, MatchesTheDefinitionWithEightLaneVectorLoops) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 400; ++round) {
    CheckCase(rng, MakeCase(rng), round, VectorWidth::EightLanes);
  }
}

TEST(DepthBlurReference, MatchesTheDefinitionWithBaselineVectorLoops) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 400; ++round) {
    CheckCase(rng, MakeCase(rng), round, VectorWidth::Baseline);
  }
}

TEST(DepthBlurReference, MatchesTheDefinitionWithPlainLoops) {
  std::mt19937 rng(1208);
  for (int round = 0; round < 200; ++round) CheckCase(rng, MakeCase(rng), round, VectorWidth::None);
}

// Single rows and columns far longer than the windows, so that the
// vertical and horizontal clipping each meet every radius.
TEST(DepthBlurReference, MatchesTheDefinitionOnLongRowsAndColumns) {
  std::mt19937 rng(7);
  for (int round = 0; round < 24; ++round) {
    RandomCase c = MakeCase(rng);
    const uint16_t length =
        static_cast<uint16_t>(std::uniform_int_distribution<int>(300, 2500)(rng));
    c.width = round % 2 ? length : 1;
    c.height = round % 2 ? 1 : length;
    c.size = Pick<float>(rng, {3.5f, 40.0f, 299.0f, 1.0e4f});
    c.range = Pick<float>(rng, {0.0f, 10.0f, 30.0f});
    c.abortRow = -1;
    c.direct = false;
    CheckCase(rng, c, round);
  }
}

}  // namespace
