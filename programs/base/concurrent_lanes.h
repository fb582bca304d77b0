// concurrent_lanes.h: a piece of work split into lanes that run at the same
// time, lane 0 on the calling thread and each other lane on a thread of its
// own, for the loops over a frame that are independent of each other.
//
// The abort check is asked only on the calling thread (abort_check.h): lane
// 0 gets it as it is, and while the other lanes run the calling thread keeps
// asking it; those lanes get a check that says stop once it has said so.
#pragma once

#include <cstddef>
#include <functional>

#include "base/abort_check.h"

namespace kestrion {

// Runs work(lane, check) for lanes 0 .. lanes - 1 at the same time and
// returns when every lane has ended. Once a lane throws, the others are told
// to stop; the exception of the lowest lane that failed by itself (not
// because it was told to stop) is rethrown.
void RunLanes(size_t lanes, const AbortCheck& abort,
              const std::function<void(size_t lane, const AbortCheck& check)>& work);

// Runs work(begin, end, check) on indices 0 .. count - 1 cut into runs of
// consecutive indices, one a lane, as RunLanes runs its lanes: `lanes` of
// them (at least 1, at most one an index).
void RunRanges(size_t count, size_t lanes, const AbortCheck& abort,
               const std::function<void(size_t begin, size_t end, const AbortCheck& check)>& work);

// The threads a count of 0 stands for: one a hardware thread.
unsigned HardwareThreadCount();

}  // namespace kestrion
