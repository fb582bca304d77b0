// tracks.cpp: the "Range" and "Size" tracks on the filter's track-view node.
//
// The configuration's float is the working copy of each track: a read lands
// in it, a write is taken from it and a new track starts from it. Where the
// node or a track is missing the float is left alone, so the filter works
// unanimated with its configured values.
//
// currentControl is the controller the last operation found or created; it
// is valid only until the next track operation.
#include <memory>

#include "filter/focus_filter.h"

namespace {

// Trailing arguments of the controller calls (the host's own words).
constexpr int GET_ABSOLUTE = 1;
constexpr int SET_COMMIT = 1;
constexpr int SET_ABSOLUTE = 1;

// Frame times are 32-bit products; they wrap rather than overflow.
TimeValue FrameTime(int32_t frame, int ticksPerFrame) {
  return static_cast<TimeValue>(static_cast<uint32_t>(frame) *
                                static_cast<uint32_t>(ticksPerFrame));
}

// Finds the controller of the track into filter.currentControl. Without a
// node currentControl keeps what it held; without the track it becomes none.
Control* FindTrack(FocusFilter& filter, TrackId id) {
  ITrackViewNode* node = filter.Node();
  if (!node) return nullptr;
  filter.currentControl = node->GetController(id);
  return filter.currentControl;
}

}  // namespace

void FocusFilter::FilterUpdate() {
  if (!CreateNode()) return;
  // A failure for one track does not prevent the other.
  CreateTrack(RANGE_TRACK, &config.blurRange, RANGE_TRACK_NAME);
  CreateTrack(SIZE_TRACK, &config.blurSize, SIZE_TRACK_NAME);
}

int32_t FocusFilter::CreateTrack(TrackId id, float* initial, const char* name) {
  currentControl = nullptr;
  ITrackViewNode* node = Node();
  if (!node) return 0;
  if (node->FindItem(id) != -1) return 1;  // present: its keys stay as they are
  std::unique_ptr<Control> control(NewDefaultFloatController());
  currentControl = control.get();
  if (!control) return 0;
  control->SetValue(0, initial, SET_COMMIT, SET_ABSOLUTE);
  node->AddController(control.release(), name, id, -1);
  return 1;
}

int32_t FocusFilter::GetTrackValue(TrackId id, float* value, TimeValue t) {
  Control* control = FindTrack(*this, id);
  if (!control) return 0;
  Interface* host = MainInterface();
  Interval valid;
  host->FillValidity(valid);
  if (t < 0) t = host->GetTime();
  control->GetValue(t, value, valid, GET_ABSOLUTE);
  return 1;
}

int32_t FocusFilter::SetTrackValue(TrackId id, float* value, TimeValue t) {
  Control* control = FindTrack(*this, id);
  if (!control) return 0;
  if (t < 0) t = MainInterface()->GetTime();
  control->SetValue(t, value, SET_COMMIT, SET_ABSOLUTE);
  return 1;
}

// Reads the track at the frame being rendered. A filter that was never
// given its filter-event record has no frame to read at: the float is left
// alone (currentControl still names the track found).
int32_t FocusFilter::EvaluateTrack(TrackId id, float* value) {
  Control* control = FindTrack(*this, id);
  if (!control) return 0;
  const ImageFilterInfo* info = FilterInfo();
  if (!info) return 0;
  const int ticks = GetTicksPerFrame();
  Interval valid(FrameTime(info->firstFrame, ticks), FrameTime(info->lastFrame, ticks));
  control->GetValue(FrameTime(info->frameRendered, ticks), value, valid, GET_ABSOLUTE);
  return 1;
}
