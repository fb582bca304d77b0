#include "base/concurrent_lanes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace kestrion {

void RunLanes(size_t lanes, const AbortCheck& abort,
              const std::function<void(size_t lane, const AbortCheck& check)>& work) {
  if (lanes <= 1) {
    work(0, abort);
    return;
  }
  // Set once a lane fails: the others stop at their next question instead
  // of finishing work nobody will use. Each helper lane has a check of its
  // own, which remembers whether it said stop for that reason.
  std::atomic<bool> failed{false};
  std::vector<std::atomic<bool>> toldToStop(lanes);
  std::vector<std::unique_ptr<AbortCheck>> checks;
  for (size_t lane = 0; lane < lanes; ++lane) {
    checks.push_back(std::make_unique<AbortCheck>([&abort, &failed, &toldToStop, lane] {
      if (abort.Stopped()) return true;
      if (!failed.load()) return false;
      toldToStop[lane] = true;
      return true;
    }));
  }
  std::vector<std::exception_ptr> errors(lanes);
  auto run = [&](size_t lane, const AbortCheck& check) {
    try {
      work(lane, check);
    } catch (...) {
      failed = true;
      // A lane that ended because it was told to stop adds nothing.
      if (!toldToStop[lane]) errors[lane] = std::current_exception();
    }
  };
  std::vector<std::future<void>> others;
  for (size_t lane = 1; lane < lanes; ++lane) {
    others.push_back(std::async(std::launch::async, run, lane, std::cref(*checks[lane])));
  }
  run(0, abort);
  for (std::future<void>& other : others) {
    // The calling thread goes on asking while the others run.
    while (other.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
      abort.Requested();
    }
  }
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

void RunRanges(size_t count, size_t lanes, const AbortCheck& abort,
               const std::function<void(size_t begin, size_t end, const AbortCheck& check)>& work) {
  const size_t runs = std::clamp<size_t>(lanes, 1, std::max<size_t>(count, 1));
  RunLanes(runs, abort, [&](size_t lane, const AbortCheck& check) {
    work(count * lane / runs, count * (lane + 1) / runs, check);
  });
}

unsigned HardwareThreadCount() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace kestrion
