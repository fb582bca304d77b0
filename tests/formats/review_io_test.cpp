// Review images written from float planes and read back.
#include "formats/review_io.h"

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "base/errors.h"
#include "formats/image.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::ScratchDirectory;
using test_files::WriteText;

constexpr int32_t WIDTH = 7;
constexpr int32_t HEIGHT = 5;

// Distinct channels that vary across the frame; a transparent column at
// x = 0 holding colour that must not be written.
FramePlanes Straight() {
  FramePlanes frame;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  frame.alphaMode = AlphaMode::Straight;
  frame.colour.assign(3, Plane(frame.PixelCount()));
  frame.alpha = Plane(frame.PixelCount());
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      frame.colour[0][i] = 0.05f + 0.13f * x;
      frame.colour[1][i] = 0.9f - 0.2f * y;
      frame.colour[2][i] = 0.01f * static_cast<float>(x * y);
      (*frame.alpha)[i] = x == 0 ? 0.0f : 0.2f + 0.15f * y;
    }
  }
  return frame;
}

FramePlanes Premultiplied(FramePlanes frame) {
  frame.alphaMode = AlphaMode::Premultiplied;
  for (Plane& plane : frame.colour) {
    for (size_t i = 0; i < plane.size(); ++i) plane[i] *= (*frame.alpha)[i];
  }
  return frame;
}

// Straight colour read back against what was written, within one step of
// the encoded value.
void ExpectStraightRoundTrip(const FramePlanes& written, const FramePlanes& read, float step) {
  ASSERT_EQ(read.width, WIDTH);
  ASSERT_EQ(read.height, HEIGHT);
  ASSERT_EQ(read.alphaMode, AlphaMode::Straight);
  ASSERT_TRUE(read.alpha);
  for (size_t i = 0; i < written.PixelCount(); ++i) {
    const float a = (*written.alpha)[i];
    EXPECT_NEAR((*read.alpha)[i], a, step) << i;
    for (size_t c = 0; c < 3; ++c) {
      const float expected = a == 0.0f ? 0.0f : written.colour[c][i];
      EXPECT_NEAR(SrgbEncode(read.colour[c][i]), SrgbEncode(expected), step) << i << " " << c;
    }
  }
}

TEST(ReviewImages, RoundTripStraightAlphaAtEachDepthAndFormat) {
  ScratchDirectory dir;
  const FramePlanes straight = Straight();
  struct Case {
    const char* name;
    ReviewFormat format;
    int32_t bits;
    float step;
  };
  for (const Case& c : {Case{"a.png", ReviewFormat::Png, 8, 0.6f / 255},
                        Case{"b.png", ReviewFormat::Png, 16, 0.6f / 65535},
                        Case{"c.tif", ReviewFormat::Tiff, 16, 0.6f / 65535}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReviewFormatOfName(dir / c.name), c.format);
    WriteReviewImage(straight, dir / c.name, c.format, c.bits);
    ExpectStraightRoundTrip(straight, ReadReviewImage(dir / c.name), c.step);
    // Premultiplied planes are written as the same straight image.
    WriteReviewImage(Premultiplied(straight), dir / c.name, c.format, c.bits);
    ExpectStraightRoundTrip(straight, ReadReviewImage(dir / c.name), 2 * c.step);
  }
}

TEST(ReviewImages, SaySrgbAndReadOpaqueFilesWithoutAlpha) {
  ScratchDirectory dir;
  FramePlanes frame = Straight();
  frame.alpha.reset();
  WriteReviewImage(frame, dir / "o.png", ReviewFormat::Png, 16);
  WriteReviewImage(frame, dir / "o.tiff", ReviewFormat::Tiff, 16);
  const std::string png = ReadText(dir / "o.png");
  EXPECT_NE(png.find("sRGB"), std::string::npos);
  EXPECT_NE(ReadText(dir / "o.tiff").find("sRGB-encoded"), std::string::npos);
  for (const char* name : {"o.png", "o.tiff"}) {
    const FramePlanes read = ReadReviewImage(dir / name);
    EXPECT_FALSE(read.alpha) << name;
    EXPECT_NEAR(read.colour[0][6], frame.colour[0][6], 1e-4f) << name;  // linear again
  }
}

TEST(ReviewImages, RefuseWhatTheyCannotWriteOrRead) {
  ScratchDirectory dir;
  EXPECT_THROW(ReviewFormatOfName("x.jpg"), Error);
  EXPECT_THROW(WriteReviewImage(Straight(), dir / "x.tif", ReviewFormat::Tiff, 8), Error);
  EXPECT_THROW(WriteReviewImage(Straight(), dir / "x.png", ReviewFormat::Png, 12), Error);
  WriteText(dir / "junk.png", "not an image at all");
  try {
    ReadReviewImage(dir / "junk.png");
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("junk.png"), std::string::npos) << e.what();
  }
}

