// allocation_record.h: what kestrion knows about allocations that failed.
//
// The kestrion executable (and every program that links kestrion_base
// and uses this header) replaces the global operator new and delete, all
// forms, throwing and nothrow, and (with the GNU C library, unless a
// sanitizer owns the heap) wraps malloc, calloc, realloc and free around
// the C library's own. Memory still comes from the C library's allocator;
// the record only counts the allocations that fail and keeps the size of
// the last, so that a filter that gives up for want of memory can be
// reported with the size it asked for. The loaded module takes its memory
// through the same two ways: its pixel copies from malloc, its tables from
// operator new. Blocks of 4 MiB and more are advised to be backed by 2 MiB
// pages where the system offers them on request (the first touch of a
// frame's planes then costs a fault per 2 MiB, not per 4 KiB).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrion {

struct FailedAllocations {
  uint64_t count = 0;      // allocations that failed since the program started
  size_t lastSize = 0;     // the size of the last one, in bytes
  size_t largestSize = 0;  // the largest one
};

FailedAllocations FailedAllocationsSoFar();

// Whether malloc's failures (and blocks) are recorded too, not only
// operator new's: false in sanitizer builds, whose runtime owns malloc.
bool AllocationRecordSeesMalloc();

// The failures between two snapshots: count and sizes of those after `before`.
struct AllocationWatch {
  FailedAllocations before = FailedAllocationsSoFar();
  // Failures since the watch started; lastSize is that of the last of them.
  FailedAllocations Since() const;
};

// For measurements: while it lives, the bytes allocated through operator
// new and not yet freed are counted (as malloc sized the blocks), from 0 at
// its start; Peak() is the most they reached. One at a time.
class AllocationPeak {
 public:
  AllocationPeak();
  ~AllocationPeak();
  AllocationPeak(const AllocationPeak&) = delete;
  AllocationPeak& operator=(const AllocationPeak&) = delete;
  int64_t Peak() const;
};

// While one lives, on any thread, every block operator new hands out is
// zero-filled: for a library that decodes into buffers of its own (its
// threads allocating too), so that whatever a damaged input leaves
// unwritten in them is zero, never what the memory held before. They nest;
// each block costs a memset meanwhile.
class ZeroFilledAllocations {
 public:
  ZeroFilledAllocations();
  ~ZeroFilledAllocations();
  ZeroFilledAllocations(const ZeroFilledAllocations&) = delete;
  ZeroFilledAllocations& operator=(const ZeroFilledAllocations&) = delete;
};

// For tests: while it lives, every operator new of more than `bytes` bytes
// fails as if memory had run out (operator new stays the only way in).
class AllocationCapForTesting {
 public:
  explicit AllocationCapForTesting(size_t bytes);
  ~AllocationCapForTesting();
  AllocationCapForTesting(const AllocationCapForTesting&) = delete;
  AllocationCapForTesting& operator=(const AllocationCapForTesting&) = delete;
};

}  // namespace kestrion
