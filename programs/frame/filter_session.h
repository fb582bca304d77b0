// filter_session.h: the host side of filtering. The module is loaded by file
// name as the host's pipeline does; a session holds one filter of it, made
// for the session and given a configuration record, or the caller's own
// filter as the caller configured it (its control dialog, its keyed
// tracks), and runs one frame after another through it with a progress
// window whose abort query is the caller's abort check.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/abort_check.h"
#include "formats/image.h"
#include "frame/shot_keys.h"
#include "host/filter_pipeline.h"
#include "kestrion/focus_config.h"

namespace kestrion {

inline constexpr const char* MODULE_FILE_NAME = "KESTRION.FLT";

// Throws a FileError naming the module when it cannot be loaded.
std::unique_ptr<FilterModule> LoadFilterModule(const std::string& path);

// Called before every row the filter processes with (row, last row).
using RowObserver = std::function<void(int32_t row, int32_t lastRow)>;
// Called with every message box the filter shows, as it shows it.
using MessageBoxObserver = std::function<void(const std::string& caption, const std::string& text)>;

// Hands every message box any filter shows to `observer` while it lives
// (one at a time: the platform has one observer). FocusFilterSession::Run
// makes one for its run; filters run on several threads at once share one
// made around them all, their runs given no observer. The observer is
// called on the thread of the filter that shows the box.
class MessageBoxForwarder {
 public:
  explicit MessageBoxForwarder(const MessageBoxObserver& observer);
  ~MessageBoxForwarder();
  MessageBoxForwarder(const MessageBoxForwarder&) = delete;
  MessageBoxForwarder& operator=(const MessageBoxForwarder&) = delete;

 private:
  bool active;
};

class FocusFilterSession {
 public:
  // A new filter of the module, given `record`. Throws a FileError naming
  // the module when it cannot create a filter or the filter refuses the
  // record.
  FocusFilterSession(const FilterModule& module, const FocusConfig& record);
  // The caller's filter, with the record and tracks it holds; it must
  // outlive the session. Throws a Failure when its record is not a
  // configuration record's size.
  explicit FocusFilterSession(ImageFilter& filter);
  ~FocusFilterSession();
  FocusFilterSession(const FocusFilterSession&) = delete;
  FocusFilterSession& operator=(const FocusFilterSession&) = delete;

  // The record the filter holds now (its focal object's name, range, size
  // and source).
  FocusConfig Record() const;
  // Gives the filter `record`; throws a Failure when it refuses it.
  void Configure(const FocusConfig& record);

  // Filters `frame` in place. The filter's abort query asks `abort`, and an
  // abort ends in Aborted(); throws a FileError naming `frameName` when the
  // frame lacks a channel the filter needs or the filter did not process
  // it. Returns normally only when the whole frame was processed.
  // `frameNumber` is the frame the filter event names (first, last and
  // rendered frame alike): the filter evaluates its tracks there.
  void Run(Image& frame, const std::string& frameName, int32_t frameNumber, const AbortCheck& abort,
           const RowObserver& onRow = {}, const MessageBoxObserver& onMessageBox = {});

  // The scene the filter sees while Run runs it (host/image_filter.h's
  // SceneBinding): the caller's, which must outlive the runs; null, as at
  // first, for the host's one interface.
  void UseScene(Interface* runScene) { scene = runScene; }

  // Keys one of the filter's own tracks (RANGE_TRACK, SIZE_TRACK) as an
  // animator does: the filter publishes its track-view node (FilterUpdate),
  // and the track's controller gets exactly these keys. Throws a Failure
  // when the filter publishes no such track.
  void KeyTrack(TrackId id, const FloatKeys& keys);
  // The value of the track at the frame, as the filter evaluates it;
  // `unkeyed` when the filter has no node or no such track.
  float TrackValue(TrackId id, int32_t frameNumber, float unkeyed) const;

 private:
  std::unique_ptr<ImageFilter> owned;
  ImageFilter* filter;
  Interface* scene = nullptr;
};

}  // namespace kestrion
