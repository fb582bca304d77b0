// Frames filtered in depth layers through the loaded module: the two edge
// artefacts of gathering gone, no fringe where layers meet, in-focus pixels
// kept, alpha as in the default path, the same bits on any threads.
#include "frame/layered_passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "frame/focus_record.h"
#include "tests/frame/loaded_module.h"

namespace kestrion {
namespace {

using frame_tests::Module;
using frame_tests::Named;

constexpr int32_t WIDTH = 160;
constexpr int32_t HEIGHT = 96;
constexpr float FOCAL_DEPTH = 10.0f;
constexpr float RANGE = 5.0f;
constexpr float SIZE = 16.0f;
// The square: [X0, X1) x [Y0, Y1).
constexpr int32_t X0 = 56;
constexpr int32_t X1 = 104;
constexpr int32_t Y0 = 24;
constexpr int32_t Y1 = 72;
constexpr float GREY = 0.2f;
constexpr float GREEN = 1.0f;

FocusConfig Record() { return frame_tests::RecordOf(RANGE, SIZE); }

// How far outside the square a pixel lies (0 inside), in the window's
// metric.
int32_t Outside(int32_t x, int32_t y) {
  const int32_t dx = std::max({X0 - x, x - (X1 - 1), 0});
  const int32_t dy = std::max({Y0 - y, y - (Y1 - 1), 0});
  return std::max(dx, dy);
}

struct Scene {
  FramePlanes planes;
  std::vector<float> z;
};

// A green square at `squareDepth` over a grey background at
// `backgroundDepth`, opaque.
Scene SquareOver(float squareDepth, float backgroundDepth) {
  Scene scene;
  FramePlanes& frame = scene.planes;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  const size_t count = frame.PixelCount();
  frame.colour.assign(3, Plane(count));
  frame.colourNames = {"R", "G", "B"};
  frame.alpha = Plane(count, 1.0f);
  scene.z.resize(count);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      const bool square = Outside(x, y) == 0;
      frame.colour[0][i] = GREY;
      frame.colour[1][i] = square ? GREEN : GREY;
      frame.colour[2][i] = GREY;
      scene.z[i] = -(square ? squareDepth : backgroundDepth);
    }
  }
  return scene;
}

FilteredPlanes Filter(const Scene& scene, bool layered, PassOptions options = Named("square")) {
  FocusFilterSession session(Module(), Record());
  return layered ? FilterPlanesLayered(session, FOCAL_DEPTH, scene.planes, scene.z, 0, options)
                 : FilterPlanes(session, FOCAL_DEPTH, scene.planes, scene.z, 0, options);
}

// The mean rise of green over the background's in the pixels outside the
// square up to `reach` away.
double GreenRise(const Plane& green, int32_t reach) {
  double sum = 0.0;
  size_t count = 0;
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const int32_t d = Outside(x, y);
      if (d < 1 || d > reach) continue;
      sum += green[static_cast<size_t>(y) * WIDTH + x] - GREY;
      ++count;
    }
  }
  return sum / static_cast<double>(count);
}

// Every value within the inputs' range, and alpha 1: a dark or bright
// fringe leaves it.
void ExpectNoFringe(const FilteredPlanes& out) {
  for (size_t i = 0; i < out.colour[0].size(); ++i) {
    ASSERT_NEAR(out.colour[0][i], GREY, 1e-3) << "pixel " << i;
    ASSERT_NEAR(out.colour[2][i], GREY, 1e-3) << "pixel " << i;
    ASSERT_GE(out.colour[1][i], GREY - 1e-3f) << "pixel " << i;
    ASSERT_LE(out.colour[1][i], GREEN + 1e-3f) << "pixel " << i;
    ASSERT_NEAR((*out.alpha)[i], 1.0f, 1e-3) << "pixel " << i;
  }
}

TEST(LayeredPasses, SharpObjectLeavesNoHaloOnTheBlurredBackground) {
  const Scene scene = SquareOver(FOCAL_DEPTH, 30.0f);
  // Gathering spreads the square's green into the background around it.
  EXPECT_GT(GreenRise(Filter(scene, false).colour[1], 16), 0.1);

  const FilteredPlanes layered = Filter(scene, true);
  EXPECT_LE(GreenRise(layered.colour[1], 16), 0.01);
  ExpectNoFringe(layered);
  EXPECT_EQ(layered.layers, 2);
  EXPECT_GT(layered.passes, 0);
  // The in-focus square is left exactly as it was.
  for (int32_t y = Y0; y < Y1; ++y) {
    for (int32_t x = X0; x < X1; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      for (size_t c = 0; c < 3; ++c) ASSERT_EQ(layered.colour[c][i], scene.planes.colour[c][i]);
    }
  }
}

TEST(LayeredPasses, BlurredObjectSpreadsOverTheSharpBackground) {
  const Scene scene = SquareOver(2.0f, FOCAL_DEPTH);
  EXPECT_LT(GreenRise(Filter(scene, false).colour[1], 8), 1e-6);

  const FilteredPlanes layered = Filter(scene, true);
  EXPECT_GE(GreenRise(layered.colour[1], 8), 0.15);
  // Inside the square's edge the background fills what its blur uncovers:
  // no dark fringe there either.
  ExpectNoFringe(layered);
  // The background beyond the square's reach is untouched.
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      if (Outside(x, y) <= static_cast<int32_t>(SIZE)) continue;
      ASSERT_EQ(layered.colour[1][static_cast<size_t>(y) * WIDTH + x], GREY);
    }
  }
}

