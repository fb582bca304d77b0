#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "formats/exr_io.h"
#include "formats/png_io.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::DistinctFrame;
using test_files::Save;
using test_files::ScratchDirectory;

TEST(PngFile, RoundTripKeepsSixteenBitValues) {
  ScratchDirectory dir;
  const Image original = DistinctFrame(7, 5);
  Save(original, dir / "frame.png");
  const Image read = ReadPng(dir / "frame.png");
  ASSERT_EQ(read.Width(), 7);
  ASSERT_EQ(read.Height(), 5);
  for (int i = 0; i < 35; ++i) {
    EXPECT_EQ(read.Storage().Pixels()[i], original.Storage().Pixels()[i]) << "pixel " << i;
  }
}

TEST(PngFile, LinearFramesAreWrittenAsSrgb) {
  ScratchDirectory dir;
  // At scale 2 a quarter of full scale is light 0.5, which sRGB encodes as
  // 0.7354; light 1.0 and above is white; alpha stays as it is.
  Image linear{Bitmap(1, 1), {true, 2.0f}};
  linear.Storage().Pixels()[0] = {16384, 32768, 65535, 1234};
  Save(linear, dir / "linear.png");
  const BMM_Color_64 read = ReadPng(dir / "linear.png").Storage().Pixels()[0];
  EXPECT_NEAR(read.r, 0.7354 * 65535, 40);
  EXPECT_EQ(read.g, 65535);
  EXPECT_EQ(read.b, 65535);
  EXPECT_EQ(read.a, 1234);
}

// Writes a 5 x 3 render the way other programs do: colour in FLOAT,
// positive depth, the data window one pixel inside the display window on
// the left.
void WriteForeignRender(const std::string& path, const std::vector<float>& depth) {
  Imf::Header header(5, 3);
  header.dataWindow() = Imath::Box2i({1, 0}, {4, 2});
  const Imath::Box2i window = header.dataWindow();
  std::vector<float> red(12), green(12, 0.25f), blue(12, 0.0f);
  for (int i = 0; i < 12; ++i) red[i] = 0.5f * i;  // up to 5.5: brighter than 1
  Imf::FrameBuffer frame;
  using Plane = std::pair<const char*, const std::vector<float>*>;
  for (auto [name, data] :
       {Plane{"R", &red}, Plane{"G", &green}, Plane{"B", &blue}, Plane{"Z", &depth}}) {
    header.channels().insert(name, Imf::Channel(Imf::FLOAT));
    frame.insert(name, Imf::Slice::Make(Imf::FLOAT, data->data(), window));
  }
  Imf::OutputFile file(path.c_str(), header);
  file.setFrameBuffer(frame);
  file.writePixels(3);
}

TEST(ExrFile, ReadsDepthAsNegatedZWithBackgroundForFarOrInvalid) {
  ScratchDirectory dir;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> depth = {5.5f,  inf,     nan,  1.0e30f, 2.0e30f, 0.25f,
                                    -3.0f, 9.0e29f, 0.0f, 100.0f,  -inf,    7.0f};
  WriteForeignRender(dir / "render.exr", depth);
  const Image image = ReadExr(dir / "render.exr");
  ASSERT_EQ(image.Width(), 5);
  ASSERT_EQ(image.Height(), 3);
  const float* z = image.Storage().ZChannel();
  ASSERT_NE(z, nullptr);
  const std::vector<float> expected = {-5.5f,        Z_BACKGROUND, Z_BACKGROUND, Z_BACKGROUND,
                                       Z_BACKGROUND, -0.25f,       3.0f,         -9.0e29f,
                                       -0.0f,        -100.0f,      Z_BACKGROUND, -7.0f};
  for (int y = 0; y < 3; ++y) {
    // Column 0 lies outside the data window: no geometry, transparent.
    EXPECT_EQ(z[y * 5], Z_BACKGROUND);
    EXPECT_EQ(image.Storage().Pixels()[y * 5], (BMM_Color_64{0, 0, 0, 0}));
    for (int x = 1; x < 5; ++x) {
      EXPECT_EQ(z[y * 5 + x], expected[y * 4 + x - 1]) << "pixel " << x << "," << y;
    }
  }
  // Colour brighter than 1 is kept: the brightest red maps to full scale.
  EXPECT_TRUE(image.encoding.linear);
  EXPECT_FLOAT_EQ(image.encoding.scale, 5.5f);
  EXPECT_EQ(image.Storage().Pixels()[14].r, CHANNEL_MAX);
  EXPECT_NEAR(ChannelToLight(image.Storage().Pixels()[6].r, image.encoding), 2.0f, 1e-3f);
  EXPECT_EQ(image.Storage().Pixels()[6].a, CHANNEL_MAX) << "no A channel means opaque";
  EXPECT_EQ(image.Storage().ObjChannel(), nullptr);
  EXPECT_EQ(image.Storage().MtlChannel(), nullptr);
}

}  // namespace
}  // namespace kestrion
