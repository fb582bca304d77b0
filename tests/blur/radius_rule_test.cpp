// The radius rule at its edges, for one pixel and for a row: both forms
// must give the radius the rule's definition gives, whatever the inputs.
#include "blur/radius_rule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "blur/radius_rows.h"
#include "blur/window_sums.h"

namespace {

// The row forms: the plain loop, and RadiusRow with every vector width the
// build and the processor have.
const VectorWidth WIDTHS[] = {VectorWidth::None, VectorWidth::Baseline, VectorWidth::EightLanes,
                              VectorWidth::Widest};

void RowRadii(const RadiusRule& rule, const std::vector<float>& z, std::vector<int32_t>& radii,
              VectorWidth vectors) {
  radii.assign(z.size(), -1);
  const auto count = static_cast<int32_t>(z.size());
  if (vectors == VectorWidth::None) {
    BlurRadii(rule, z.data(), count, radii.data());
  } else {
    RadiusRow(rule, z.data(), count, radii.data(), WindowSums::ChooseLoops(vectors));
  }
}

constexpr float INF = std::numeric_limits<float>::infinity();
const float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float DENORMAL = 1.0e-40f;
constexpr int32_t EXTENT = 37;  // the image's larger side

struct Case {
  const char* what;
  float focal;
  float range;
  float size;
  float z;
  int32_t radius;
};

// Pixels store -depth: z = -12 is depth 12. Focal depth 10, range 4, size 8
// give radius trunc(2 * |depth - 10|) up to 8.
const Case CASES[] = {
    {"at the focal depth", 10.0f, 4.0f, 8.0f, -10.0f, 0},
    {"quotient just below 1", 10.0f, 4.0f, 8.0f, -10.4999f, 0},
    {"quotient exactly 1", 10.0f, 4.0f, 8.0f, -10.5f, 1},
    {"quotient just above 1", 10.0f, 4.0f, 8.0f, -10.5001f, 1},
    {"quotient just below 3", 10.0f, 4.0f, 8.0f, -11.4999f, 2},
    {"quotient exactly 3", 10.0f, 4.0f, 8.0f, -11.5f, 3},
    {"nearer than the focal depth", 10.0f, 4.0f, 8.0f, -8.5f, 3},
    {"capped at the size", 10.0f, 4.0f, 8.0f, -100.0f, 8},
    {"capped at a fractional size", 10.0f, 4.0f, 8.9f, -100.0f, 8},
    {"capped at the extent", 10.0f, 4.0f, 1000.0f, -100.0f, EXTENT},
    {"background", 10.0f, 4.0f, 8.0f, Z_BACKGROUND, 8},
    {"just in front of the background", 10.0f, 4.0f, 8.0f, std::nextafter(Z_BACKGROUND, 0.0f), 8},
    // Background and geometry told apart where they differ: a focal depth
    // at the background's own depth.
    {"background at the focal depth", 1.0e30f, 4.0f, 8.0f, Z_BACKGROUND, 8},
    {"geometry at a background-deep focus", -std::nextafter(Z_BACKGROUND, 0.0f), 4.0f, 8.0f,
     std::nextafter(Z_BACKGROUND, 0.0f), 0},
    {"beyond the background", 10.0f, 4.0f, 8.0f, -INF, 8},
    {"NaN z", 10.0f, 4.0f, 8.0f, NaN, 8},
    {"+infinite z", 10.0f, 4.0f, 8.0f, INF, 8},
    {"huge z", 10.0f, 4.0f, 8.0f, 3.0e38f, 8},
    {"distance beyond the float range", 3.0e38f, 3.0e38f, 8.0f, 3.0e38f, 8},
    {"distance beyond the float range, negative range", 3.0e38f, -3.0e38f, 8.0f, 3.0e38f, 0},
    {"size / range below the float range", 0.0f, 3.0e38f, 2.0f, 1.4e38f, 0},
    {"size / range below the float range, capped", 0.0f, 3.0e38f, 2.0f, 3.3e38f, 2},
    {"range 0 at the focal depth", 10.0f, 0.0f, 8.0f, -10.0f, 0},
    {"range 0 elsewhere", 10.0f, 0.0f, 8.0f, -10.001f, 8},
    {"range -0 elsewhere", 10.0f, -0.0f, 8.0f, -10.001f, 8},
    {"range 0, NaN focal depth", NaN, 0.0f, 8.0f, -10.0f, 8},
    {"range 0, background", 10.0f, 0.0f, 8.0f, Z_BACKGROUND, 8},
    {"range 0, size below 1", 10.0f, 0.0f, 0.9f, -12.0f, 0},
    {"NaN focal depth", NaN, 4.0f, 8.0f, -12.0f, 0},
    {"NaN focal depth, background", NaN, 4.0f, 8.0f, Z_BACKGROUND, 8},
    {"NaN range", 10.0f, NaN, 8.0f, -12.0f, 0},
    {"NaN size", 10.0f, 4.0f, NaN, -12.0f, 0},
    {"NaN size, background", 10.0f, 4.0f, NaN, Z_BACKGROUND, 0},
    {"infinite size", 10.0f, 4.0f, INF, -12.0f, EXTENT},
    {"infinite size at the focal depth", 10.0f, 4.0f, INF, -10.0f, 0},
    {"infinite range", 10.0f, INF, 8.0f, -100.0f, 0},
    {"infinite focal depth", INF, 4.0f, 8.0f, -12.0f, 8},
    {"denormal range", 10.0f, DENORMAL, 8.0f, -10.001f, 8},
    {"denormal size", 10.0f, 4.0f, DENORMAL, -100.0f, 0},
    {"negative range", 10.0f, -4.0f, 8.0f, -12.0f, 0},
    {"negative size", 10.0f, 4.0f, -8.0f, -12.0f, 0},
    {"negative size, background", 10.0f, 4.0f, -8.0f, Z_BACKGROUND, 0},
    {"size below 1", 10.0f, 4.0f, 0.999f, -100.0f, 0},
};

TEST(RadiusRule, PixelAndRowFormsGiveTheDefinedRadiusAtEveryEdge) {
  for (const Case& c : CASES) {
    const RadiusRule rule(c.focal, c.range, c.size, EXTENT);
    EXPECT_EQ(BlurRadius(rule, c.z), c.radius) << c.what;
    // In a row long enough for the vector loop, at every position, among
    // neighbours of other kinds.
    std::vector<float> z(19);
    for (size_t at = 0; at < z.size(); ++at) {
      for (size_t i = 0; i < z.size(); ++i) {
        z[i] = i % 3 == 0 ? Z_BACKGROUND : -c.focal - static_cast<float>(i);
      }
      z[at] = c.z;
      for (VectorWidth vectors : WIDTHS) {
        std::vector<int32_t> radii;
        RowRadii(rule, z, radii, vectors);
        for (size_t i = 0; i < z.size(); ++i) {
          ASSERT_EQ(radii[i], BlurRadius(rule, z[i]))
              << c.what << ", element " << i << " of row, vectors " << static_cast<int>(vectors);
        }
        EXPECT_EQ(radii[at], c.radius) << c.what << " at " << at;
      }
    }
  }
}

// Every row form gives each depth of `z` the pixel form's radius.
void ExpectRowFormsMatchThePixelForm(float focal, float range, float size, const RadiusRule& rule,
                                     const std::vector<float>& z) {
  for (VectorWidth vectors : WIDTHS) {
    std::vector<int32_t> radii;
    RowRadii(rule, z, radii, vectors);
    for (size_t i = 0; i < z.size(); ++i) {
      ASSERT_EQ(radii[i], BlurRadius(rule, z[i]))
          << "focal " << focal << " range " << range << " size " << size << " z " << z[i]
          << " vectors " << static_cast<int>(vectors);
    }
  }
}

// `count` consecutive floats towards -infinity, the first `before` steps
// from `at` towards 0.
void PushFloatsAround(std::vector<float>& z, float at, int before, int count) {
  for (int step = 0; step < before; ++step) at = std::nextafter(at, 0.0f);
  for (int step = 0; step < count; ++step) {
    z.push_back(at);
    at = std::nextafter(at, -INFINITY);
  }
}

// The vector rows estimate the quotient without dividing and divide only
// where the estimate cannot decide: quotients at whole numbers and a few
// units in the last place either side of them are where a margin too small
// or a wrong fallback would show. Random rules, with depths placed at and
// beside every whole quotient up to the cap and beyond it.
TEST(RadiusRule, RowFormsMatchThePixelFormAtAndBesideWholeQuotients) {
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> focalDepth(-300.0f, 3000.0f);
  std::uniform_real_distribution<float> logScale(-6.0f, 6.0f);
  std::uniform_int_distribution<int> sizes(1, 60);
  for (int round = 0; round < 300; ++round) {
    const float focal = focalDepth(rng);
    const float range = std::exp2(logScale(rng)) * (round % 7 == 0 ? -1.0f : 1.0f);
    const float size = static_cast<float>(sizes(rng)) + (round % 3 == 0 ? 0.5f : 0.0f);
    const RadiusRule rule(focal, range, size, 80);
    std::vector<float> z;
    for (int k = 0; k <= static_cast<int>(size) + 2; ++k) {
      // The depth at which the quotient is k, in front and behind, and its
      // float neighbours.
      const double distance = static_cast<double>(k) * std::fabs(range) / size;
      for (double depth : {focal + distance, focal - distance}) {
        PushFloatsAround(z, static_cast<float>(-depth), 3, 7);
      }
    }
    z.push_back(Z_BACKGROUND);
    z.push_back(-focal);
    ExpectRowFormsMatchThePixelForm(focal, range, size, rule, z);
  }
}

// Depths whose quotients lie within a few units in the last place of a
// single-precision float of a whole number, where a cheaper estimate of the
// quotient is most likely to fall on the wrong side: every float depth in a
// band around each whole quotient, for rules whose size / range is not a
// power of two, with the focal depth at the camera (the distance is the
// depth itself), near the depths and far beyond them.
TEST(RadiusRule, RowFormsMatchThePixelFormAcrossFloatNeighboursOfWholeQuotients) {
  std::mt19937 rng(977);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int round = 0; round < 24; ++round) {
    const float size = 3.0f + static_cast<float>(round % 5) * 7.0f + (round % 2 ? 0.3f : 0.0f);
    const float range = (0.1f + 100.0f * unit(rng)) * (round % 6 == 5 ? -1.0f : 1.0f);
    const float focal = round % 3 == 0 ? 0.0f : round % 3 == 1 ? 5.0f * unit(rng) : 1.0e4f;
    const RadiusRule rule(focal, range, size, 1000);
    std::vector<float> z;
    for (int k = 1; k <= static_cast<int>(size); ++k) {
      const double distance = static_cast<double>(k) * std::fabs(range) / size;
      PushFloatsAround(z, static_cast<float>(-(focal + distance)), 40, 80);
    }
    ExpectRowFormsMatchThePixelForm(focal, range, size, rule, z);
  }
}

TEST(RadiusRule, FullRadiusIsTheWholeSizeCappedAtTheExtent) {
  EXPECT_EQ(FullRadius(8.9f, EXTENT), 8);
  EXPECT_EQ(FullRadius(1.0f, EXTENT), 1);
  EXPECT_EQ(FullRadius(0.999f, EXTENT), 0);
  EXPECT_EQ(FullRadius(37.5f, EXTENT), EXTENT);
  EXPECT_EQ(FullRadius(1.0e30f, EXTENT), EXTENT);
  EXPECT_EQ(FullRadius(INF, EXTENT), EXTENT);
  EXPECT_EQ(FullRadius(-INF, EXTENT), 0);
  EXPECT_EQ(FullRadius(NaN, EXTENT), 0);
  EXPECT_EQ(FullRadius(-3.0f, EXTENT), 0);
  EXPECT_EQ(FullRadius(5.0f, 0), 0);  // an empty image
}

}  // namespace
