// filter_runner.h: the host side of one filtering job. kestrion loads the
// module by file name as the host's pipeline does, creates a filter, hands
// it the configuration record and runs one frame through it with a
// progress window that reports to stderr and answers the abort query with
// "abort" once the user has pressed Ctrl-C.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/image.h"
#include "app/shot_keys.h"
#include "host/filter_pipeline.h"
#include "kestrion/focus_config.h"

namespace kestrion {

inline constexpr const char* MODULE_FILE_NAME = "KESTRION.FLT";
inline constexpr const char* MODULE_ENVIRONMENT = "KESTRION_MODULE";

// The module to load: `commandLine` when given, else $KESTRION_MODULE when
// set, else KESTRION.FLT beside the running executable.
std::string ResolveModulePath(const std::string& commandLine);

// Throws a FileError naming the module when it cannot be loaded.
std::unique_ptr<FilterModule> LoadFilterModule(const std::string& path);

struct FilterJob {
  const FocusConfig* record = nullptr;
  Image* frame = nullptr;  // filtered in place
  std::string frameName;   // names the frame in messages
  bool showProgress = true;
};

// A filter of the module created once, given one record, and run for one
// frame after another, as a host renders several frames with one filter.
class FocusFilterSession {
 public:
  // Throws a FileError naming the module when it cannot create a filter or
  // the filter refuses the record.
  FocusFilterSession(const FilterModule& module, const FocusConfig& record);
  ~FocusFilterSession();
  FocusFilterSession(const FocusFilterSession&) = delete;
  FocusFilterSession& operator=(const FocusFilterSession&) = delete;

  // Called before every row the filter processes with (row, last row).
  using RowObserver = std::function<void(int32_t row, int32_t lastRow)>;

  // Filters `frame` in place. Message boxes the filter shows are printed to
  // stderr. Answers the abort query with "abort" once Ctrl-C was pressed and
  // then throws Aborted(); throws a FileError naming `frameName` when the
  // frame lacks a channel the filter needs or the filter did not process
  // it. Returns normally only when the whole frame was processed.
  // `frameNumber` is the frame the filter event names (first, last and
  // rendered frame alike): the filter evaluates its tracks there.
  void Run(Image& frame, const std::string& frameName, const RowObserver& onRow,
           int32_t frameNumber = 0);

  // Keys one of the filter's own tracks (RANGE_TRACK, SIZE_TRACK) as an
  // animator does: the filter publishes its track-view node (FilterUpdate),
  // and the track's controller gets exactly these keys. Throws a Failure
  // when the filter publishes no such track.
  void KeyTrack(TrackId id, const FloatKeys& keys);
  // The value of the track at the frame, as the filter evaluates it;
  // `unkeyed` when the filter has no node or no such track.
  float TrackValue(TrackId id, int32_t frameNumber, float unkeyed) const;

 private:
  std::unique_ptr<ImageFilter> filter;
};

// Runs the job through a new filter of the module. Message boxes the filter
// shows are printed to stderr as they appear. Throws Aborted() after a
// Ctrl-C, and a Failure when the filter refuses the record, needs a channel
// the frame lacks or does not process the frame.
void RunFocusFilter(const FilterModule& module, const FilterJob& job);

}  // namespace kestrion
