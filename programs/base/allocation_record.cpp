// The allocation record: the replaced operator new and delete (every form,
// so that no form of the standard library's or a sanitizer runtime's is
// mixed with them) and, where the C library allows it and no sanitizer
// owns the heap, malloc, calloc, realloc and free wrapped around the C
// library's own. The module takes its pixel copies from malloc and its
// tables from operator new, so both ways in are watched.
#include "base/allocation_record.h"

#include <malloc.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
#define KESTRION_SANITIZED_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTRION_SANITIZED_HEAP 1
#endif

#if defined(__GLIBC__) && !defined(KESTRION_SANITIZED_HEAP)
#define KESTRION_WRAP_MALLOC 1
// The C library's allocator under its own names.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void __libc_free(void* memory);
}
#endif

namespace kestrion {

namespace {

std::atomic<uint64_t> failedCount{0};
std::atomic<size_t> lastFailedSize{0};
std::atomic<size_t> largestFailedSize{0};
std::atomic<size_t> testCap{SIZE_MAX};
std::atomic<bool> counting{false};
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};
std::atomic<int> zeroFilling{0};

void RecordFailure(size_t size) {
  lastFailedSize.store(size, std::memory_order_relaxed);
  size_t largest = largestFailedSize.load(std::memory_order_relaxed);
  while (size > largest && !largestFailedSize.compare_exchange_weak(largest, size)) {
  }
  failedCount.fetch_add(1, std::memory_order_release);
}

void CountAllocated(void* memory) {
  if (!memory || !counting.load(std::memory_order_relaxed)) return;
  const auto bytes = static_cast<int64_t>(malloc_usable_size(memory));
  const int64_t live = liveBytes.fetch_add(bytes) + bytes;
  int64_t peak = peakBytes.load(std::memory_order_relaxed);
  while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
  }
}

void CountReleased(void* memory) {
  if (memory && counting.load(std::memory_order_relaxed)) {
    liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(memory)));
  }
}

// Large blocks (frame planes, the module's pixel copies) are asked to be
// backed by 2 MiB pages where the system hands them out on request: a frame
// touches a few hundred megabytes for the first time, and with 4 KiB pages
// taking them costs one fault each, a good part of a render's time. Only the
// whole 2 MiB pages inside the block are advised; errno stays as it was
// (the advice is refused where the system has no such pages).
constexpr size_t LARGE_PAGE = size_t{2} << 20;
constexpr size_t ADVISED_BLOCK = 2 * LARGE_PAGE;

void AdviseLargePages(void* memory, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (!memory || size < ADVISED_BLOCK) return;
  const auto start = reinterpret_cast<uintptr_t>(memory);
  const uintptr_t first = (start + LARGE_PAGE - 1) & ~(uintptr_t{LARGE_PAGE} - 1);
  const uintptr_t end = (start + size) & ~(uintptr_t{LARGE_PAGE} - 1);
  if (end <= first) return;
  const int saved = errno;
  madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  errno = saved;
#else
  (void)memory;
  (void)size;
#endif
}

bool WithinTestCap(size_t size) { return size <= testCap.load(std::memory_order_relaxed); }

// One attempt at operator new's memory: a block, or null after recording
// the failure (where malloc records its own, it is not recorded twice).
void* TryAllocate(size_t size, size_t alignment) {
  if (size == 0) size = 1;
  void* memory = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    memory = WithinTestCap(size) ? std::malloc(size) : nullptr;
#if defined(KESTRION_WRAP_MALLOC)
    if (!memory && !WithinTestCap(size)) RecordFailure(size);
    return memory;
#endif
  } else if (WithinTestCap(size)) {
    // aligned_alloc wants a multiple of the alignment.
    const size_t rounded = (size + alignment - 1) / alignment * alignment;
    memory = rounded >= size ? std::aligned_alloc(alignment, rounded) : nullptr;
    AdviseLargePages(memory, size);
  }
  if (!memory) {
    RecordFailure(size);
  } else {
    CountAllocated(memory);
  }
  return memory;
}

void* ZeroFilledIfAsked(void* memory, size_t size) {
  if (memory && zeroFilling.load(std::memory_order_acquire) > 0) std::memset(memory, 0, size);
  return memory;
}

