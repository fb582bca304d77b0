// The blur's summed-area table at the sizes where its arithmetic is tight:
// sums past 2^32, the switch between 32- and 64-bit entries, and the
// division by the window's pixel count.
#include "blur/window_sums.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "blur/blur_plan.h"
#include "blur/work_image.h"
#include "host/bitmap.h"
#include "tests/support/sanitizers.h"
#include "tests/support/test_frame.h"

namespace {

constexpr uint16_t MAX_CHANNEL = 65535;

TEST(TruncatedMean, EqualsIntegerDivisionAtEveryWholeQuotientEdge) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<uint64_t> bigCount(65538, 4294836225u);  // up to 65535^2
  std::vector<uint64_t> counts;
  for (uint64_t c = 1; c <= 66000; ++c) counts.push_back(c);
  for (int i = 0; i < 20000; ++i) counts.push_back(bigCount(rng));
  counts.push_back(4294836225u);
  for (uint64_t count : counts) {
    const double reciprocal = MeanReciprocal(static_cast<double>(count));
    for (uint64_t mean : {0ull, 1ull, 2ull, 255ull, 32767ull, 65534ull, 65535ull}) {
      const uint64_t exact = mean * count;
      for (uint64_t sum : {exact, exact + count - 1, exact == 0 ? 0 : exact - 1}) {
        if (sum > MAX_CHANNEL * count) continue;
        ASSERT_EQ(TruncatedMean(sum, reciprocal), sum / count) << sum << " / " << count;
      }
    }
  }
}

// A frame of random bright pixels (their sums wrap a 32-bit table several
// times) and its working image; Z is not loaded, so the blur is driven
// through BoxAverage and WindowSums directly.
class BrightFrame {
 public:
  BrightFrame(uint16_t w, uint16_t h, uint16_t low) : bitmap(w, h) {
    std::mt19937 rng(w * 7919u + h);
    std::uniform_int_distribution<int> channel(low, MAX_CHANNEL);
    BMM_Color_64* p = bitmap.Storage()->Pixels();
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
      p[i] = {static_cast<uint16_t>(channel(rng)), static_cast<uint16_t>(channel(rng)),
              static_cast<uint16_t>(channel(rng)), static_cast<uint16_t>(channel(rng))};
    }
    image = std::make_unique<WorkImage>(nullptr, &bitmap);
  }
  Bitmap bitmap;
  std::unique_ptr<WorkImage> image;
};

// Every `step`-th pixel of every `step`-th row blurred through the table
// equals BoxAverage's direct sum. With `mixed`, each row's radii come in runs
// of random lengths and radii from 0 to `radius`, so that runs clipped at
// either edge, runs inside and single windows meet; otherwise every pixel
// has `radius`.
void ExpectTableMatchesDirectSums(WorkImage& image, int32_t radius, int step, VectorWidth vectors,
                                  bool mixed = false) {
  auto sums =
      WindowSums::Create(image.sourcePixels.get(), image.width, image.height, radius, vectors);
  ASSERT_NE(sums, nullptr);
  std::mt19937 rng(static_cast<uint32_t>(radius));
  std::vector<BMM_Color_64> row(image.width);
  std::vector<int32_t> radii(image.width, radius);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; mixed && x < image.width;) {
      const int32_t length = std::uniform_int_distribution<int32_t>(1, 40)(rng);
      const int32_t r = std::uniform_int_distribution<int32_t>(0, radius)(rng);
      for (int32_t end = std::min(x + length, image.width); x < end; ++x) radii[x] = r;
    }
    std::copy_n(image.workPixels.get() + static_cast<size_t>(y) * image.width, image.width,
                row.begin());
    sums->MeanRow(y, radii.data(), row.data());
    if (y % step) continue;
    for (int32_t x = 0; x < image.width; x += step) {
      BMM_Color_64 direct = image.workPixels[static_cast<size_t>(y) * image.width + x];
      image.BoxAverage(x, y, radii[x], direct);
      ASSERT_EQ(row[x], direct) << "radius " << radii[x] << " at " << x << "," << y;
    }
  }
}

// Each test below runs with the widest vector loops the processor has, with
// those of at most eight lanes, with the baseline ones and with plain loops.
class WindowSumsLoops : public testing::TestWithParam<VectorWidth> {};

TEST_P(WindowSumsLoops, MatchDirectSumsWhereSumsPass32Bits) {
  BrightFrame frame(301, 400, 60000);
  // 127: 32-bit entries, windows of up to 255 x 255 pixels; 140 and 1000:
  // 64-bit entries. The ring wraps for the first two, and holds the whole
  // table for the last.
  for (int32_t radius : {127, 140, 1000})
    ExpectTableMatchesDirectSums(*frame.image, radius, 7, GetParam());
}

