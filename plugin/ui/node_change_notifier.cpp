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

void NotifierDeleter::operator()(NodeChangeNotifier* notifier) const { delete notifier; }

void RegisterNotifier(FocusFilter& filter, HWND dialog) {
  // A notifier left from an earlier dialog must not stay registered.
  UnregisterNotifier(filter);
  ITrackViewNode* node = filter.Node();
  if (!node) return;
  filter.nodeNotifier.reset(new (std::nothrow) NodeChangeNotifier(dialog));
  if (filter.nodeNotifier) node->RegisterNotify(filter.nodeNotifier.get());
}

void UnregisterNotifier(FocusFilter& filter) {
  if (!filter.nodeNotifier) return;
  if (ITrackViewNode* node = filter.Node()) node->UnregisterNotify(filter.nodeNotifier.get());
  // Freed even when the node has gone meanwhile: the notifier lives only as
  // long as its dialog.
  filter.nodeNotifier.reset();
}
