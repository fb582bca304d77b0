// Lanes run at once: every lane runs, the error a run ends with is that of
// the lowest lane that failed by itself, and an abort asked on the calling
// thread reaches the other lanes.
#include "base/concurrent_lanes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"

namespace kestrion {
namespace {

TEST(ConcurrentLanes, RunsEveryLaneOnThreadsOfItsOwn) {
  for (const size_t lanes : {size_t{1}, size_t{2}, size_t{5}}) {
    std::vector<int> ran(lanes, 0);
    std::vector<std::thread::id> threads(lanes);
    RunLanes(lanes, NeverAbort(), [&](size_t lane, const AbortCheck&) {
      ++ran[lane];
      threads[lane] = std::this_thread::get_id();
    });
    EXPECT_EQ(ran, std::vector<int>(lanes, 1));
    EXPECT_EQ(threads[0], std::this_thread::get_id());
    for (size_t lane = 1; lane < lanes; ++lane) EXPECT_NE(threads[lane], threads[0]);
  }
}

TEST(ConcurrentLanes, EndsWithTheLowestLaneThatFailedByItself) {
  // Lanes 2 and 3 fail, in either order; lane 1 waits until told to stop,
  // and its Aborted (only the consequence of another lane's failure) is not
  // the answer.
  try {
    RunLanes(4, NeverAbort(), [](size_t lane, const AbortCheck& check) {
      if (lane == 2 || lane == 3) throw std::runtime_error("lane " + std::to_string(lane));
      if (lane == 1) {
        while (true) {
          check.ThrowIfRequested();
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
    });
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "lane 2");
  }
}

TEST(ConcurrentLanes, TheCallingThreadsAbortStopsTheOthers) {
  // The query says yes once lane 0 is done; only the calling thread may ask
  // it, and lane 1 must still learn of it.
  std::atomic<bool> lane0Done{false};
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> askedElsewhere{false};
  const AbortCheck abort([&] {
    if (std::this_thread::get_id() != caller) askedElsewhere = true;
    return lane0Done.load();
  });
  EXPECT_THROW(RunLanes(2, abort,
                        [&](size_t lane, const AbortCheck& check) {
                          if (lane == 0) {
                            lane0Done = true;
                            return;
                          }
                          while (true) {
                            check.ThrowIfRequested();
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                          }
                        }),
               Error);
  EXPECT_FALSE(askedElsewhere);
  EXPECT_TRUE(abort.Stopped());
}

}  // namespace
}  // namespace kestrion
