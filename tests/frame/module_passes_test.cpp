// Float frames through the loaded module in band passes, checked pixel by
// pixel against the exact float mean over the window the module chose.
#include "frame/module_passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "base/errors.h"
#include "blur/radius_rule.h"
#include "frame/filter_session.h"
#include "frame/focus_record.h"
#include "tests/frame/loaded_module.h"
#include "tests/support/window_mean.h"

namespace kestrion {
namespace {

using frame_tests::Module;
using frame_tests::Named;

constexpr int32_t WIDTH = 37;
constexpr int32_t HEIGHT = 23;
constexpr float FOCAL_DEPTH = 10.0f;
constexpr float RANGE = 10.0f;
constexpr float SIZE = 8.0f;
constexpr double RELATIVE_BOUND = 5e-4;
constexpr double ABSOLUTE_BOUND = 1e-6;

FocusConfig Record() { return frame_tests::RecordOf(RANGE, SIZE); }

// Depth across the frame from in focus to far out of it, with a corner of
// background: every radius from 0 to the full one occurs.
std::vector<float> SceneZ() {
  std::vector<float> z(static_cast<size_t>(WIDTH) * HEIGHT);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const float depth = 4.0f + 0.45f * static_cast<float>(x) + 0.1f * static_cast<float>(y);
      z[static_cast<size_t>(y) * WIDTH + x] = x > 30 && y < 5 ? Z_BACKGROUND : -depth;
    }
  }
  return z;
}

FramePlanes EmptyFrame(size_t channels) {
  FramePlanes frame;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  frame.colour.assign(channels, Plane(frame.PixelCount(), 0.0f));
  for (size_t c = 0; c < channels; ++c) frame.colourNames.push_back(std::to_string(c));
  return frame;
}

FilteredPlanes Filter(const FramePlanes& frame, const std::vector<float>& z) {
  return FilterPlanes(Module(), Record(), FOCAL_DEPTH, frame, z, Named("test frame"));
}

// Every output value against the exact mean over its window, within the
// bound relative to the window's largest magnitude.
void ExpectWithinBound(const Plane& input, const Plane& output, const std::vector<float>& z,
                       const std::string& name) {
  const RadiusRule rule(FOCAL_DEPTH, RANGE, SIZE, std::max(WIDTH, HEIGHT));
  kestrion_test::ExpectFloatWindowMeans(
      input, output, WIDTH, HEIGHT,
      [&](int x, int y) { return BlurRadius(rule, z[static_cast<size_t>(y) * WIDTH + x]); }, name,
      RELATIVE_BOUND, ABSOLUTE_BOUND);
}

TEST(ModulePasses, BandsSplitMagnitudesBySixteens) {
  EXPECT_EQ(BandOf(0.0f), 0);
  EXPECT_EQ(BandOf(0.03124f), 0);
  EXPECT_EQ(BandOf(0.03125f), 1);
  EXPECT_EQ(BandOf(0.4999f), 1);
  EXPECT_EQ(BandOf(0.5f), 2);
  EXPECT_EQ(BandOf(20000.0f), 5);
  EXPECT_EQ(BandOf(std::numeric_limits<float>::max()), 34);
  for (float value : {1e-3f, 0.7f, 3.0f, 900.0f, 1e9f}) {
    const int32_t band = BandOf(value);
    EXPECT_LT(value, BandTop(band));
    EXPECT_GE(value, band == 0 ? 0.0 : BandTop(band - 1));
  }
}

TEST(ModulePasses, KeepsPrecisionAroundABrightSun) {
  FramePlanes frame = EmptyFrame(3);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> dim(0.02f, 1.5f);
  for (Plane& plane : frame.colour) {
    for (float& value : plane) value = dim(random);
  }
  // A 5 x 4 sun at 20000 in red and green, 2000 in blue.
  for (int32_t y = 9; y < 13; ++y) {
    for (int32_t x = 15; x < 20; ++x) {
      const size_t at = static_cast<size_t>(y) * WIDTH + x;
      frame.colour[0][at] = frame.colour[1][at] = 20000.0f;
      frame.colour[2][at] = 2000.0f;
    }
  }
  const std::vector<float> z = SceneZ();
  const FilteredPlanes result = Filter(frame, z);
  ASSERT_EQ(result.colour.size(), 3u);
  EXPECT_FALSE(result.alpha);
  for (size_t c = 0; c < 3; ++c)
    ExpectWithinBound(frame.colour[c], result.colour[c], z, frame.colourNames[c]);
  // Three channel-bands a pass, and the probe.
  EXPECT_EQ(result.passes, (result.channelBands + 3) / 3);
}

