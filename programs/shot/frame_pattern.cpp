#include "shot/frame_pattern.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <system_error>

#include "base/errors.h"
#include "base/frame_numbers.h"
#include "base/numbers.h"

namespace kestrion {

namespace {

// List lengths stay far from lists no shot needs.
constexpr size_t FRAME_LIST_MAX = 1000000;

std::optional<int64_t> Number(std::string_view text) {
  return ParseInteger<int64_t>(text, 0, std::numeric_limits<int64_t>::max()).value;
}

struct Marks {
  size_t at = 0;
  size_t length = 0;
  int padding = 0;
};

// Every run of frame-number marks in `name`.
std::vector<Marks> FindMarks(const std::string& name) {
  std::vector<Marks> found;
  for (size_t i = 0; i < name.size();) {
    if (name[i] == '#' || name[i] == '@') {
      size_t end = i;
      while (end < name.size() && name[end] == name[i]) ++end;
      found.push_back({i, end - i, static_cast<int>(end - i)});
      i = end;
    } else if (name[i] == '%') {
      size_t end = i + 1;
      while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
      const std::string width = name.substr(i + 1, end - i - 1);
      if (end < name.size() && name[end] == 'd' && width.size() <= 2) {
        found.push_back({i, end + 1 - i, width.empty() ? 0 : std::stoi(width)});
        i = end + 1;
      } else {
        ++i;
      }
    } else {
      ++i;
    }
  }
  return found;
}

}  // namespace

std::optional<FramePattern> FramePattern::Parse(const std::string& name,
                                                const std::string& option) {
  const std::vector<Marks> marks = FindMarks(name);
  if (marks.empty()) return std::nullopt;
  if (marks.size() > 1) {
    throw UsageError(option + ": " + QuotedValue(name) +
                     " holds more than one frame number pattern; give one, e.g. frame.####.exr");
  }
  FramePattern pattern;
  pattern.text = name;
  pattern.prefix = name.substr(0, marks[0].at);
  pattern.suffix = name.substr(marks[0].at + marks[0].length);
  pattern.padding = marks[0].padding;
  return pattern;
}

bool HoldsFramePattern(const std::string& name) { return !FindMarks(name).empty(); }

std::string FramePattern::FileOf(int64_t frame) const {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*lld", padding, static_cast<long long>(frame));
  return prefix + digits + suffix;
}

std::optional<int64_t> FramePattern::FrameOf(const std::string& name) const {
  if (name.size() <= prefix.size() + suffix.size()) return std::nullopt;
  if (name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return std::nullopt;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const std::optional<int64_t> frame = Number(digits);
  // Only the spelling FileOf gives: frame.0001.exr fits ####, frame.1.exr
  // and frame.00001.exr do not.
  if (!frame || FileOf(*frame) != name) return std::nullopt;
  return frame;
}

std::vector<int64_t> FramePattern::FramesOnDisk() const {
  // The directory as the pattern spells it, so that directory / name gives
  // back the spelling FrameOf expects.
  const std::filesystem::path directory = std::filesystem::path(FileOf(0)).parent_path();
  std::vector<int64_t> frames;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error), end;
       !error && it != end; it.increment(error)) {
    const std::filesystem::path name = it->path().filename();
    const std::string spelled = directory.empty() ? name.string() : (directory / name).string();
    if (const auto frame = FrameOf(spelled)) frames.push_back(*frame);
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

std::vector<int64_t> ParseFrameList(const std::string& text) {
  const auto bad = [&text](const std::string& what) {
    return UsageError("--frames: " + QuotedValue(text) + " " + what +
                      " (give e.g. 1-240, 1-240x2 or 1,5,10-20)");
  };
  std::set<int64_t> frames;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const size_t dash = item.find('-');
    const size_t times = item.find('x');
    std::optional<int64_t> first, last, step = int64_t{1};
    if (dash == std::string::npos) {
      if (times != std::string::npos) throw bad("has a step without a range");
      first = last = Number(item);
    } else {
      first = Number(item.substr(0, dash));
      const size_t lastEnd = times == std::string::npos ? item.size() : times;
      if (times != std::string::npos && times < dash) throw bad("is not a frame list");
      last = Number(item.substr(dash + 1, lastEnd - dash - 1));
      if (times != std::string::npos) step = Number(item.substr(times + 1));
    }
    if (!first || !last || !step) throw bad("is not a frame list");
    for (const int64_t frame : {*first, *last}) {
      if (std::string problem = FrameProblem(frame); !problem.empty()) {
        throw UsageError("--frames: " + QuotedValue(text) + ": " + problem);
      }
    }
    if (*first > *last) throw bad("has a range that ends before it starts");
    if (*step < 1) throw bad("has a step below 1");
    for (int64_t frame = *first; frame <= *last; frame += *step) {
      frames.insert(frame);
      if (frames.size() > FRAME_LIST_MAX) throw bad("holds more than a million frames");
    }
    start = comma + 1;
  }
  return {frames.begin(), frames.end()};
}

Chunk ParseChunk(const std::string& text, const char* taskId, const char* taskMin) {
  const auto bad = [&text](const std::string& what) {
    return UsageError("--chunk: " + QuotedValue(text) + " " + what);
  };
  const size_t slash = text.find('/');
  if (slash == std::string::npos) throw bad("is not K/N (e.g. 3/16, or slurm/16 in a job array)");
  // No more chunks than a shot can have frames.
  const std::optional<int64_t> count = Number(text.substr(slash + 1));
  if (!count || *count < 1 || *count > FRAME_COUNT_MAX) {
    throw bad("does not end in a number of chunks from 1 to " + std::to_string(FRAME_COUNT_MAX));
  }
  const std::string which = text.substr(0, slash);
  std::optional<int64_t> index;
  if (which == "slurm") {
    if (!taskId) {
      throw bad("needs SLURM_ARRAY_TASK_ID; run it in a job array (sbatch --array=1-N)");
    }
    const std::optional<int64_t> id = Number(taskId);
    const std::optional<int64_t> min = taskMin ? Number(taskMin) : int64_t{1};
    if (!id || !min) throw bad("cannot use SLURM_ARRAY_TASK_ID / SLURM_ARRAY_TASK_MIN");
    index = *id - *min + 1;
  } else {
    index = Number(which);
    if (!index) throw bad("does not start with a chunk number (or slurm)");
  }
  if (*index < 1 || *index > *count) {
    throw bad("names chunk " + std::to_string(*index) + " of " + std::to_string(*count) +
              "; chunks count from 1 to " + std::to_string(*count));
  }
  return {*index, *count};
}

std::vector<int64_t> ChunkOf(const std::vector<int64_t>& frames, Chunk chunk) {
  const int64_t size = static_cast<int64_t>(frames.size());
  const int64_t base = size / chunk.count;
  const int64_t extra = size % chunk.count;
  const int64_t i = chunk.index - 1;
  const int64_t start = i * base + std::min(i, extra);
  const int64_t length = base + (i < extra ? 1 : 0);
  return {frames.begin() + start, frames.begin() + start + length};
}

}  // namespace kestrion