TEST(DepthMaps, SixteenBitGreyIsReadNormalisedAndChecked) {
  ScratchDirectory dir;
  // Colour images are not depth maps.
  WriteReviewImage(Straight(), dir / "rgb.png", ReviewFormat::Png, 16);
  EXPECT_THROW(ReadDepthMap(dir / "rgb.png", WIDTH, HEIGHT), Error);

  const std::string path = dir / "depth.png";
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, WIDTH, HEIGHT, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(WIDTH * 2);
    for (int32_t y = 0; y < HEIGHT; ++y) {
      for (int32_t x = 0; x < WIDTH; ++x) {
        const uint16_t v = static_cast<uint16_t>(x * 10000 + y);
        row[2 * x] = static_cast<png_byte>(v >> 8);
        row[2 * x + 1] = static_cast<png_byte>(v & 0xFF);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
  }
  const Plane depth = ReadDepthMap(path, WIDTH, HEIGHT);
  EXPECT_FLOAT_EQ(depth[0], 0.0f);
  EXPECT_FLOAT_EQ(depth[3 * WIDTH + 6], (60000.0f + 3.0f) / 65535.0f);
  EXPECT_THROW(ReadDepthMap(path, WIDTH, HEIGHT + 1), Error);
}

// A bloom over an empty sky: premultiplied light far above its coverage.
// The plain look clips the straight colour at 1, which leaves a faint
// patch; flattened over a colour it is as bright as the light, and the soft
// clamp keeps it visible over transparency by raising its alpha.
TEST(ReviewImages, LooksKeepLightOverTransparencyVisible) {
  ScratchDirectory dir;
  FramePlanes frame;
  frame.width = 3;
  frame.height = 1;
  frame.alphaMode = AlphaMode::Premultiplied;
  // A bloom (light 5 at coverage 0.1), a dim half-covered pixel, an opaque
  // highlight.
  frame.colour = {{5.0f, 0.2f, 1.2f}, {2.5f, 0.1f, 1.2f}, {0.5f, 0.05f, 1.2f}};
  frame.alpha = Plane{0.1f, 0.5f, 1.0f};
  auto written = [&](const ReviewLook& look) {
    WriteReviewImage(frame, dir / "look.png", ReviewFormat::Png, 16, look);
    return ReadReviewImage(dir / "look.png");
  };

  const FramePlanes plain = written({});
  EXPECT_NEAR((*plain.alpha)[0], 0.1f, 1e-4f);
  EXPECT_EQ(plain.colour[0][0], 1.0f);  // clipped: over black it shows 0.1, not 5

  ReviewLook flatten;
  flatten.flatten = std::array<float, 3>{0.0f, 0.0f, 1.0f};
  const FramePlanes flat = written(flatten);
  EXPECT_FALSE(flat.alpha);
  EXPECT_EQ(flat.colour[0][0], 1.0f);
  EXPECT_NEAR(flat.colour[1][1], 0.1f + 0.5f * 0.0f, 1e-3f);
  EXPECT_NEAR(flat.colour[2][1], 0.05f + 0.5f * 1.0f, 1e-3f);  // half the blue behind

  ReviewLook soft;
  soft.soft = true;
  const FramePlanes shown = written(soft);
  EXPECT_GT((*shown.alpha)[0], 0.99f);  // the bloom as bright over black as the light
  EXPECT_LT(shown.colour[0][2], 1.0f);  // highlights rolled off, not clipped ...
  EXPECT_GT(shown.colour[0][2], 0.95f);
  EXPECT_NEAR(shown.colour[0][1], 0.4f, 1e-3f);  // ... and dim light left as it is
  EXPECT_NEAR((*shown.alpha)[1], 0.5f, 1e-4f);

  ReviewLook darker;
  darker.exposure = -2.0f;
  const FramePlanes dark = written(darker);
  EXPECT_NEAR(dark.colour[0][1], 0.1f, 1e-3f);  // a quarter of 0.4, alpha untouched
  EXPECT_NEAR((*dark.alpha)[1], 0.5f, 1e-4f);
}

// The 8-bit sample of the formula, SrgbEncode(v) x 255 rounded, and the
// table's: equal over a sweep of every float up to 1 and, wherever the
// sample steps up between two points of the sweep, at every float between.
TEST(SrgbByte, IsTheFormulaBitForBit) {
  const auto formula = [](float v) {
    const float e = SrgbEncode(v);
    return e >= 1.0f ? 255 : e > 0.0f ? static_cast<int>(std::lround(e * 255.0f)) : 0;
  };
  const auto at = [](uint32_t bits) { return std::bit_cast<float>(bits); };
  constexpr uint32_t ONE = 0x3F800000u;
  constexpr uint32_t STRIDE = 997;
  int steps = 0;
  int previous = 0;
  for (uint32_t bits = 0; bits <= ONE; bits += STRIDE) {
    const int sample = formula(at(bits));
    ASSERT_EQ(SrgbByte(at(bits)), sample) << std::hex << bits;
    if (sample != previous) {
      ++steps;
      for (uint32_t b = bits - STRIDE; b < bits; ++b) {
        ASSERT_EQ(SrgbByte(at(b)), formula(at(b))) << std::hex << b;
      }
    }
    previous = sample;
  }
  EXPECT_EQ(steps, 255);
  for (const float v : {-1.0f, -0.0f, std::nanf(""), std::numeric_limits<float>::denorm_min(),
                        std::nextafter(1.0f, 0.0f), 1.0f, 7.5f, INFINITY, -INFINITY}) {
    EXPECT_EQ(SrgbByte(v), formula(v)) << v;
  }
}

}  // namespace
}  // namespace kestrion
