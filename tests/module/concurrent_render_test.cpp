// Filters of the loaded KESTRION.FLT rendering on several threads at once,
// as a host program that runs the passes of one frame side by side does:
// each render through a filter of its own, with its own bitmap and its own
// progress window, all made on the render's thread. Every render must come
// out exactly as the same render done alone. scripts/test-threads runs this
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/filter_pipeline.h"
#include "host/progress_window.h"
#include "kestrion/focus_config.h"
#include "platform/message_box.h"
#include "tests/support/scene_frame.h"

namespace {

constexpr int THREADS = 4;
constexpr int ROUNDS = 3;  // each thread renders its jobs this many times
const char* const FOCAL_NODES[] = {"Near", "Middle", "Far"};
constexpr float FOCAL_DEPTHS[] = {30.0f, 75.0f, 160.0f};

// One render: the record, the frame and how the host answers it.
struct Job {
  FocusConfig record{};
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t seed = 0;
  int32_t frame = 0;        // the frame rendered; the Size track is keyed over frames 0 .. 20
  int64_t abortAfter = -1;  // abort queries answered "go on" before the abort; -1: never
};

struct Outcome {
  int32_t result = -1;
  int64_t abortQueries = 0;
  std::vector<BMM_Color_64> pixels;
  bool operator==(const Outcome&) const = default;
};

// A camera at the world origin looking down -z: depth is -z.
void PlaceNodes() {
  for (size_t i = 0; i < std::size(FOCAL_NODES); ++i) {
    HostInterface()
        .AddNode(FOCAL_NODES[i])
        .SetWorldTransform(0, Matrix3::Translation({3.0f, -2.0f, -FOCAL_DEPTHS[i]}));
  }
}

std::vector<Job> MakeJobs() {
  std::mt19937 rng(5150);
  std::vector<Job> jobs;
  const int32_t modes[] = {SOURCE_WHOLE_IMAGE, SOURCE_WHOLE_IMAGE, SOURCE_MATERIAL_EFFECTS,
                           SOURCE_OBJECT_CHANNEL};
  const float sizes[] = {1.0f, 2.0f, 3.5f, 8.0f, 17.0f, 40.0f, 300.0f};
  for (int i = 0; i < 4 * THREADS; ++i) {
    Job job;
    job.record.magic = CONFIG_MAGIC;
    job.record.sourceMode = modes[i % std::size(modes)];
    job.record.materialEffectsId = i % 4;
    job.record.objectChannelId = (i + 1) % 4;
    // One render in eight has no focal object: it shows the message box.
    if (i % 8 != 5) kestrion_test::SetFocalName(job.record, FOCAL_NODES[i % 3]);
    job.record.blurRange = std::uniform_real_distribution<float>(5.0f, 120.0f)(rng);
    job.record.blurSize = sizes[i % std::size(sizes)];
    job.width = static_cast<uint16_t>(std::uniform_int_distribution<int>(1, 140)(rng));
    job.height = static_cast<uint16_t>(std::uniform_int_distribution<int>(1, 90)(rng));
    job.seed = static_cast<uint32_t>(rng());
    job.frame = i % 21;
    if (i % 5 == 3) job.abortAfter = std::uniform_int_distribution<int>(0, job.height)(rng);
    jobs.push_back(job);
  }
  return jobs;
}

// Random pixels, depths about the focal depths (some background) and IDs 0
// to 3, the same for every render of the job.
Bitmap MakeFrame(const Job& job) {
  Bitmap bitmap(job.width, job.height);
  BitmapStorage& storage = *bitmap.Storage();
  storage.CreateChannels(CHANNEL_Z | CHANNEL_MTL_ID | CHANNEL_OBJ_ID);
  storage.CreateRenderInfo();  // identity: world and camera space agree
  std::mt19937 rng(job.seed);
  std::uniform_int_distribution<int> channel(0, 65535);
  std::uniform_real_distribution<float> depth(0.0f, 250.0f);
  for (size_t i = 0; i < static_cast<size_t>(job.width) * job.height; ++i) {
    storage.Pixels()[i] = {static_cast<uint16_t>(channel(rng)), static_cast<uint16_t>(channel(rng)),
                           static_cast<uint16_t>(channel(rng)),
                           static_cast<uint16_t>(channel(rng))};
    storage.ZChannel()[i] = channel(rng) % 6 == 0 ? Z_BACKGROUND : -depth(rng);
    storage.MtlChannel()[i] = static_cast<uint8_t>(channel(rng) % 4);
    storage.ObjChannel()[i] = static_cast<uint16_t>(channel(rng) % 4);
  }
  return bitmap;
}

// Creates a filter, gives it the record, keys its Size track and renders
// the job's frame, all on the calling thread.
Outcome Render(const FilterModule& module, const Job& job) {
  Outcome outcome;
  std::unique_ptr<ImageFilter> filter = module.CreateFilter();
  if (!filter) return outcome;
  FocusConfig record = job.record;
  if (!filter->LoadConfigure(&record)) return outcome;
  filter->FilterUpdate();
  Control* size = filter->Node() ? filter->Node()->GetController(SIZE_TRACK) : nullptr;
  if (!size) return outcome;
  size->SetKeys({{0, job.record.blurSize}, {20 * GetTicksPerFrame(), job.record.blurSize * 1.5f}});

  Bitmap bitmap = MakeFrame(job);
  ProgressWindow progress;
  progress.Record(false);
  progress.AbortAfter(job.abortAfter);
  FilterFrame frame{&bitmap, ImageFilterInfo{0, 20, job.frame}};
  outcome.result = RunFilter(*filter, frame, progress.Handle());
  outcome.abortQueries = progress.AbortQueries();
  const BMM_Color_64* pixels = bitmap.Storage()->Pixels();
  outcome.pixels.assign(pixels, pixels + static_cast<size_t>(job.width) * job.height);
  return outcome;
}

class ConcurrentRenders : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module = FilterModule::Load(KESTRION_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
    HostInterface().Reset();
    PlaceNodes();
    platform::ClearShownMessages();
  }
  void TearDown() override {
    platform::SetMessageBoxObserver({});
    platform::ClearShownMessages();
    HostInterface().Reset();
  }

