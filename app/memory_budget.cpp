#include "app/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "app/errors.h"

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

// A whole number of decimal digits only; nothing when it is not one or
// does not fit.
bool ParseDigits(const std::string& text, uint64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (MAX_BYTES - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// "<option>: '<text>' <what>", built by appending (GCC 12 warns falsely
// about overlapping copies in a chain of + on a string made from a char*).
std::string OptionMessage(const char* option, const std::string& text, const char* what) {
  std::string message = option;
  message.append(": '").append(text.substr(0, 80)).append("' ").append(what);
  return message;
}

}  // namespace

uint64_t RenderNeed::Bytes() const {
  const uint64_t perPixel =
      Times(channels, PLANE_BYTES_PER_PIXEL + FILTERED_CHANNEL_BYTES_PER_PIXEL) +
      DEPTH_BYTES_PER_PIXEL + HOST_BITMAP_BYTES_PER_PIXEL + MODULE_BYTES_PER_PIXEL +
      REVIEW_BYTES_PER_PIXEL;
  return Plus(fileBytes, Times(pixels, perPixel));
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

uint64_t ParseMemorySize(const std::string& text, const char* option) {
  const std::string wrong =
      OptionMessage(option, text, "is not a size (bytes, or a whole number with K, M, G or T)");
  std::string digits = text;
  unsigned shift = 0;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 'K':
      case 'k':
        shift = 10;
        break;
      case 'M':
      case 'm':
        shift = 20;
        break;
      case 'G':
      case 'g':
        shift = 30;
        break;
      case 'T':
      case 't':
        shift = 40;
        break;
      default:
        break;
    }
    if (shift) digits.pop_back();
  }
  uint64_t value = 0;
  if (!ParseDigits(digits, value)) throw UsageError(wrong);
  if (value == 0) throw UsageError(OptionMessage(option, text, "is not a size above 0"));
  if (value > (MAX_BYTES >> shift)) throw UsageError(OptionMessage(option, text, "is too large"));
  return value << shift;
}

int64_t ParseSide(const std::string& text, const char* option, int64_t largest) {
  uint64_t value = 0;
  if (!ParseDigits(text, value) || value < 1 || value > static_cast<uint64_t>(largest)) {
    const std::string range = "is not a whole number from 1 to " + std::to_string(largest);
    throw UsageError(OptionMessage(option, text, range.c_str()));
  }
  return static_cast<int64_t>(value);
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
                            ByteSizeText(limit) + " memory limit (--memory-limit)");
}

void CheckSides(int64_t width, int64_t height, const ResourceLimits& limits,
                const std::string& path, const std::string& what) {
  if (width >= 1 && height >= 1 && width <= limits.maxSide && height <= limits.maxSide) return;
  throw FileError(path, what + " of " + std::to_string(width) + " x " + std::to_string(height) +
                            " pixels is not supported (1 to " + std::to_string(limits.maxSide) +
                            " per side, --max-side)");
}

}  // namespace kestrion
