// tracks.h: animation controllers, the track-view node a filter publishes
// its tracks on, and the frame timing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/types.h"

class ITrackViewNode;

// The host's default float controller: keys at times; the value at a time
// is linear between the two surrounding keys and held before the first and
// after the last key. Without keys the value is 0.
class Control {
 public:
  Control() = default;
  virtual ~Control() = default;
  // A controller is an identity (undo records and its node refer to it).
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // *(float*)value receives the value at time t; `valid` is narrowed to the
  // interval over which that value holds (held ranges outside the keys,
  // the single instant between keys). `method` is accepted and ignored.
  virtual void GetValue(TimeValue t, void* value, Interval& valid, int method);
  // Adds a key at t holding *(float*)value, or replaces the key there.
  // `commit` and `method` are accepted and ignored. Recorded in theHold
  // while a hold is open; reported to the owning node's notifiers.
  virtual void SetValue(TimeValue t, void* value, int commit, int method);
  // Non-zero when a key lies exactly at t. `flags` is ignored.
  virtual int IsKeyAtTime(TimeValue t, uint32_t flags);

  // --- host side ---
  const std::map<TimeValue, float>& Keys() const { return keys; }
  // Replaces all keys and tells the owning node's notifiers; not recorded
  // in theHold (undo and redo restore keys through it).
  void SetKeys(std::map<TimeValue, float> k);
  void SetOwner(ITrackViewNode* node) { owner = node; }
  // Expires when the controller is destroyed, so that an undo record made
  // on it can tell that it is gone.
  std::weak_ptr<Control*> Liveness() const { return self; }

 private:
  std::map<TimeValue, float> keys;
  ITrackViewNode* owner = nullptr;
  std::shared_ptr<Control*> self = std::make_shared<Control*>(this);
};

// A new default float controller, owned by the caller until it is added to
// a node; null when memory runs out (or when a test makes it fail, see
// FailNextControllers).
Control* NewDefaultFloatController();

// Ticks per frame: 160 unless a host program sets another. Read by renders
// on any thread; set it before they start.
int GetTicksPerFrame();
void SetTicksPerFrame(int ticks);

// The callback a filter registers on its track-view node. The host calls
// Changed with five words whenever a controller of the node changes or an
// item is added; their meaning is the host's and callers may ignore them.
class TrackViewNotify {
 public:
  virtual int32_t Changed(uint32_t what, uint32_t part, uint32_t item, uint32_t first,
                          uint32_t second) = 0;

 protected:
  ~TrackViewNotify() = default;
};

// Words passed as `what` to TrackViewNotify::Changed.
constexpr uint32_t NOTIFY_ITEM_ADDED = 1;
constexpr uint32_t NOTIFY_ITEM_REMOVED = 2;
constexpr uint32_t NOTIFY_VALUE_CHANGED = 3;

// A filter's node in the host's track view: named controllers under
// TrackIds. The node owns the controllers added to it.
class ITrackViewNode {
 public:
  ITrackViewNode() = default;
  ~ITrackViewNode();
  ITrackViewNode(const ITrackViewNode&) = delete;
  ITrackViewNode& operator=(const ITrackViewNode&) = delete;

  // Index of the item with the id, or -1.
  int FindItem(TrackId id) const;
  // Adds the controller under the name and id at `position` (-1: at the
  // end) and takes ownership of it.
  void AddController(Control* control, const char* name, TrackId id, int position);
  // The controller of the item with the id, or null.
  Control* GetController(TrackId id) const;

  void RegisterNotify(TrackViewNotify* notify);
  void UnregisterNotify(TrackViewNotify* notify);

  // --- host side ---
  int NumItems() const { return static_cast<int>(items.size()); }
  const std::string& ItemName(int index) const { return items[index].name; }
  // Removes the item (as a user deleting the track would); false if absent.
  bool RemoveItem(TrackId id);
  TrackId ItemId(int index) const { return items[index].id; }
  // Index of the item holding the controller, or -1.
  int IndexOfController(const Control* control) const;
  size_t NotifyCount() const { return notifies.size(); }
  // Calls every registered notifier with the item index of the id.
  void NotifyAll(uint32_t what, TrackId id);

 private:
  // Calls every notifier registered at the time of the call and still
  // registered when its turn comes (a notifier may unregister others).
  void Broadcast(uint32_t what, int index, TrackId id);

  struct Item {
    std::string name;
    TrackId id;
    std::unique_ptr<Control> control;
  };
  std::vector<Item> items;
  std::vector<TrackViewNotify*> notifies;
};

// Test hook: the next `count` calls of NewDefaultFloatController fail.
void FailNextControllers(int count);