  std::unique_ptr<FilterModule> module;
};

TEST_F(ConcurrentRenders, EachMatchesTheSameRenderDoneAlone) {
  const std::vector<Job> jobs = MakeJobs();
  std::vector<Outcome> alone;
  for (const Job& job : jobs) alone.push_back(Render(*module, job));
  size_t undefined = 0;
  for (size_t i = 0; i < jobs.size(); ++i) {
    // The jobs are meant to blur, abort and give up: check that they do.
    ASSERT_EQ(alone[i].result, jobs[i].record.focalObjectName[0] ? 1 : 0) << "job " << i;
    undefined += jobs[i].record.focalObjectName[0] ? 0 : 1;
  }
  ASSERT_GT(undefined, 0u);
  platform::ClearShownMessages();

  std::atomic<int> observed{0};
  platform::SetMessageBoxObserver([&observed](const platform::ShownMessage&) { ++observed; });
  // Thread t renders jobs t, t + THREADS, ... ROUNDS times over, starting
  // together with the others.
  std::vector<std::vector<Outcome>> outcomes(THREADS);
  std::latch start(THREADS);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < ROUNDS; ++round) {
        for (size_t i = t; i < jobs.size(); i += THREADS) {
          outcomes[t].push_back(Render(*module, jobs[i]));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int t = 0; t < THREADS; ++t) {
    size_t k = 0;
    for (int round = 0; round < ROUNDS; ++round) {
      for (size_t i = t; i < jobs.size(); i += THREADS, ++k) {
        ASSERT_LT(k, outcomes[t].size());
        const Outcome& got = outcomes[t][k];
        EXPECT_EQ(got.result, alone[i].result) << "job " << i << " round " << round;
        EXPECT_EQ(got.abortQueries, alone[i].abortQueries) << "job " << i << " round " << round;
        EXPECT_TRUE(got.pixels == alone[i].pixels) << "job " << i << " round " << round;
      }
    }
  }
  // Every message box shown on any thread was recorded and observed once.
  const auto shown = platform::ShownMessages();
  EXPECT_EQ(shown.size(), undefined * ROUNDS);
  EXPECT_EQ(observed.load(), static_cast<int>(undefined * ROUNDS));
  for (const platform::ShownMessage& message : shown) {
    EXPECT_EQ(message.text, "Error : Object undefined!");
    EXPECT_EQ(message.caption, "Kestrion");
  }
}

}  // namespace
