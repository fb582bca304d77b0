#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "blur/work_image.h"
#include "host/messages.h"
#include "host/progress_window.h"
#include "tests/support/test_frame.h"

namespace {

using kestrion_test::PatternPixel;
using kestrion_test::TestFrame;

struct BlurParams {
  int32_t idFilter = -1;
  float focalDepth = 0.0f;
  float range = 10.0f;
  float size = 1.0f;
};

// Builds a working image of the frame, loads the channels in the order
// given, blurs, and returns the working pixels. Alpha must come out as it
// went in, whatever was blurred.
std::vector<BMM_Color_64> Blur(TestFrame& frame, std::initializer_list<uint32_t> channels,
                               const BlurParams& p, ProgressWindow* progress = nullptr) {
  WorkImage image(progress ? progress->Handle() : nullptr, &frame.bitmap);
  for (uint32_t code : channels) image.LoadChannel(code);
  kestrion_test::RunBlur(image, p.idFilter, p.focalDepth, p.range, p.size);
  const size_t n = static_cast<size_t>(image.width) * image.height;
  std::vector<BMM_Color_64> out(image.workPixels.get(), image.workPixels.get() + n);
  for (size_t i = 0; i < n; ++i)
    EXPECT_EQ(out[i].a, frame.Storage().Pixels()[i].a) << "alpha " << i;
  return out;
}

// The truncated mean of r, g, b over the listed pixels of the frame, with
// the alpha of the pixel it replaces.
BMM_Color_64 MeanOf(TestFrame& frame, std::initializer_list<std::pair<int, int>> cells,
                    uint16_t alpha) {
  uint64_t r = 0, g = 0, b = 0;
  for (auto [x, y] : cells) {
    r += frame.Pixel(x, y).r;
    g += frame.Pixel(x, y).g;
    b += frame.Pixel(x, y).b;
  }
  const uint64_t n = cells.size();
  return {static_cast<uint16_t>(r / n), static_cast<uint16_t>(g / n), static_cast<uint16_t>(b / n),
          alpha};
}

// The window about (x, y) that reaches past every edge: the whole image.
BMM_Color_64 WholeImageMean(TestFrame& frame, int x, int y) {
  return kestrion_test::WindowMean(frame.Storage().Pixels(), frame.Width(), frame.Height(), x, y,
                                   std::max(frame.Width(), frame.Height()));
}

// A black 13 x 11 frame with one bright pixel at (6, 5) whose own radius is
// read back from its output: the bright value spread over (2r + 1)^2 pixels.
BMM_Color_64 BrightCentreAfterBlur(float z, const BlurParams& p) {
  TestFrame frame(13, 11);
  frame.FillPixels({0, 0, 0, 500});
  frame.Pixel(6, 5) = {60000, 30000, 9000, 123};
  frame.FillZ(-100.0f);
  frame.Z(6, 5) = z;
  return Blur(frame, {CHANNEL_Z}, p)[5 * 13 + 6];
}

constexpr BMM_Color_64 RADIUS_0{60000, 30000, 9000, 123};
constexpr BMM_Color_64 RADIUS_2{2400, 1200, 360, 123};
constexpr BMM_Color_64 RADIUS_3{1224, 612, 183, 123};
constexpr BMM_Color_64 RADIUS_4{740, 370, 111, 123};

TEST(DepthBlur, RadiusGrowsWithDistanceFromTheFocalDepth) {
  const BlurParams p{-1, 100.0f, 50.0f, 4.0f};
  const struct {
    float z;
    BlurParams params;
    BMM_Color_64 expected;
  } cases[] = {
      {-100.0f, p, RADIUS_0},   // at the focal depth
      {-110.0f, p, RADIUS_0},   // quotient 0.8
      {-130.0f, p, RADIUS_2},   // quotient 2.4
      {-149.0f, p, RADIUS_3},   // quotient 3.92
      {-150.0f, p, RADIUS_4},   // distance equals the range
      {-170.0f, p, RADIUS_4},   // capped at the size
      {-50.0f, p, RADIUS_4},    // in front as far as behind
      {INFINITY, p, RADIUS_4},  // infinitely far
      // Background gets the truncated size whatever the depths.
      {Z_BACKGROUND, p, RADIUS_4},
      {-std::numeric_limits<float>::infinity(), p, RADIUS_4},
      {std::nanf(""), p, RADIUS_4},
      {Z_BACKGROUND, {-1, -1.0e20f, 1.0e25f, 4.7f}, RADIUS_4},
      // Just in front of the background value is geometry, very far away.
      {std::nextafter(Z_BACKGROUND, 0.0f), {-1, 0.0f, 1.0e30f, 4.0f}, RADIUS_3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BrightCentreAfterBlur(c.z, c.params), c.expected)
        << "z " << c.z << " focal " << c.params.focalDepth << " size " << c.params.size;
  }
}

TEST(DepthBlur, WindowsAreClippedToTheImage) {
  TestFrame frame(7, 5);
  frame.FillZ(Z_BACKGROUND);
  const auto out = Blur(frame, {CHANNEL_Z}, {-1, 0.0f, 10.0f, 1.0f});
  auto at = [&](int x, int y) { return out[y * 7 + x]; };
  auto alpha = [&](int x, int y) { return frame.Pixel(x, y).a; };
  EXPECT_EQ(at(0, 0), MeanOf(frame, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, alpha(0, 0)));
  EXPECT_EQ(at(6, 4), MeanOf(frame, {{5, 3}, {6, 3}, {5, 4}, {6, 4}}, alpha(6, 4)));
  EXPECT_EQ(at(6, 0), MeanOf(frame, {{5, 0}, {6, 0}, {5, 1}, {6, 1}}, alpha(6, 0)));
  EXPECT_EQ(at(3, 0), MeanOf(frame, {{2, 0}, {3, 0}, {4, 0}, {2, 1}, {3, 1}, {4, 1}}, alpha(3, 0)));
  EXPECT_EQ(at(0, 2), MeanOf(frame, {{0, 1}, {1, 1}, {0, 2}, {1, 2}, {0, 3}, {1, 3}}, alpha(0, 2)));
  EXPECT_EQ(at(4, 2),
            MeanOf(frame, {{3, 1}, {4, 1}, {5, 1}, {3, 2}, {4, 2}, {5, 2}, {3, 3}, {4, 3}, {5, 3}},
                   alpha(4, 2)));
}

// Parameters at and past the ends of their ranges. Pixels at depth 5 and
// 5.001 and one background pixel each either average the whole image or
// keep their colour.
TEST(DepthBlur, ExtremeParametersAverageTheWholeImageOrNothing) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::nanf("");
  constexpr bool WHOLE = true;
  constexpr bool KEPT = false;
  const struct {
    BlurParams params;
    bool atFive, atFiveAndABit, background;
  } cases[] = {
      {{-1, 0.0f, 10.0f, 50.0f}, WHOLE, WHOLE, WHOLE},       // window wider than the image
      {{-1, 0.0f, 10.0f, inf}, WHOLE, WHOLE, WHOLE},         // infinite size
      {{-1, 0.0f, 1.0e-30f, 1.0e30f}, WHOLE, WHOLE, WHOLE},  // quotient beyond any integer
      {{-1, 0.0f, -10.0f, 1.0e30f}, KEPT, KEPT, WHOLE},      // negative range
      {{-1, 0.0f, inf, 50.0f}, KEPT, KEPT, WHOLE},           // infinite range
      {{-1, 0.0f, nan, 50.0f}, KEPT, KEPT, WHOLE},
      {{-1, nan, 10.0f, 50.0f}, KEPT, KEPT, WHOLE},
      {{-1, 0.0f, 10.0f, nan}, KEPT, KEPT, KEPT},
      {{-1, 0.0f, 10.0f, -3.0f}, KEPT, KEPT, KEPT},
      {{-1, 0.0f, 10.0f, 0.9f}, KEPT, KEPT, KEPT},
      // Range 0: sharp exactly at the focal depth, fully blurred elsewhere.
      {{-1, 5.0f, 0.0f, 50.0f}, KEPT, WHOLE, WHOLE},
  };
  for (const auto& c : cases) {
    TestFrame frame(7, 5);
    frame.FillZ(-5.0f);
    frame.Z(5, 1) = -5.001f;
    frame.Z(2, 3) = Z_BACKGROUND;
    const auto out = Blur(frame, {CHANNEL_Z}, c.params);
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) {
        const bool whole = x == 2 && y == 3   ? c.background
                           : x == 5 && y == 1 ? c.atFiveAndABit
                                              : c.atFive;
        EXPECT_EQ(out[y * 7 + x], whole ? WholeImageMean(frame, x, y) : frame.Pixel(x, y))
            << "focal " << c.params.focalDepth << " range " << c.params.range << " size "
            << c.params.size << " at " << x << "," << y;
      }
    }
  }
}

