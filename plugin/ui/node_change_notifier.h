// node_change_notifier.h: the callback the control dialog registers on the
// filter's track-view node. On any change of the node it tells the dialog
// (message NODE_CHANGED) and invalidates it, so that the next paint reloads
// the float spinners from the tracks.
#pragma once

#include "host/tracks.h"
#include "platform/win32.h"

class FocusFilter;

// Sent by the notifier to the control dialog: the track-view node changed.
constexpr UINT NODE_CHANGED = 1060;

class NodeChangeNotifier : public TrackViewNotify {
 public:
  explicit NodeChangeNotifier(HWND dialog) : dialog(dialog) {}
  virtual ~NodeChangeNotifier() = default;

  int32_t Changed(uint32_t what, uint32_t part, uint32_t item, uint32_t first,
                  uint32_t second) override;

  HWND dialog;
};

// Registers a new notifier for `dialog` on the filter's track-view node, as
// filter.nodeNotifier, after unregistering any left from an earlier dialog.
// Without a node there is none.
void RegisterNotifier(FocusFilter& filter, HWND dialog);
// Unregisters and frees the filter's notifier, if it has one; freed also
// when the node has gone meanwhile.
void UnregisterNotifier(FocusFilter& filter);
