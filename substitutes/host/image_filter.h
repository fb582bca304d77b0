// image_filter.h: the host's image-filter base class and the filter-event
// record.
//
// The host calls a filter's 27 virtual operations by position, so their
// declaration order below is binding and must never change.
#pragma once

#include <cstdint>
#include <memory>

#include "host/bitmap.h"
#include "host/scene.h"
#include "host/tracks.h"
#include "host/types.h"
#include "platform/win32.h"

// The filter event: first, last and rendered frame as three consecutive
// signed 32-bit integers.
struct ImageFilterInfo {
  int32_t firstFrame = 0;
  int32_t lastFrame = 0;
  int32_t frameRendered = 0;
};
static_assert(sizeof(ImageFilterInfo) == 12);

class ImageFilter {
 public:
  ImageFilter();
  ImageFilter(const ImageFilter&) = delete;
  ImageFilter& operator=(const ImageFilter&) = delete;

  virtual ~ImageFilter();                             // 1
  virtual const char* DescriptionText() = 0;          // 2
  virtual const char* AuthorText() = 0;               // 3
  virtual const char* CopyrightText() = 0;            // 4
  virtual uint32_t VersionNumber() = 0;               // 5
  virtual uint32_t CapabilityFlags() = 0;             // 6
  virtual int32_t ShowAboutBox(HWND parent) = 0;      // 7
  virtual int32_t ShowControl(HWND parent);           // 8: host: no dialog, 0
  virtual void SetSource(Bitmap* map);                // 9
  virtual void SetForeground(Bitmap* map);            // 10
  virtual void SetMask(Bitmap* map);                  // 11
  virtual void SetFilterInfo(ImageFilterInfo* info);  // 12
  virtual int32_t Render(HWND progressWindow) = 0;    // 13
  virtual Interface* MainInterface();                 // 14: never null
  // 15: a + (int)((b - a) * t), truncating toward zero (held to the int range).
  virtual int Lerp(int a, int b, float t);  // 15
  // 16: t in 0..255: a + ((b - a) * t) / 255, integer division (the product
  // is taken in 64 bits, so it cannot overflow).
  virtual int Lerp(int a, int b, int t);        // 16
  virtual uint32_t EvaluateConfigure();         // 17: host: 0
  virtual int32_t LoadConfigure(void* buffer);  // 18: host: 0
  virtual int32_t SaveConfigure(void* buffer);  // 19: host: 0
  virtual int CreatePreview(HWND parent, Bitmap** back, int frame, int width, int height,
                            float aspect, Bitmap** preview,
                            uint32_t flags);  // 20: 0, not supported
  virtual uint32_t ChannelsRequired();        // 21: host: 0
  virtual HWND DlgHandle();                   // 22
  // 23: the host sends HOST_TIME_CHANGE to the dialog from now on (a
  // previous dialog no longer gets it); 0 makes the filter non-interactive.
  virtual void MakeDlgInteractive(HWND dialog);  // 23
  virtual int IsInteractive();                   // 24: has a live dialog
  // 25: null when memory runs out.
  virtual ITrackViewNode* CreateNode();  // 25
  virtual ITrackViewNode* Node();        // 26
  virtual void FilterUpdate();           // 27: host: nothing

  // --- host side ---
  Bitmap* Source() const { return sourceBitmap; }
  ImageFilterInfo* FilterInfo() const { return filterInfo; }
  // Deletes the track-view node (as the user deleting it would).
  void DeleteNode();

 protected:
  Bitmap* sourceBitmap = nullptr;
  Bitmap* foregroundBitmap = nullptr;
  Bitmap* maskBitmap = nullptr;
  ImageFilterInfo* filterInfo = nullptr;

 private:
  HWND interactiveDialog = nullptr;
  std::unique_ptr<ITrackViewNode> node;
};

// --- host side ---
// While a binding lives, `filter`'s MainInterface() is `scene` in place of
// the host's one interface: a render gives its filters a scene of their own
// (the node the record names, at the focal depth), so that renders on other
// threads, and the user interface moving nodes of the host's scene, never
// touch what a running filter reads. A filter has one binding at a time;
// bindings are made and ended on any thread, and `scene` must outlive the
// binding. The filter's layout is untouched: the bindings are kept by the
// host, apart from the filters.
class SceneBinding {
 public:
  SceneBinding(const ImageFilter& filter, Interface& scene);
  ~SceneBinding();
  SceneBinding(const SceneBinding&) = delete;
  SceneBinding& operator=(const SceneBinding&) = delete;

 private:
  const ImageFilter* filter;
};
