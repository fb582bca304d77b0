// focus_filter.h: the depth-of-field filter class.
//
// ImageFilter (host) <- FilterBase <- FocusFilter. FilterBase answers the
// identity queries from module-wide constants and carries the fields that
// the track operations and the control dialog share; FocusFilter adds the
// configuration record and the object picker and overrides what makes it
// this filter. The host calls the virtual operations by position: the
// order of ImageFilter's declarations is binding, and overriding here does
// not change it.
#pragma once

#include <cstdint>
#include <memory>

#include "host/image_filter.h"
#include "kestrion/focus_config.h"
#include "platform/win32.h"

class NodeChangeNotifier;
class ObjectPicker;

// Module-wide identity values.
extern const char FILTER_DESCRIPTION[256];  // "Kestrion"
extern const char FILTER_AUTHOR[256];
extern const char FILTER_COPYRIGHT[256];
constexpr uint32_t FILTER_VERSION = CONFIG_MAGIC;
constexpr uint32_t FILTER_CAPABILITY = 6;
constexpr int32_t ABOUT_DIALOG_ID = 101;
constexpr int32_t CONTROL_DIALOG_ID = 102;

// The time argument of the track operations that stands for the host's
// current time (any negative time does).
constexpr TimeValue CURRENT_TIME = -1;

// Free the control dialog's callback objects. Defined with their classes,
// in the dialog code, which this header does not see.
struct NotifierDeleter {
  void operator()(NodeChangeNotifier* notifier) const;
};
struct PickerDeleter {
  void operator()(ObjectPicker* picker) const;
};

class FilterBase : public ImageFilter {
 public:
  FilterBase();
  ~FilterBase() override;

  const char* DescriptionText() override;
  const char* AuthorText() override;
  const char* CopyrightText() override;
  uint32_t VersionNumber() override;
  uint32_t CapabilityFlags() override;

  // Registered with the track-view node while the control dialog is open.
  std::unique_ptr<NodeChangeNotifier, NotifierDeleter> nodeNotifier;
  // The controller the last track operation found or created; not owned.
  Control* currentControl = nullptr;
  // An undo hold begun by the control dialog is open.
  bool holdActive = false;
  // The track-view node reported a change since the dialog opened.
  bool tracksChanged = false;
};
static_assert(sizeof(bool) == 1, "the dialog's flags are 8-bit");

class FocusFilter : public FilterBase {
 public:
  FocusFilter();
  ~FocusFilter() override;

  int32_t ShowAboutBox(HWND parent) override;
  int32_t ShowControl(HWND parent) override;
  int32_t Render(HWND progressWindow) override;
  uint32_t EvaluateConfigure() override;
  int32_t LoadConfigure(void* buffer) override;
  int32_t SaveConfigure(void* buffer) override;
  uint32_t ChannelsRequired() override;
  void FilterUpdate() override;

  // Animated tracks. A negative time means the host's current time.
  int32_t CreateTrack(TrackId id, float* initial, const char* name);
  int32_t GetTrackValue(TrackId id, float* value, TimeValue t);
  int32_t SetTrackValue(TrackId id, float* value, TimeValue t);
  int32_t EvaluateTrack(TrackId id, float* value);

  // Camera-space depth of the named node at the render time, negated so
  // that points in front of the camera have positive depth. 1 when stored.
  int32_t GetFocalDepth(const char* name, float* depth);

  FocusConfig config;
  // Created by the dialog's Browse button, freed when the dialog closes.
  std::unique_ptr<ObjectPicker, PickerDeleter> picker;
};
