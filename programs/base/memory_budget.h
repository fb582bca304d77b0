// memory_budget.h: what a render may use, and what it will need.
//
// Before any pixel memory is allocated, kestrion computes from the input's
// headers (OpenEXR headers, a PNG's header chunk, TIFF tags, and the same
// for a depth file) about how many bytes the whole run will hold at once,
// and refuses the file when that exceeds the memory limit (--memory-limit),
// or when a side of the frame exceeds the largest side it accepts
// (--max-side).
//
// The estimate is an upper bound built from per-pixel costs that are named
// below: the file's samples as read, a float plane for every channel the
// run may take from it, the brightness bands, sums and output copy of every
// channel it may filter, the depth as the renderer's Z, the host bitmap the
// module filters, the module's own working memory and the review image's
// samples.
#pragma once

#include <cstdint>
#include <string>

namespace kestrion {

// The largest side of a frame kestrion accepts: the host's bitmaps have
// 16-bit sides.
inline constexpr int64_t SIDE_MAX = 65535;

// One float plane of the frame.
inline constexpr uint64_t PLANE_BYTES_PER_PIXEL = 4;
// A channel filtered through the module: its brightness-band codes and
// 16-bit steps (3), the filtered sum (4) and its copy for the output (4).
inline constexpr uint64_t FILTERED_CHANNEL_BYTES_PER_PIXEL = 11;
// Which pixels the module left alone, from the passes' probe.
inline constexpr uint64_t PROBE_BYTES_PER_PIXEL = 1;
// The renderer's Z (4), the depth written back (4) and the depths of a
// focus object's pixels (8).
inline constexpr uint64_t DEPTH_BYTES_PER_PIXEL = 16;
// The host bitmap: 64-bit colour, Z float, object and material IDs.
inline constexpr uint64_t HOST_BITMAP_BYTES_PER_PIXEL = 15;
// The module's memory during one render beyond the host bitmap: its working
// copy of the pixels (8) and its summed-area table, 32-bit sums a channel,
// 64-bit ones where a window's sums can exceed 32 bits. Measured at 20
// bytes a pixel on 64 x 64, 13 on 1920 x 1080 with size 12 and 31 with
// size 400 (the MemoryBudget tests hold it to this bound).
inline constexpr uint64_t MODULE_BYTES_PER_PIXEL = 40;
// A review image (PNG, TIFF) read or written: 16-bit samples of four
// channels (8) and the encoded rows (8).
inline constexpr uint64_t REVIEW_BYTES_PER_PIXEL = 16;

// A layered render (frame/layered_passes.h), a channel: its premultiplied
// copy (4) and the layers' stack (4); a layer's cut of it and the cut of the
// stack behind (4 each), both filtered (11 each).
inline constexpr uint64_t LAYERED_CHANNEL_BYTES_PER_PIXEL = 38;
// And a pixel: the coverage's stack, cut and filtered twice (38), the
// pixel's radius and layer (8), whether a nearer layer reached it (1).
inline constexpr uint64_t LAYERED_BYTES_PER_PIXEL = 47;

// Every pass through the module run beside another holds a host bitmap and
// the module's memory of its own.
inline constexpr uint64_t CONCURRENT_PASS_BYTES_PER_PIXEL =
    HOST_BITMAP_BYTES_PER_PIXEL + MODULE_BYTES_PER_PIXEL;

// What one render holds, from the headers of its files.
struct RenderNeed {
  uint64_t fileBytes = 0;  // samples held as the files store them
  uint64_t pixels = 0;     // the frame's pixels (an upper bound)
  uint64_t channels = 0;   // channels the run may take into float planes
  bool layered = false;    // filtered in depth layers

  // The bytes the whole run needs, at most, with its passes one at a time.
  uint64_t Bytes() const;
  // The passes that may run at the same time within `limit`: `wanted` (1 or
  // more), fewer where the limit does not hold that many passes' memory
  // beside the rest of the run, and never fewer than 1.
  uint32_t ConcurrentPasses(uint64_t limit, uint32_t wanted) const;
};

struct ResourceLimits {
  uint64_t memoryLimit = 0;    // bytes; 0: DefaultMemoryLimit()
  int64_t maxSide = SIDE_MAX;  // the largest side of a frame, in pixels
  // What the messages of a limit exceeded call the limits: the caller's
  // names for them.
  std::string memoryLimitLabel = "memory_limit";
  std::string maxSideLabel = "max_side";

  uint64_t MemoryLimit() const;
};

// Half the physical memory, lowered to RLIMIT_AS or RLIMIT_DATA where
// those are set, divided among `workers` processes that run side by side.
uint64_t DefaultMemoryLimit(uint64_t workers = 1);

// "7.6 GiB", "512.0 MiB", "900 bytes".
std::string ByteSizeText(uint64_t bytes);

// Throws a FileError naming `path` when `need` exceeds the limit:
// "<path>: <doing> needs about 7.6 GiB, more than the 4.0 GiB memory limit
// (memory_limit)", with limits.memoryLimitLabel for its name.
void CheckNeed(uint64_t need, const ResourceLimits& limits, const std::string& path,
               const std::string& doing);
// Throws a FileError naming `path` when a side exceeds limits.maxSide.
void CheckSides(int64_t width, int64_t height, const ResourceLimits& limits,
                const std::string& path, const std::string& what);

}  // namespace kestrion
