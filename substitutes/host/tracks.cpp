#include "host/tracks.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

#include "host/hold.h"
#include "host/key_sampling.h"

namespace {

constexpr int DEFAULT_TICKS_PER_FRAME = 160;
// Read by renders on any thread.
std::atomic<int> ticksPerFrame{DEFAULT_TICKS_PER_FRAME};
std::atomic<int> failingControllers{0};

// One SetValue on a controller: the keys before and after. It holds the
// controller weakly, so undoing after the controller is gone does nothing.
class KeysChange : public UndoRecord {
 public:
  KeysChange(const Control& control, std::map<TimeValue, float> before)
      : control(control.Liveness()), before(std::move(before)), after(control.Keys()) {}

  void Restore() override { Apply(before); }
  void Redo() override { Apply(after); }

 private:
  void Apply(const std::map<TimeValue, float>& keys) {
    if (auto alive = control.lock()) (*alive)->SetKeys(keys);
  }

  std::weak_ptr<Control*> control;
  std::map<TimeValue, float> before;
  std::map<TimeValue, float> after;
};

// Tells the owning node (if any) that the controller changed.
void ReportChange(ITrackViewNode* owner, const Control* control) {
  if (!owner) return;
  const int index = owner->IndexOfController(control);
  if (index >= 0) owner->NotifyAll(NOTIFY_VALUE_CHANGED, owner->ItemId(index));
}

}  // namespace

void Control::GetValue(TimeValue t, void* value, Interval& valid, int) {
  if (!value) return;
  float v = 0.0f;
  if (!keys.empty()) {
    v = host_detail::SampleKeys(keys, t, &valid, [](float a, float b, double f) {
      return static_cast<float>(a + (static_cast<double>(b) - a) * f);
    });
  }
  *static_cast<float*>(value) = v;
}

void Control::SetValue(TimeValue t, void* value, int, int) {
  if (!value) return;
  std::map<TimeValue, float> before = keys;
  keys[t] = *static_cast<const float*>(value);
  if (theHold.Holding()) theHold.Put(std::make_unique<KeysChange>(*this, std::move(before)));
  ReportChange(owner, this);
}

int Control::IsKeyAtTime(TimeValue t, uint32_t) { return keys.count(t) ? 1 : 0; }

void Control::SetKeys(std::map<TimeValue, float> k) {
  keys = std::move(k);
  ReportChange(owner, this);
}

Control* NewDefaultFloatController() {
  // One failure taken from the count, by one caller only.
  int failing = failingControllers.load();
  while (failing > 0) {
    if (failingControllers.compare_exchange_weak(failing, failing - 1)) return nullptr;
  }
  return new (std::nothrow) Control;
}

void FailNextControllers(int count) { failingControllers = std::max(count, 0); }

int GetTicksPerFrame() { return ticksPerFrame; }

// A frame must last at least one tick; other values are ignored.
void SetTicksPerFrame(int ticks) {
  if (ticks > 0) ticksPerFrame = ticks;
}

ITrackViewNode::~ITrackViewNode() = default;

int ITrackViewNode::FindItem(TrackId id) const {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

void ITrackViewNode::AddController(Control* control, const char* name, TrackId id, int position) {
  if (!control) return;
  Item item{name ? name : "", id, std::unique_ptr<Control>(control)};
  control->SetOwner(this);
  const bool atEnd = position < 0 || position >= NumItems();
  const auto where = atEnd ? items.end() : items.begin() + position;
  const auto added = items.insert(where, std::move(item));
  const int index = static_cast<int>(added - items.begin());
  Broadcast(NOTIFY_ITEM_ADDED, index, id);
}

Control* ITrackViewNode::GetController(TrackId id) const {
  const int index = FindItem(id);
  return index < 0 ? nullptr : items[index].control.get();
}

bool ITrackViewNode::RemoveItem(TrackId id) {
  const int index = FindItem(id);
  if (index < 0) return false;
  items.erase(items.begin() + index);
  Broadcast(NOTIFY_ITEM_REMOVED, index, id);
  return true;
}

int ITrackViewNode::IndexOfController(const Control* control) const {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].control.get() == control) return static_cast<int>(i);
  }
  return -1;
}

void ITrackViewNode::RegisterNotify(TrackViewNotify* notify) {
  if (notify && std::find(notifies.begin(), notifies.end(), notify) == notifies.end()) {
    notifies.push_back(notify);
  }
}

void ITrackViewNode::UnregisterNotify(TrackViewNotify* notify) {
  notifies.erase(std::remove(notifies.begin(), notifies.end(), notify), notifies.end());
}

void ITrackViewNode::NotifyAll(uint32_t what, TrackId id) { Broadcast(what, FindItem(id), id); }

void ITrackViewNode::Broadcast(uint32_t what, int index, TrackId id) {
  const std::vector<TrackViewNotify*> registered = notifies;
  for (TrackViewNotify* notify : registered) {
    if (std::find(notifies.begin(), notifies.end(), notify) == notifies.end()) continue;
    notify->Changed(what, 0, static_cast<uint32_t>(index), id.first, id.second);
  }
}