TEST(ModulePasses, KeepsPrecisionOverEightDecadesAndBothSigns) {
  // Three log-uniform channels from 1e-4 to 1e4 and a fourth of either sign.
  FramePlanes frame = EmptyFrame(4);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> exponent(-4.0, 4.0);
  std::bernoulli_distribution negative(0.4);
  for (size_t c = 0; c < 4; ++c) {
    for (float& value : frame.colour[c]) {
      value = static_cast<float>(std::pow(10.0, exponent(random)));
      if (c == 3 && negative(random)) value = -value;
    }
  }
  const std::vector<float> z = SceneZ();
  const FilteredPlanes result = Filter(frame, z);
  ASSERT_EQ(result.colour.size(), 4u);
  for (size_t c = 0; c < 4; ++c)
    ExpectWithinBound(frame.colour[c], result.colour[c], z, frame.colourNames[c]);
  // Six bands from 1e-4 to 1e4 for each channel; the signed one has both.
  EXPECT_GE(result.channelBands, 4 * 6);
  EXPECT_LE(result.channelBands, 5 * 7);
}

// A sharp-edged disc near the camera, far out of focus, on empty
// background.
bool InDisc(int32_t x, int32_t y) { return (x - 18) * (x - 18) + (y - 11) * (y - 11) <= 36; }

std::vector<float> DiscZ() {
  std::vector<float> z(static_cast<size_t>(WIDTH) * HEIGHT, Z_BACKGROUND);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      if (InDisc(x, y)) z[static_cast<size_t>(y) * WIDTH + x] = -6.0f;  // radius 3
    }
  }
  return z;
}

TEST(ModulePasses, PremultipliedAlphaGetsTheColoursWindows) {
  FramePlanes frame = EmptyFrame(3);
  frame.alpha = Plane(frame.PixelCount(), 0.0f);
  const float colour[3] = {0.9f, 0.35f, 0.02f};
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      if (!InDisc(x, y)) continue;
      const size_t at = static_cast<size_t>(y) * WIDTH + x;
      (*frame.alpha)[at] = 1.0f;
      for (size_t c = 0; c < 3; ++c) frame.colour[c][at] = colour[c];
    }
  }
  const std::vector<float> z = DiscZ();
  const FilteredPlanes result = Filter(frame, z);
  ASSERT_TRUE(result.alpha);
  const Plane& alpha = *result.alpha;
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    for (size_t c = 0; c < 3; ++c) {
      ASSERT_LE(result.colour[c][i], alpha[i] + 1e-3f) << "pixel " << i << " channel " << c;
    }
  }
  // Just outside the disc's edge (x = 25 is its rightmost column), in the
  // background whose full radius reaches into the disc.
  const float outside = alpha[static_cast<size_t>(11) * WIDTH + 26];
  EXPECT_GT(outside, 0.0f);
  EXPECT_LT(outside, 1.0f);
  ExpectWithinBound(*frame.alpha, alpha, z, "alpha");
}

TEST(ModulePasses, StraightColourIsFilteredPremultipliedAndDividedBack) {
  FramePlanes frame = EmptyFrame(3);
  frame.alphaMode = AlphaMode::Straight;
  frame.alpha = Plane(frame.PixelCount(), 0.0f);
  const float colour[3] = {0.8f, 0.3f, 0.1f};
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    const int32_t x = static_cast<int32_t>(i % WIDTH);
    const int32_t y = static_cast<int32_t>(i / WIDTH);
    (*frame.alpha)[i] = InDisc(x, y) ? 1.0f : 0.0f;
    // Colour under alpha 0 is meaningless and must not leak in.
    for (size_t c = 0; c < 3; ++c) frame.colour[c][i] = InDisc(x, y) ? colour[c] : 50.0f;
  }
  frame.colour[1][0] = std::numeric_limits<float>::quiet_NaN();
  const FilteredPlanes result = Filter(frame, DiscZ());
  ASSERT_TRUE(result.alpha);
  EXPECT_EQ(result.nonFiniteValues, 0u) << "a NaN under alpha 0 is multiplied away";
  size_t edge = 0;
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    const float a = (*result.alpha)[i];
    for (size_t c = 0; c < 3; ++c) {
      if (a == 0.0f) {
        EXPECT_EQ(result.colour[c][i], 0.0f) << "pixel " << i;
      } else {
        // Filtered colour and alpha are each within the bound of the
        // window's largest value, 1; dividing scales that by 1 / alpha.
        const double bound = (1.0 + colour[c]) * (RELATIVE_BOUND + ABSOLUTE_BOUND) / a;
        EXPECT_NEAR(result.colour[c][i], colour[c], bound) << "pixel " << i;
      }
    }
    edge += a > 0.0f && a < 1.0f;
  }
  EXPECT_GT(edge, 0u);
}

