// frame_pattern.h: the file names of a shot and the frames to render.
//
// A frame pattern is a file name with one run of frame-number marks:
// `frame.####.exr` (four digits, zero-padded), `frame.%04d.exr` (printf
// style; `%d` is unpadded) or `frame.@@@@.exr` (as `#`). A number wider
// than the padding is written in full. Frame numbers are never negative.
//
// A frame list is `1-240`, `1-240x2` (every second frame), `1,5,10-20`,
// or any comma-separated mix; it is kept sorted and without repeats.
// A chunk `K/N` takes the K-th (1-based) of N nearly equal contiguous
// slices of it, so N farm tasks together render every frame exactly once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrion {

class FramePattern {
 public:
  // Nullopt when `name` holds no frame-number marks; throws a UsageError
  // naming `option` when it holds more than one run of them.
  static std::optional<FramePattern> Parse(const std::string& name, const std::string& option);

  std::string FileOf(int64_t frame) const;
  // The frame number of a file name that fits the pattern, else nullopt.
  std::optional<int64_t> FrameOf(const std::string& name) const;
  // Every frame whose file exists, in order.
  std::vector<int64_t> FramesOnDisk() const;
  const std::string& Text() const { return text; }

 private:
  std::string text;
  std::string prefix;  // directory part included
  std::string suffix;
  int padding = 0;
};

bool HoldsFramePattern(const std::string& name);

// Throws a UsageError naming --frames for text that is not a frame list.
std::vector<int64_t> ParseFrameList(const std::string& text);

struct Chunk {
  int64_t index = 1;  // 1-based
  int64_t count = 1;
};

// `K/N`; `slurm/N` (or `$SLURM_ARRAY_TASK_ID/N` already expanded by the
// shell) takes K from the job array: SLURM_ARRAY_TASK_ID counted from
// SLURM_ARRAY_TASK_MIN (1 when unset). `taskId` and `taskMin` are those
// variables' values, absent when unset. Throws a UsageError naming --chunk.
Chunk ParseChunk(const std::string& text, const char* taskId, const char* taskMin);

// The chunk's slice of `frames`: the first (size mod N) chunks hold one
// frame more than the others.
std::vector<int64_t> ChunkOf(const std::vector<int64_t>& frames, Chunk chunk);

}  // namespace kestrion
