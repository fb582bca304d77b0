#include "base/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "base/errors.h"

namespace kestrion {

namespace {

constexpr uint64_t MAX_BYTES = std::numeric_limits<uint64_t>::max();

// a * b, saturated.
uint64_t Times(uint64_t a, uint64_t b) {
  if (a != 0 && b > MAX_BYTES / a) return MAX_BYTES;
  return a * b;
}

uint64_t Plus(uint64_t a, uint64_t b) { return b > MAX_BYTES - a ? MAX_BYTES : a + b; }

// The soft limit of `resource`, or MAX_BYTES when it has none.
uint64_t ResourceLimit(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return MAX_BYTES;
  return static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace

uint64_t RenderNeed::Bytes() const {
  const uint64_t perPixel =
      Times(channels, PLANE_BYTES_PER_PIXEL + FILTERED_CHANNEL_BYTES_PER_PIXEL) +
      PROBE_BYTES_PER_PIXEL + DEPTH_BYTES_PER_PIXEL + HOST_BITMAP_BYTES_PER_PIXEL +
      MODULE_BYTES_PER_PIXEL + REVIEW_BYTES_PER_PIXEL +
      (layered ? Times(channels, LAYERED_CHANNEL_BYTES_PER_PIXEL) + LAYERED_BYTES_PER_PIXEL : 0);
  return Plus(fileBytes, Times(pixels, perPixel));
}

uint32_t RenderNeed::ConcurrentPasses(uint64_t limit, uint32_t wanted) const {
  if (wanted <= 1) return 1;
  const uint64_t perPass = Times(pixels, CONCURRENT_PASS_BYTES_PER_PIXEL);
  if (perPass == 0) return wanted;
  const uint64_t base = Bytes();
  if (base >= limit) return 1;
  return static_cast<uint32_t>(std::min<uint64_t>(wanted, 1 + (limit - base) / perPass));
}

uint64_t ResourceLimits::MemoryLimit() const {
  return memoryLimit != 0 ? memoryLimit : DefaultMemoryLimit();
}

uint64_t DefaultMemoryLimit(uint64_t workers) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  uint64_t share = pages > 0 && pageSize > 0
                       ? Times(static_cast<uint64_t>(pages), static_cast<uint64_t>(pageSize)) / 2
                       : uint64_t{4} << 30;
  share = std::min({share, ResourceLimit(RLIMIT_AS), ResourceLimit(RLIMIT_DATA)});
  return std::max<uint64_t>(1, share / std::max<uint64_t>(1, workers));
}

std::string ByteSizeText(uint64_t bytes) {
  static const char* const UNITS[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(UNITS)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, UNITS[unit]);
  return text;
}

void CheckNeed(uint64_t need, const ResourceLimits& limits, const std::string& path,
               const std::string& doing) {
  const uint64_t limit = limits.MemoryLimit();
  if (need <= limit) return;
  throw FileError(path, doing + " needs about " + ByteSizeText(need) + ", more than the " +
                            ByteSizeText(limit) + " memory limit (" + limits.memoryLimitLabel +
                            ")");
}

void CheckSides(int64_t width, int64_t height, const ResourceLimits& limits,
                const std::string& path, const std::string& what) {
  if (width >= 1 && height >= 1 && width <= limits.maxSide && height <= limits.maxSide) return;
  throw FileError(path, what + " of " + std::to_string(width) + " x " + std::to_string(height) +
                            " pixels is not supported (1 to " + std::to_string(limits.maxSide) +
                            " per side, " + limits.maxSideLabel + ")");
}

}  // namespace kestrion
