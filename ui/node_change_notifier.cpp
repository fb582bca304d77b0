// node_change_notifier.cpp: the notifier on the filter's track-view node
// and its registration for the lifetime of the control dialog.
#include "ui/node_change_notifier.h"

#include <new>

#include "filter/focus_filter.h"

int32_t NodeChangeNotifier::Changed(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
  // Synchronous, so the dialog knows the tracks changed before the paint
  // that the invalidation brings.
  SendMessageA(dialog, NODE_CHANGED, 0, 0);
  InvalidateRect(dialog, nullptr, FALSE);
  return 1;
}

void FocusFilter::RegisterNotifier(HWND dialog) {
  // A notifier left from an earlier dialog must not stay registered.
  UnregisterNotifier();
  ITrackViewNode* node = Node();
  if (!node) return;
  nodeNotifier.reset(new (std::nothrow) NodeChangeNotifier(dialog));
  if (nodeNotifier) node->RegisterNotify(nodeNotifier.get());
}

void FocusFilter::UnregisterNotifier() {
  if (!nodeNotifier) return;
  if (ITrackViewNode* node = Node()) node->UnregisterNotify(nodeNotifier.get());
  // Freed even when the node has gone meanwhile: the notifier lives only as
  // long as its dialog.
  nodeNotifier.reset();
}