// Only pixels whose ID matches are blurred, each from all its neighbours.
TEST(DepthBlur, IdFilterBlursOnlyMatchingPixels) {
  TestFrame frame(7, 5, CHANNEL_Z | CHANNEL_MTL_ID);
  frame.FillZ(Z_BACKGROUND);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) frame.Mtl(x, y) = static_cast<uint8_t>((x + 2 * y) % 4);
  }
  frame.Mtl(3, 2) = 5;
  frame.Mtl(0, 4) = 5;
  frame.Mtl(0, 0) = 5;
  const auto out = Blur(frame, {CHANNEL_Z, CHANNEL_MTL_ID}, {5, 0.0f, 10.0f, 1.0f});
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      if (frame.Mtl(x, y) == 5) continue;
      EXPECT_EQ(out[y * 7 + x], frame.Pixel(x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(out[2 * 7 + 3],
            MeanOf(frame, {{2, 1}, {3, 1}, {4, 1}, {2, 2}, {3, 2}, {4, 2}, {2, 3}, {3, 3}, {4, 3}},
                   frame.Pixel(3, 2).a));
  EXPECT_EQ(out[4 * 7 + 0], MeanOf(frame, {{0, 3}, {1, 3}, {0, 4}, {1, 4}}, frame.Pixel(0, 4).a));
  EXPECT_EQ(out[0], MeanOf(frame, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, frame.Pixel(0, 0).a));

  // An ID filter outside the 8-bit range matches nothing.
  EXPECT_EQ(Blur(frame, {CHANNEL_Z, CHANNEL_MTL_ID}, {5 + 256, 0.0f, 10.0f, 1.0f}),
            frame.PixelsCopy());
}

// The material-effects channel decides whenever it was requested, in
// either order, even when the host could not deliver it; a missing deciding
// channel reads as ID 0 everywhere.
TEST(DepthBlur, MaterialChannelDecidesWheneverItWasRequested) {
  TestFrame frame(7, 5, CHANNEL_Z | CHANNEL_MTL_ID | CHANNEL_OBJ_ID);
  frame.FillZ(Z_BACKGROUND);
  frame.Mtl(1, 1) = 5;
  frame.Obj(4, 3) = 5;
  const BlurParams five{5, 0.0f, 10.0f, 1.0f};
  const auto all = Blur(frame, {CHANNEL_Z}, {-1, 0.0f, 10.0f, 1.0f});
  // True when exactly pixel (x, y) was blurred.
  auto onlyBlurred = [&](const std::vector<BMM_Color_64>& out, int x, int y) {
    for (int i = 0; i < 35; ++i) {
      if (out[i] != (i == y * 7 + x ? all[i] : frame.Storage().Pixels()[i])) return false;
    }
    return true;
  };
  EXPECT_TRUE(onlyBlurred(Blur(frame, {CHANNEL_Z, CHANNEL_MTL_ID, CHANNEL_OBJ_ID}, five), 1, 1));
  EXPECT_TRUE(onlyBlurred(Blur(frame, {CHANNEL_Z, CHANNEL_OBJ_ID, CHANNEL_MTL_ID}, five), 1, 1));
  EXPECT_TRUE(onlyBlurred(Blur(frame, {CHANNEL_Z, CHANNEL_OBJ_ID}, five), 4, 3));

  frame.Storage().RemoveChannels(CHANNEL_MTL_ID);
  const BlurParams zero{0, 0.0f, 10.0f, 1.0f};
  EXPECT_EQ(Blur(frame, {CHANNEL_Z, CHANNEL_OBJ_ID, CHANNEL_MTL_ID}, zero), all);
  EXPECT_EQ(Blur(frame, {CHANNEL_Z, CHANNEL_OBJ_ID, CHANNEL_MTL_ID}, five), frame.PixelsCopy());
  EXPECT_EQ(Blur(frame, {CHANNEL_Z}, zero), all);  // no ID channel requested
  EXPECT_EQ(Blur(frame, {CHANNEL_Z}, five), frame.PixelsCopy());
}

// The messages the progress window must see for rows 0 .. lastSent.
void ExpectRowMessages(const ProgressWindow& progress, int lastSent, int height,
                       const int32_t* abortFlag) {
  const auto& log = progress.Log();
  ASSERT_EQ(log.size(), static_cast<size_t>(2 * (lastSent + 1)));
  for (int y = 0; y <= lastSent; ++y) {
    const auto& report = log[2 * y];
    const auto& query = log[2 * y + 1];
    EXPECT_EQ(report.message, HOST_PROGRESS);
    EXPECT_EQ(report.wParam, static_cast<WPARAM>(y));
    EXPECT_EQ(report.lParam, height - 1);
    EXPECT_EQ(query.message, HOST_ABORT_QUERY);
    EXPECT_EQ(query.wParam, 0u);
    EXPECT_EQ(query.lParam, reinterpret_cast<LPARAM>(abortFlag));
  }
}

TEST(DepthBlur, ReportsEachRowAndStopsAtTheRowWhereAbortIsAnswered) {
  TestFrame frame(7, 5);
  frame.FillZ(Z_BACKGROUND);
  const BlurParams p{-1, 0.0f, 10.0f, 1.0f};
  const auto full = Blur(frame, {CHANNEL_Z}, p);
  for (int abortRow : {-1, 0, 2, 4}) {
    ProgressWindow progress;
    progress.AbortAfter(abortRow);
    WorkImage image(progress.Handle(), &frame.bitmap);
    image.LoadChannel(CHANNEL_Z);
    image.abortFlag = 1;  // left over from an earlier pass: reset at the start
    kestrion_test::RunBlur(image, p.idFilter, p.focalDepth, p.range, p.size);
    const int lastSent = abortRow < 0 ? 4 : abortRow;
    ExpectRowMessages(progress, lastSent, 5, &image.abortFlag);
    EXPECT_EQ(image.abortFlag != 0, abortRow >= 0);
    for (int y = 0; y < 5; ++y) {
      const bool blurred = abortRow < 0 || y < abortRow;
      for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(image.workPixels[y * 7 + x], blurred ? full[y * 7 + x] : frame.Pixel(x, y))
            << "abort at " << abortRow << ", pixel " << x << "," << y;
      }
    }
  }
}

TEST(DepthBlur, EmptyImagesSendOnlyTheMessagesOfTheirRows) {
  TestFrame zeroWidth(0, 4);
  ProgressWindow rows;
  WorkImage noColumns(rows.Handle(), &zeroWidth.bitmap);
  noColumns.LoadChannel(CHANNEL_Z);
  kestrion_test::RunBlur(noColumns, -1, 0.0f, 1.0f, 3.0f);
  ExpectRowMessages(rows, 3, 4, &noColumns.abortFlag);

  TestFrame zeroHeight(6, 0);
  Bitmap noStorage;
  for (Bitmap* bitmap : {&zeroHeight.bitmap, &noStorage}) {
    ProgressWindow silent;
    WorkImage image(silent.Handle(), bitmap);
    kestrion_test::RunBlur(image, -1, 0.0f, 1.0f, 3.0f);
    EXPECT_TRUE(silent.Log().empty());
  }
}

}  // namespace