// Runs of mixed radii, so that windows clipped at the left edge, the right
// edge and both (radius 300 on a frame 211 wide) meet whole ones in runs of
// every length: 32-bit tables, and a 64-bit one (140 on 301 x 400).
TEST_P(WindowSumsLoops, RunsOfMixedRadiiMatchDirectSums) {
  BrightFrame narrow(211, 67, 50000);
  for (int32_t radius : {3, 60, 105, 300}) {
    ExpectTableMatchesDirectSums(*narrow.image, radius, 1, GetParam(), true);
  }
  BrightFrame wide(301, 400, 60000);
  ExpectTableMatchesDirectSums(*wide.image, 140, 5, GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Vectors, WindowSumsLoops,
                         testing::Values(VectorWidth::Widest, VectorWidth::EightLanes,
                                         VectorWidth::Baseline, VectorWidth::None),
                         [](const testing::TestParamInfo<VectorWidth>& info) {
                           switch (info.param) {
                             case VectorWidth::Widest:
                               return "Widest";
                             case VectorWidth::EightLanes:
                               return "EightLanes";
                             case VectorWidth::Baseline:
                               return "Baseline";
                             case VectorWidth::None:
                               break;
                           }
                           return "Plain";
                         });

TEST(WindowSums, AllWhiteFullHdFrameStaysWhite) {
  Bitmap bitmap(1920, 1080);
  std::fill_n(bitmap.Storage()->Pixels(), 1920 * 1080,
              BMM_Color_64{MAX_CHANNEL, MAX_CHANNEL, MAX_CHANNEL, 4321});
  for (float size : {127.0f, 128.0f, 5000.0f}) {
    WorkImage image(nullptr, &bitmap);
    BlurPlan plan(image, size);
    ASSERT_NE(plan.Sums(), nullptr);
    // No Z: every pixel at depth 0, 5 from the focal depth. Twice, as the
    // table must start again from the top.
    image.DepthBlur(plan, -1, 5.0f, 1.0f);
    image.DepthBlur(plan, -1, 5.0f, 1.0f);
    for (size_t i = 0; i < 1920u * 1080u; ++i) {
      ASSERT_EQ(image.workPixels[i], (BMM_Color_64{MAX_CHANNEL, MAX_CHANNEL, MAX_CHANNEL, 4321}))
          << "size " << size << " pixel " << i;
    }
  }
}

// The table keeps only the rows its windows reach: about 2.2 bytes a pixel
// for radius 100 on a 1920 x 1080 frame.
TEST(WindowSums, HoldsOnlyTheRowsTheWindowsReach) {
  std::vector<BMM_Color_64> pixels(1920 * 1080);
  const double frame = 1920.0 * 1080.0;
  EXPECT_LT(WindowSums::Create(pixels.data(), 1920, 1080, 100)->Bytes() / frame, 2.5);
  EXPECT_LT(WindowSums::Create(pixels.data(), 1920, 1080, 20)->Bytes() / frame, 0.6);
  // A radius beyond the image keeps the whole table, its rows padded to
  // whole cache lines, no more.
  EXPECT_LT(WindowSums::Create(pixels.data(), 1920, 1080, 1920)->Bytes() / frame, 24.2);
  EXPECT_EQ(WindowSums::Create(pixels.data(), 1920, 1080, 0), nullptr);
}

uint64_t AddressSpaceInUse() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  uint64_t kilobytes = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmSize:", 7) == 0) kilobytes = std::strtoull(line + 7, nullptr, 10);
  }
  std::fclose(status);
  return kilobytes * 1024;
}

// With too little memory for the table, the plan has none and the blur
// still works, summing each window directly. Run in a child process whose
// address space is capped just above what the pixel copies need.
TEST(WindowSumsDeathTest, BlurWithoutMemoryForTheTableSumsDirectly) {
  if (kestrion_test::ADDRESS_SANITIZER) {
    GTEST_SKIP() << "the address sanitizer reserves more address space than the cap allows";
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto blurUnderMemoryCap = [] {
    Bitmap bitmap(1500, 1200);
    BitmapStorage& storage = *bitmap.Storage();
    storage.CreateChannels(CHANNEL_Z);
    for (size_t i = 0; i < 1500u * 1200u; ++i) {
      storage.Pixels()[i] = {static_cast<uint16_t>(i * 7), static_cast<uint16_t>(i * 13),
                             static_cast<uint16_t>(i * 31), static_cast<uint16_t>(i)};
      storage.ZChannel()[i] = -10.0f;  // at the focal depth
    }
    storage.ZChannel()[1500 * 600 + 700] = Z_BACKGROUND;  // the one pixel to blur
    WorkImage image(nullptr, &bitmap);
    image.LoadChannel(CHANNEL_Z);
    // The table for size 2000 takes about 43 MB; allow 16 MB more.
    const rlimit cap{static_cast<rlim_t>(AddressSpaceInUse() + (16u << 20)), RLIM_INFINITY};
    if (cap.rlim_cur <= (16u << 20) || setrlimit(RLIMIT_AS, &cap) != 0) std::exit(2);
    BlurPlan plan(image, 2000.0f);
    if (plan.Sums() != nullptr) std::exit(3);
    image.DepthBlur(plan, -1, 10.0f, 5.0f);
    BMM_Color_64 whole = image.sourcePixels[1500 * 600 + 700];
    image.BoxAverage(0, 0, 3000, whole);
    for (size_t i = 0; i < 1500u * 1200u; ++i) {
      const BMM_Color_64 expected = i == 1500 * 600 + 700 ? whole : image.sourcePixels[i];
      if (image.workPixels[i] != expected) std::exit(4);
    }
    std::exit(0);
  };
  EXPECT_EXIT(blurUnderMemoryCap(), testing::ExitedWithCode(0), "");
}

}  // namespace