TEST(ModulePasses, IgnoredAlphaStaysAndNonFiniteColourCountsAsZero) {
  FramePlanes frame = EmptyFrame(3);
  frame.alphaMode = AlphaMode::Ignore;
  frame.alpha = Plane(frame.PixelCount(), 0.25f);
  for (Plane& plane : frame.colour) std::fill(plane.begin(), plane.end(), 0.5f);
  frame.colour[0][40] = std::numeric_limits<float>::infinity();
  frame.colour[2][41] = std::numeric_limits<float>::quiet_NaN();
  const FilteredPlanes result = Filter(frame, SceneZ());
  EXPECT_EQ(result.alpha, frame.alpha);
  EXPECT_EQ(result.nonFiniteValues, 2u);
  ASSERT_EQ(result.Warnings("f.exr").size(), 1u);
  EXPECT_NE(result.Warnings("f.exr")[0].find("f.exr: 2 "), std::string::npos);
  // One band each for R, G and B, alpha not among them: one pass full, the
  // probe in a second.
  EXPECT_EQ(result.channelBands, 3);
  EXPECT_EQ(result.passes, 2);
  for (const Plane& plane : result.colour) {
    for (float value : plane) ASSERT_TRUE(std::isfinite(value));
  }
}

TEST(ModulePasses, ReportsEveryPassAsOneRun) {
  std::vector<int32_t> passes;
  int32_t total = 0;
  int32_t rows = 0;
  PassOptions options;
  options.onProgress = [&](int32_t pass, int32_t count, int32_t, int32_t lastRow) {
    if (passes.empty() || passes.back() != pass) passes.push_back(pass);
    total = count;
    rows = lastRow + 1;
  };
  FramePlanes frame = EmptyFrame(3);
  for (size_t c = 0; c < 3; ++c) {
    for (size_t i = 0; i < frame.PixelCount(); ++i)
      frame.colour[c][i] = (i % 3 == c) ? 100.0f : 0.1f;
  }
  const FilteredPlanes result =
      FilterPlanes(Module(), Record(), FOCAL_DEPTH, frame, SceneZ(), options);
  // Two bands a channel and the probe.
  EXPECT_EQ(result.passes, 3);
  EXPECT_EQ(total, 3);
  EXPECT_EQ(passes, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(rows, frame.height);
}

// Bit-for-bit equality of two floats (NaN equal to the same NaN).
bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ModulePasses, PassesSideBySideGiveTheSameBitsAndProgressInOrder) {
  // Eight decades in every channel and straight alpha: many passes, sums
  // of several bands a channel, and the division after them.
  FramePlanes frame = EmptyFrame(3);
  frame.alphaMode = AlphaMode::Straight;
  frame.alpha = Plane(frame.PixelCount());
  std::mt19937 random(11);
  std::uniform_real_distribution<double> exponent(-4.0, 4.0);
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    (*frame.alpha)[i] = i % 7 == 0 ? 0.0f : i % 7 == 1 ? 0.5f : 1.0f;
    for (Plane& plane : frame.colour)
      plane[i] = static_cast<float>(std::pow(10.0, exponent(random)));
  }
  const FilteredPlanes alone = Filter(frame, SceneZ());
  ASSERT_GE(alone.passes, 5);
  for (const uint32_t lanes : {2u, 3u, 8u}) {
    SCOPED_TRACE(lanes);
    PassOptions options = Named("test frame");
    options.threads = lanes;
    options.concurrentPasses = lanes;
    std::vector<int32_t> reported;
    options.onProgress = [&](int32_t pass, int32_t, int32_t, int32_t) {
      if (reported.empty() || reported.back() != pass) reported.push_back(pass);
    };
    const FilteredPlanes together =
        FilterPlanes(Module(), Record(), FOCAL_DEPTH, frame, SceneZ(), options);
    EXPECT_EQ(together.passes, alone.passes);
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    for (size_t c = 0; c < 3; ++c) {
      for (size_t i = 0; i < frame.PixelCount(); ++i) {
        ASSERT_TRUE(SameBits(together.colour[c][i], alone.colour[c][i]))
            << "channel " << c << " pixel " << i;
      }
    }
    for (size_t i = 0; i < frame.PixelCount(); ++i) {
      ASSERT_TRUE(SameBits((*together.alpha)[i], (*alone.alpha)[i])) << "alpha at pixel " << i;
    }
  }
}