// The throwing forms: the new-handler gets its chance to free memory, as
// the standard asks, before bad_alloc.
void* Allocate(size_t size, size_t alignment) {
  while (true) {
    if (void* memory = TryAllocate(size, alignment)) return ZeroFilledIfAsked(memory, size);
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* AllocateOrNull(size_t size, size_t alignment) noexcept {
  try {
    return Allocate(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

void Release(void* memory) noexcept {
#if !defined(KESTRION_WRAP_MALLOC)
  CountReleased(memory);
#endif
  std::free(memory);
}

}  // namespace

FailedAllocations FailedAllocationsSoFar() {
  FailedAllocations failed;
  failed.count = failedCount.load(std::memory_order_acquire);
  failed.lastSize = lastFailedSize.load(std::memory_order_relaxed);
  failed.largestSize = largestFailedSize.load(std::memory_order_relaxed);
  return failed;
}

FailedAllocations AllocationWatch::Since() const {
  FailedAllocations now = FailedAllocationsSoFar();
  now.count -= before.count;
  if (now.count == 0) now.lastSize = now.largestSize = 0;
  return now;
}

bool AllocationRecordSeesMalloc() {
#if defined(KESTRION_WRAP_MALLOC)
  return true;
#else
  return false;
#endif
}

AllocationPeak::AllocationPeak() {
  liveBytes = 0;
  peakBytes = 0;
  counting = true;
}
AllocationPeak::~AllocationPeak() { counting = false; }
int64_t AllocationPeak::Peak() const { return peakBytes.load(); }

ZeroFilledAllocations::ZeroFilledAllocations() { zeroFilling.fetch_add(1); }
ZeroFilledAllocations::~ZeroFilledAllocations() { zeroFilling.fetch_sub(1); }

AllocationCapForTesting::AllocationCapForTesting(size_t bytes) { testCap = bytes; }
AllocationCapForTesting::~AllocationCapForTesting() { testCap = SIZE_MAX; }

}  // namespace kestrion

#if defined(KESTRION_WRAP_MALLOC)
// The C library's allocator, watched. Nothing here may allocate.
extern "C" {

void* malloc(size_t size) noexcept {
  void* memory = kestrion::WithinTestCap(size) ? __libc_malloc(size) : nullptr;
  if (!memory && size) kestrion::RecordFailure(size);
  kestrion::CountAllocated(memory);
  kestrion::AdviseLargePages(memory, size);
  return memory;
}

void* calloc(size_t count, size_t size) noexcept {
  const size_t bytes = count && size <= SIZE_MAX / count ? count * size : SIZE_MAX;
  void* memory = kestrion::WithinTestCap(bytes) ? __libc_calloc(count, size) : nullptr;
  if (!memory && count && size) kestrion::RecordFailure(bytes);
  kestrion::CountAllocated(memory);
  kestrion::AdviseLargePages(memory, bytes);
  return memory;
}

void* realloc(void* memory, size_t size) noexcept {
  if (!kestrion::WithinTestCap(size)) {
    kestrion::RecordFailure(size);
    return nullptr;
  }
  const auto before = memory ? static_cast<int64_t>(malloc_usable_size(memory)) : 0;
  void* moved = __libc_realloc(memory, size);
  // Null with a size: the block stays as it was. Null without: it is freed.
  if (!moved && size) {
    kestrion::RecordFailure(size);
    return nullptr;
  }
  if (kestrion::counting.load(std::memory_order_relaxed)) {
    kestrion::liveBytes.fetch_sub(before);
    kestrion::CountAllocated(moved);
  }
  return moved;
}

void free(void* memory) noexcept {
  kestrion::CountReleased(memory);
  __libc_free(memory);
}

}  // extern "C"
#endif

using kestrion::Allocate;
using kestrion::AllocateOrNull;
using kestrion::Release;

constexpr size_t DEFAULT_ALIGNMENT = alignof(std::max_align_t);

void* operator new(size_t size) { return Allocate(size, DEFAULT_ALIGNMENT); }
void* operator new[](size_t size) { return Allocate(size, DEFAULT_ALIGNMENT); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, DEFAULT_ALIGNMENT);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, DEFAULT_ALIGNMENT);
}
void* operator new(size_t size, std::align_val_t alignment) {
  return Allocate(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return Allocate(size, static_cast<size_t>(alignment));
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, static_cast<size_t>(alignment));
}

void operator delete(void* memory) noexcept { Release(memory); }
void operator delete[](void* memory) noexcept { Release(memory); }
void operator delete(void* memory, size_t) noexcept { Release(memory); }
void operator delete[](void* memory, size_t) noexcept { Release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { Release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { Release(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { Release(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { Release(memory); }
void operator delete(void* memory, size_t, std::align_val_t) noexcept { Release(memory); }
void operator delete[](void* memory, size_t, std::align_val_t) noexcept { Release(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(memory);
}
