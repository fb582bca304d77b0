#include "blur/work_image.h"

#include <gtest/gtest.h>

#include <memory>

#include "host/progress_window.h"
#include "tests/support/test_frame.h"

namespace {

using kestrion_test::PatternPixel;
using kestrion_test::TestFrame;

TEST(WorkImage, CopiesArePixelExactAndIndependent) {
  TestFrame frame(7, 5);
  WorkImage image(nullptr, &frame.bitmap);
  ASSERT_TRUE(image.Allocated());
  ASSERT_EQ(image.width, 7);
  ASSERT_EQ(image.height, 5);
  ASSERT_NE(image.workPixels, image.sourcePixels);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(image.workPixels[y * 7 + x], PatternPixel(x, y)) << x << "," << y;
      EXPECT_EQ(image.sourcePixels[y * 7 + x], PatternPixel(x, y)) << x << "," << y;
    }
  }
  image.workPixels[3 * 7 + 6] = {1, 2, 3, 4};
  EXPECT_EQ(image.sourcePixels[3 * 7 + 6], PatternPixel(6, 3));
}

TEST(WorkImage, WriteBackPutsBackWhatWasReadAndTheWorkingChanges) {
  TestFrame frame(7, 5);
  const auto original = frame.PixelsCopy();
  {
    WorkImage image(nullptr, &frame.bitmap);
    frame.FillPixels({0, 0, 0, 0});
    image.WriteBack();
  }
  EXPECT_EQ(frame.PixelsCopy(), original);
  EXPECT_EQ(frame.bitmap.PutPixelsCalls(), 5u);

  WorkImage image(nullptr, &frame.bitmap);
  image.workPixels[2 * 7 + 4] = {9, 8, 7, 6};
  image.WriteBack();
  EXPECT_EQ(frame.Pixel(4, 2), (BMM_Color_64{9, 8, 7, 6}));
  EXPECT_EQ(frame.Pixel(3, 2), PatternPixel(3, 2));
}

TEST(WorkImage, EmptyImagesReadAndWriteNothing) {
  Bitmap noStorage;
  TestFrame zeroWidth(0, 4);
  TestFrame zeroHeight(6, 0);
  for (Bitmap* bitmap : {&noStorage, &zeroWidth.bitmap, &zeroHeight.bitmap}) {
    WorkImage image(nullptr, bitmap);
    EXPECT_TRUE(image.Allocated());
    EXPECT_EQ(image.workPixels, nullptr);
    EXPECT_EQ(image.sourcePixels, nullptr);
    image.WriteBack();
    EXPECT_EQ(bitmap->PutPixelsCalls(), 0u);
  }
  WorkImage image(nullptr, &noStorage);
  EXPECT_EQ(image.width, 0);
  EXPECT_EQ(image.height, 0);
  EXPECT_EQ(image.LoadChannel(CHANNEL_Z), 0);
  EXPECT_EQ(image.loadedChannels, CHANNEL_Z);
}

TEST(WorkImage, LoadChannelRecordsEveryRequest) {
  TestFrame frame(7, 5, CHANNEL_Z | CHANNEL_OBJ_ID);
  WorkImage image(nullptr, &frame.bitmap);
  EXPECT_EQ(image.loadedChannels, 0u);

  EXPECT_EQ(image.LoadChannel(CHANNEL_MTL_ID), 0);  // not rendered
  EXPECT_EQ(image.loadedChannels, CHANNEL_MTL_ID);
  EXPECT_EQ(image.mtlChannel, nullptr);

  EXPECT_EQ(image.LoadChannel(3), 0);  // not a channel code: asks nothing
  EXPECT_EQ(image.loadedChannels, 3u);
  EXPECT_EQ(image.zChannel, nullptr);

  EXPECT_EQ(image.LoadChannel(CHANNEL_Z), 1);
  EXPECT_EQ(image.zChannel, frame.Storage().ZChannel());
  EXPECT_EQ(image.LoadChannel(CHANNEL_OBJ_ID), 1);
  EXPECT_EQ(image.objectChannel, frame.Storage().ObjChannel());
  EXPECT_EQ(image.loadedChannels, 7u);

  // Asking again asks the host again and replaces the pointer, by null too.
  frame.Storage().RemoveChannels(CHANNEL_Z);
  EXPECT_EQ(image.LoadChannel(CHANNEL_Z), 0);
  EXPECT_EQ(image.zChannel, nullptr);
}

// A storage that changes size after the copies were made is read, written
// and lent only where both sizes agree.
TEST(WorkImage, StorageResizedAfterConstructionStaysInBounds) {
  TestFrame shrunk(7, 5, CHANNEL_Z);
  WorkImage small(nullptr, &shrunk.bitmap);
  shrunk.Storage().Resize(3, 2);
  EXPECT_EQ(small.LoadChannel(CHANNEL_Z), 0);
  EXPECT_EQ(small.zChannel, nullptr);
  small.WriteBack();
  EXPECT_EQ(shrunk.Pixel(2, 1), PatternPixel(2, 1));
  const PixelBuffer reread = small.ReadPixels();
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(reread[1 * 7 + 2], PatternPixel(2, 1));
  EXPECT_EQ(reread[4 * 7 + 6], (BMM_Color_64{0, 0, 0, 0}));  // not delivered: zero

  TestFrame grown(7, 5, CHANNEL_Z);
  WorkImage large(nullptr, &grown.bitmap);
  grown.Storage().Resize(9, 6);
  large.WriteBack();
  EXPECT_EQ(grown.Pixel(6, 4), PatternPixel(6, 4));
  EXPECT_EQ(grown.Pixel(7, 4), (BMM_Color_64{0, 0, 0, 0}));
  EXPECT_EQ(grown.Pixel(0, 5), (BMM_Color_64{0, 0, 0, 0}));
  // The blur keeps to the arrays it owns.
  ProgressWindow progress;
  large.progressWindow = progress.Handle();
  kestrion_test::RunBlur(large, -1, 10.0f, 10.0f, 3.0f);
  EXPECT_EQ(progress.AbortQueries(), 5);
  EXPECT_NE(large.workPixels[0], PatternPixel(0, 0));
}

}  // namespace