// Colour over eight decades with awkward values (1, -0, a NaN) on pixels the
// module leaves alone, and alpha opaque, transparent and between.
FramePlanes AwkwardFrame(AlphaMode mode) {
  FramePlanes frame = EmptyFrame(3);
  frame.alphaMode = mode;
  frame.alpha = Plane(frame.PixelCount());
  std::mt19937 random(5);
  std::uniform_real_distribution<double> exponent(-4.0, 1.6);
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    (*frame.alpha)[i] = i % 5 == 0 ? 0.0f : i % 5 == 1 ? 0.37f : 1.0f;
    for (Plane& plane : frame.colour) {
      plane[i] = static_cast<float>(std::pow(10.0, exponent(random)));
      if (mode != AlphaMode::Straight) plane[i] *= (*frame.alpha)[i];
    }
  }
  // At depth 10, in focus: (13, 5) and (13, 6) have radius 0.
  const size_t sharp = static_cast<size_t>(5) * WIDTH + 13;
  frame.colour[0][sharp] = 1.0f;
  frame.colour[1][sharp] = -0.0f;
  frame.colour[2][sharp + WIDTH] = std::numeric_limits<float>::quiet_NaN();
  return frame;
}

TEST(ModulePasses, PixelsTheModuleLeavesAloneKeepTheirBits) {
  const std::vector<float> z = SceneZ();
  const RadiusRule rule(FOCAL_DEPTH, RANGE, SIZE, std::max(WIDTH, HEIGHT));
  for (const AlphaMode mode : {AlphaMode::Premultiplied, AlphaMode::Straight, AlphaMode::Ignore}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const FramePlanes frame = AwkwardFrame(mode);
    const FilteredPlanes result = Filter(frame, z);
    ASSERT_TRUE(result.alpha);
    size_t sharp = 0;
    size_t changed = 0;
    for (size_t i = 0; i < frame.PixelCount(); ++i) {
      const bool alone = BlurRadius(rule, z[i]) == 0;
      sharp += alone;
      bool same = SameBits((*result.alpha)[i], (*frame.alpha)[i]);
      for (size_t c = 0; c < 3; ++c)
        same = same && SameBits(result.colour[c][i], frame.colour[c][i]);
      if (alone) {
        ASSERT_TRUE(same) << "pixel " << i;
      } else {
        changed += !same;
      }
    }
    EXPECT_GT(sharp, 30u);
    EXPECT_GT(changed, frame.PixelCount() / 2);
  }
}

TEST(ModulePasses, PixelsOutsideTheBlurredIdKeepTheirBits) {
  FramePlanes frame = AwkwardFrame(AlphaMode::Premultiplied);
  frame.objectId = std::vector<uint16_t>(frame.PixelCount());
  for (size_t i = 0; i < frame.PixelCount(); ++i) (*frame.objectId)[i] = (i / 3) % 2 ? 4 : 9;
  const std::vector<float> z = SceneZ();
  const FilteredPlanes result =
      FilterPlanes(Module(), frame_tests::RecordOf(RANGE, SIZE, {SOURCE_OBJECT_CHANNEL, 4}),
                   FOCAL_DEPTH, frame, z, Named("ids"));
  const RadiusRule rule(FOCAL_DEPTH, RANGE, SIZE, std::max(WIDTH, HEIGHT));
  size_t blurred = 0;
  for (size_t i = 0; i < frame.PixelCount(); ++i) {
    const bool alone = (*frame.objectId)[i] != 4 || BlurRadius(rule, z[i]) == 0;
    bool same = SameBits((*result.alpha)[i], (*frame.alpha)[i]);
    for (size_t c = 0; c < 3; ++c) same = same && SameBits(result.colour[c][i], frame.colour[c][i]);
    ASSERT_TRUE(same || !alone) << "pixel " << i;
    blurred += !same;
  }
  EXPECT_GT(blurred, 100u);
}

