// filter_pipeline.h: the host's image-filter pipeline. It loads a filter
// module by file name, reads its registration functions, creates filters
// through the class descriptor and runs frames through them the way the
// host application does after each rendered frame:
//
//   load -> description, version, class count -> LibClassDesc(0)
//   -> CreateFilter -> ChannelsRequired -> SetSource, SetFilterInfo
//   -> Render(progress window) -> destroy filter -> unload
//
// Threads. The module starts none and locks nothing; a host program may run
// renders of different filters on threads of its own at the same time
// (RunFilter), each with
// - its own filter, its own bitmap and filter-info record, and its own
//   progress window, created, sent to and destroyed on the render's thread;
// - the scene's nodes and transforms (HostInterface), the ticks per frame
//   and the frame memory setting (KeepFrameMemory) set before the renders
//   start and left alone until they end: renders only read them;
// - the module loaded before and unloaded after, on one thread.
// Meanwhile other threads may create and destroy filters, load and save
// their records, publish and key their own tracks (outside an undo hold),
// create, send to and destroy windows of their own, register window
// classes and show message boxes (the platform's registry of windows and
// its record of message boxes are locked). Everything else the host offers
// belongs to one thread at a time, the user interface's: dialogs and the
// scripted user, the undo holder (theHold), the current time and the
// interactive dialogs (Interface::SetTime), the pick dialog, spinners and
// custom edits, the cursor, the bitmap manager's application window and
// every change to the scene.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/bitmap.h"
#include "host/class_desc.h"
#include "host/image_filter.h"
#include "platform/win32.h"

// A loaded filter module. Unloaded (detached) when destroyed; every filter
// created from it must be destroyed first.
class FilterModule {
 public:
  // Loads the module file; null with `error` set when the file cannot be
  // loaded, lacks a registration function, or has no class 0.
  static std::unique_ptr<FilterModule> Load(const std::string& path, std::string& error);
  ~FilterModule();
  FilterModule(const FilterModule&) = delete;
  FilterModule& operator=(const FilterModule&) = delete;

  const std::string& Path() const { return path; }
  HMODULE Handle() const { return module; }
  const char* Description() const { return describe(); }
  uint32_t Version() const { return version(); }
  int32_t ClassCount() const { return numberClasses(); }
  ClassDesc* Descriptor(int32_t index) const { return classDesc(index); }

  // A new filter of class 0, owned by the caller; null when the module
  // cannot create one.
  std::unique_ptr<ImageFilter> CreateFilter() const;

 private:
  FilterModule() = default;
  std::string path;
  HMODULE module = nullptr;
  LibDescriptionFn describe = nullptr;
  LibNumberClassesFn numberClasses = nullptr;
  LibClassDescFn classDesc = nullptr;
  LibVersionFn version = nullptr;
};

// Makes memory that a frame's filters free stay with the process for the
// next frame, as a renderer's own memory manager keeps its frame buffers:
// the C library's allocator then serves large blocks from its heap and
// keeps the heap's top instead of mapping fresh pages for every block and
// unmapping them when freed. A filter that allocates its working copies at
// the start of each frame and frees them at the end then reuses pages
// already mapped, instead of paying a page fault for every fresh 4 KiB page
// of every frame (about as much as copying the frame twice). It changes the
// allocator of the whole process, so it is the host program's choice: a
// program that runs frames through filters calls it before the first one;
// loading a module does not. Calling it again does nothing. Has no effect
// where the allocator offers no such settings (or is replaced, as under the
// address sanitizer). Call it before the threads that render start. A
// thread other than the main one allocates from a heap of its own, which
// the C library's allocator keeps as well, but only for blocks that fit in
// such a heap (64 MiB on 64-bit systems): larger ones, such as a 3840 x
// 2160 working copy (66 MB), are still mapped afresh and unmapped on such
// a thread.
void KeepFrameMemory();

// Where KeepFrameMemory is in effect, makes the next `bytes` the C
// library's allocator hands out on this thread come from pages that are
// mapped already: it takes a block of that size, writes to each of its
// pages and gives it back, and the heap keeps them. A filter's first
// working copies of a frame then cost a copy each, where a fresh page
// would also cost a page fault every 4 KiB (a quarter of a second for the
// two copies of an 8K frame, and several times that on a loaded machine),
// all inside the filter's call, where nothing asks whether to stop. Here
// `stop` is asked before each PREFAULT_SLICE bytes; once it says yes the
// block is given back and the call returns false. Without KeepFrameMemory
// (or without memory for the block) it does nothing and returns true.
inline constexpr size_t PREFAULT_SLICE = size_t{16} << 20;
bool PrefaultFrameMemory(size_t bytes, const std::function<bool()>& stop);

// One frame for a filter: the bitmap (with the channels the renderer
// produced) and the frame numbers of the filter event.
struct FilterFrame {
  Bitmap* bitmap = nullptr;
  ImageFilterInfo info;
};

// Runs one frame through the filter as the host does: asks the channels it
// requires (so the caller can report any the bitmap lacks), sets the source
// and the filter info, and calls Render with the progress window. Returns
// Render's result.
int32_t RunFilter(ImageFilter& filter, FilterFrame& frame, HWND progressWindow);
