#include "host/filter_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/resources.h"

namespace {

// Whether KeepFrameMemory took effect.
std::atomic<bool> frameMemoryKept{false};

// The registration function `name` of the module, or null.
// (Through the function type that stands for any, since the system's
// GetProcAddress returns a function pointer of its own type.)
template <class Function>
Function Export(HMODULE module, const char* name) {
  using AnyFunction = void (*)();
  return reinterpret_cast<Function>(reinterpret_cast<AnyFunction>(GetProcAddress(module, name)));
}

}  // namespace

void KeepFrameMemory() {
  static std::once_flag once;
  std::call_once(once, [] {
#if defined(__GLIBC__)
    // No block is mapped on its own (large ones come from the heap, which
    // can grow past any single mapping's size limit), and the heap's free
    // top is never handed back. An allocator that takes neither setting (a
    // sanitizer's) keeps nothing.
    const bool unmapped = mallopt(M_MMAP_MAX, 0) == 1;
    const bool untrimmed = mallopt(M_TRIM_THRESHOLD, INT32_MAX) == 1;
    frameMemoryKept.store(unmapped && untrimmed, std::memory_order_release);
#endif
  });
}

bool PrefaultFrameMemory(size_t bytes, const std::function<bool()>& stop) {
  if (bytes == 0 || !frameMemoryKept.load(std::memory_order_acquire)) return true;
  auto* block = static_cast<volatile char*>(std::malloc(bytes));
  if (!block) return true;
  // The smallest page any system here has: every page gets a write.
  constexpr size_t PAGE = 4096;
  bool stopped = false;
  for (size_t slice = 0; slice < bytes && !stopped; slice += PREFAULT_SLICE) {
    stopped = stop && stop();
    const size_t end = std::min(bytes, slice + PREFAULT_SLICE);
    for (size_t at = slice; !stopped && at < end; at += PAGE) block[at] = 0;
  }
  std::free(const_cast<char*>(block));
  return !stopped;
}

std::unique_ptr<FilterModule> FilterModule::Load(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    error = "cannot load the filter module " + path + ": " + platform::LoaderError();
    return nullptr;
  }
  // Owns the loaded module from here on: a failure below unloads it.
  std::unique_ptr<FilterModule> loaded(new FilterModule);
  loaded->path = path;
  loaded->module = module;
  loaded->describe = Export<LibDescriptionFn>(module, "LibDescription");
  loaded->numberClasses = Export<LibNumberClassesFn>(module, "LibNumberClasses");
  loaded->classDesc = Export<LibClassDescFn>(module, "LibClassDesc");
  loaded->version = Export<LibVersionFn>(module, "LibVersion");

  const char* missing = !loaded->describe        ? "LibDescription"
                        : !loaded->numberClasses ? "LibNumberClasses"
                        : !loaded->classDesc     ? "LibClassDesc"
                        : !loaded->version       ? "LibVersion"
                                                 : nullptr;
  if (missing) {
    error = path + " is not a filter module: it does not export " + missing;
    return nullptr;
  }
  if (loaded->ClassCount() < 1 || !loaded->Descriptor(0)) {
    error = path + " is not a usable filter module: it offers no filter class";
    return nullptr;
  }
  return loaded;
}

FilterModule::~FilterModule() {
  if (module) FreeLibrary(module);
}

std::unique_ptr<ImageFilter> FilterModule::CreateFilter() const {
  ClassDesc* descriptor = Descriptor(0);
  if (!descriptor) return nullptr;
  // The host owns the filter and destroys it through its virtual destructor.
  return std::unique_ptr<ImageFilter>(descriptor->CreateFilter(0));
}

int32_t RunFilter(ImageFilter& filter, FilterFrame& frame, HWND progressWindow) {
  filter.ChannelsRequired();
  filter.SetSource(frame.bitmap);
  filter.SetFilterInfo(&frame.info);
  return filter.Render(progressWindow);
}