TEST(ModulePasses, FilteredAlphaStaysWithinZeroAndOne) {
  // Opaque white, and a disc of it over transparent black: the bands hold
  // 1.0 as 1.0000153, which the mean of opaque pixels would keep.
  const std::vector<float> z = DiscZ();
  for (const bool disc : {false, true}) {
    for (const AlphaMode mode : {AlphaMode::Premultiplied, AlphaMode::Straight}) {
      SCOPED_TRACE(std::to_string(disc) + " " + std::to_string(static_cast<int>(mode)));
      FramePlanes frame = EmptyFrame(3);
      frame.alphaMode = mode;
      frame.alpha = Plane(frame.PixelCount(), 1.0f);
      for (size_t i = 0; i < frame.PixelCount(); ++i) {
        const bool covered =
            !disc || InDisc(static_cast<int32_t>(i % WIDTH), static_cast<int32_t>(i / WIDTH));
        (*frame.alpha)[i] = covered ? 1.0f : 0.0f;
        for (Plane& plane : frame.colour) plane[i] = covered ? 1.0f : 0.0f;
      }
      const FilteredPlanes result = Filter(frame, z);
      size_t partial = 0;
      for (size_t i = 0; i < frame.PixelCount(); ++i) {
        const float a = (*result.alpha)[i];
        ASSERT_GE(a, 0.0f) << "pixel " << i;
        ASSERT_LE(a, 1.0f) << "pixel " << i;
        partial += a > 0.0f && a < 1.0f;
        // Opaque white stays exactly white; premultiplied colour stays
        // within its alpha.
        for (const Plane& plane : result.colour) {
          ASSERT_TRUE(a < 1.0f || plane[i] == 1.0f) << plane[i] << " at pixel " << i;
          ASSERT_TRUE(mode != AlphaMode::Premultiplied || plane[i] <= a * (1.0f + 1e-3f))
              << plane[i] << " over alpha " << a << " at pixel " << i;
        }
      }
      EXPECT_EQ(partial > 0, disc);
    }
  }
}

TEST(ModulePasses, NoClippedWindowOfSmallFramesPassesForSharp) {
  // Radius 1 everywhere (depth 11.5) and the full radius (background) on
  // frames of one to twelve pixels: windows clipped to every corner, edge
  // and strip shape. Each pixel must be its window's mean, not its own
  // value; a frame of one pixel keeps its own.
  std::mt19937 random(3);
  std::uniform_real_distribution<float> value(0.05f, 0.95f);
  const std::vector<std::pair<int32_t, int32_t>> sizes = {{1, 1}, {2, 1}, {1, 2}, {3, 1},
                                                          {1, 3}, {2, 2}, {3, 2}, {4, 3}};
  for (const auto& [width, height] : sizes) {
    for (const float z : {-11.5f, Z_BACKGROUND}) {
      SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + " z " +
                   std::to_string(z));
      FramePlanes frame;
      frame.width = width;
      frame.height = height;
      frame.colour.assign(3, Plane(frame.PixelCount()));
      frame.colourNames = {"R", "G", "B"};
      for (Plane& plane : frame.colour) {
        for (float& v : plane) v = value(random);
      }
      const std::vector<float> depth(frame.PixelCount(), z);
      const FilteredPlanes result = Filter(frame, depth);
      const int32_t r =
          BlurRadius(RadiusRule(FOCAL_DEPTH, RANGE, SIZE, std::max(width, height)), z);
      ASSERT_GE(r, 1);
      for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
          const size_t at = static_cast<size_t>(y) * width + x;
          for (size_t c = 0; c < 3; ++c) {
            double sum = 0.0;
            int count = 0;
            for (int32_t yy = std::max(0, y - r); yy <= std::min(height - 1, y + r); ++yy) {
              for (int32_t xx = std::max(0, x - r); xx <= std::min(width - 1, x + r); ++xx) {
                sum += frame.colour[c][static_cast<size_t>(yy) * width + xx];
                ++count;
              }
            }
            if (count == 1) {
              EXPECT_TRUE(SameBits(result.colour[c][at], frame.colour[c][at]));
            } else {
              EXPECT_NEAR(result.colour[c][at], sum / count, RELATIVE_BOUND + ABSOLUTE_BOUND)
                  << "pixel (" << x << ", " << y << ") channel " << c;
            }
          }
        }
      }
    }
  }
}

TEST(ModulePasses, AFrameWithoutDepthIsRefusedNamingIt) {
  FramePlanes frame = EmptyFrame(3);
  frame.colour[0][0] = 1.0f;
  try {
    Filter(frame, {});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("test frame"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kestrion