// A ramp of depth through the focal plane with a square in front and one
// behind: every kind of layer meets every other.
Scene Ramp() {
  Scene scene = SquareOver(3.0f, FOCAL_DEPTH);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      if (Outside(x, y) == 0) continue;
      scene.z[i] = -(4.0f + 0.15f * static_cast<float>(x));
      scene.planes.colour[0][i] = 0.1f + 0.004f * static_cast<float>(y);
      if (x < 20 && y < 20) scene.planes.colour[1][i] = 40.0f;  // a highlight
    }
  }
  return scene;
}

TEST(LayeredPasses, SameBitsOnAnyThreads) {
  const Scene scene = Ramp();
  // Progress runs forward through the layers and through each layer's
  // passes.
  PassOptions heard = Named("ramp");
  double last = -1.0;
  int32_t calls = 0;
  heard.onProgress = [&](int32_t layer, int32_t layers, int32_t row, int32_t lastRow) {
    const double at = (layer + static_cast<double>(row) / (lastRow + 1)) / layers;
    EXPECT_GE(at, last) << "layer " << layer << " row " << row << " of " << lastRow;
    last = at;
    ++calls;
  };
  const FilteredPlanes one = Filter(scene, true, heard);
  EXPECT_GT(one.layers, 20);
  EXPECT_GT(calls, one.layers);
  PassOptions side = Named("ramp");
  side.threads = 2;
  side.concurrentPasses = 2;
  side.newSession = [] { return std::make_unique<FocusFilterSession>(Module(), Record()); };
  const FilteredPlanes two = Filter(scene, true, side);
  ASSERT_EQ(one.colour.size(), two.colour.size());
  for (size_t c = 0; c < one.colour.size(); ++c) EXPECT_EQ(one.colour[c], two.colour[c]);
  EXPECT_EQ(*one.alpha, *two.alpha);
}

TEST(LayeredPasses, OneColourStaysThatColourThroughThinLayers) {
  // A slanted square cut into strips a pixel or two wide on either side of
  // the focal plane, over a far wall: the strips are normalised by small
  // blurred coverages and fill their holes from small ones, which must not
  // magnify the passes' rounding (within 1 % here).
  Scene scene = SquareOver(FOCAL_DEPTH, 30.0f);
  for (int32_t y = Y0; y < Y1; ++y) {
    for (int32_t x = X0; x < X1; ++x) {
      scene.z[static_cast<size_t>(y) * WIDTH + x] =
          -(9.5f + 0.08f * static_cast<float>(x - X0) + 0.03f * static_cast<float>(y - Y0));
    }
  }
  for (Plane& plane : scene.planes.colour) std::fill(plane.begin(), plane.end(), 0.025f);
  const FilteredPlanes out = Filter(scene, true);
  EXPECT_GT(out.layers, 8);
  for (const Plane& plane : out.colour) {
    for (size_t i = 0; i < plane.size(); ++i)
      ASSERT_NEAR(plane[i], 0.025f, 2.5e-4) << "pixel " << i;
  }
}

TEST(LayeredPasses, StraightAlphaGivesThePremultipliedResultDivided) {
  // Half the frame transparent: a semi-transparent ramp over nothing.
  Scene premultiplied = Ramp();
  Plane& alpha = *premultiplied.planes.alpha;
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      alpha[i] = y < HEIGHT / 2 ? 1.0f : 0.25f;
      for (Plane& plane : premultiplied.planes.colour) plane[i] *= alpha[i];
    }
  }
  Scene straight = premultiplied;
  straight.planes.alphaMode = AlphaMode::Straight;
  for (size_t i = 0; i < alpha.size(); ++i) {
    for (Plane& plane : straight.planes.colour) plane[i] /= alpha[i];
  }
  const FilteredPlanes a = Filter(premultiplied, true);
  const FilteredPlanes b = Filter(straight, true);
  for (size_t i = 0; i < alpha.size(); ++i) {
    ASSERT_NEAR((*a.alpha)[i], (*b.alpha)[i], 1e-6) << "pixel " << i;
    ASSERT_GE((*a.alpha)[i], 0.25f - 1e-3f) << "pixel " << i;
    ASSERT_LE((*a.alpha)[i], 1.0f) << "pixel " << i;
    for (size_t c = 0; c < 3; ++c) {
      ASSERT_NEAR(a.colour[c][i], b.colour[c][i] * (*b.alpha)[i], 1e-4 * (1 + a.colour[c][i]))
          << "pixel " << i << " channel " << c;
    }
  }
}

TEST(LayeredPasses, OnlyTheSelectedObjectIsLayered) {
  // The square blurs as object 3; the background, object 1, is left alone.
  Scene scene = SquareOver(2.0f, 30.0f);
  FramePlanes& frame = scene.planes;
  frame.objectId = std::vector<uint16_t>(frame.PixelCount(), 1);
  for (int32_t y = Y0; y < Y1; ++y) {
    for (int32_t x = X0; x < X1; ++x) (*frame.objectId)[static_cast<size_t>(y) * WIDTH + x] = 3;
  }
  FocusFilterSession session(Module(),
                             frame_tests::RecordOf(RANGE, SIZE, {SOURCE_OBJECT_CHANNEL, 3}));
  const FilteredPlanes out =
      FilterPlanesLayered(session, FOCAL_DEPTH, frame, scene.z, 0, Named("objects"));
  EXPECT_EQ(out.layers, 2);
  // The square's blur spreads over the background around it, which is
  // otherwise as it was.
  EXPECT_GE(GreenRise(out.colour[1], 8), 0.15);
  const size_t corner = 0;
  EXPECT_EQ(out.colour[1][corner], GREY);
}

}  // namespace
}  // namespace kestrion
