#include "frame/filter_session.h"

#include <cstring>
#include <optional>

#include "base/abort_check.h"
#include "base/allocation_record.h"
#include "base/errors.h"
#include "base/memory_budget.h"
#include "host/progress_window.h"
#include "platform/message_box.h"

namespace kestrion {

namespace {

const char* ChannelName(uint32_t code) {
  switch (code) {
    case CHANNEL_Z:
      return "Z (depth)";
    case CHANNEL_MTL_ID:
      return "material-effects ID";
    default:
      return "object ID";
  }
}

void CheckChannels(ImageFilter& filter, Image& frame, const std::string& frameName) {
  uint32_t type = 0;
  BitmapStorage& storage = frame.Storage();
  const uint32_t required = filter.ChannelsRequired();
  for (uint32_t code : {CHANNEL_Z, CHANNEL_MTL_ID, CHANNEL_OBJ_ID}) {
    if ((required & code) && !storage.GetChannel(code, type)) {
      throw FileError(frameName, std::string("the filter needs a ") + ChannelName(code) +
                                     " channel, which the image lacks");
    }
  }
}

}  // namespace

MessageBoxForwarder::MessageBoxForwarder(const MessageBoxObserver& observer)
    : active(bool(observer)) {
  if (!active) return;
  platform::SetMessageBoxObserver([&observer](const platform::ShownMessage& message) {
    observer(message.caption, message.text);
  });
}

MessageBoxForwarder::~MessageBoxForwarder() {
  if (active) platform::SetMessageBoxObserver({});
}

std::unique_ptr<FilterModule> LoadFilterModule(const std::string& path) {
  std::string error;
  auto module = FilterModule::Load(path, error);
  // The pipeline's messages name the file already.
  if (!module)
    throw error.empty() ? FileError(path, "cannot load the filter module") : Failure(error);
  return module;
}

FocusFilterSession::FocusFilterSession(const FilterModule& module, const FocusConfig& record)
    : owned(module.CreateFilter()), filter(owned.get()) {
  if (!filter) throw FileError(module.Path(), "the module could not create a filter");
  if (filter->EvaluateConfigure() != sizeof(FocusConfig)) {
    throw FileError(module.Path(), "the filter's configuration record is not " +
                                       std::to_string(sizeof(FocusConfig)) + " bytes");
  }
  FocusConfig copy = record;
  if (!filter->LoadConfigure(&copy)) {
    throw FileError(module.Path(), "the filter rejected the configuration record");
  }
}

FocusFilterSession::FocusFilterSession(ImageFilter& filter) : filter(&filter) {
  if (filter.EvaluateConfigure() != sizeof(FocusConfig)) {
    throw Failure("the filter's configuration record is not " +
                  std::to_string(sizeof(FocusConfig)) + " bytes");
  }
}

FocusFilterSession::~FocusFilterSession() = default;

FocusConfig FocusFilterSession::Record() const {
  FocusConfig record;
  std::memset(&record, 0, sizeof record);
  filter->SaveConfigure(&record);
  return record;
}

void FocusFilterSession::Configure(const FocusConfig& record) {
  FocusConfig copy = record;
  if (!filter->LoadConfigure(&copy)) throw Failure("the filter rejected the configuration record");
}

void FocusFilterSession::KeyTrack(TrackId id, const FloatKeys& keys) {
  if (!filter->Node()) filter->FilterUpdate();
  ITrackViewNode* node = filter->Node();
  Control* control = node ? node->GetController(id) : nullptr;
  if (!control) throw Failure("the filter module publishes no track to key");
  control->SetKeys(KeysAtTicks(keys));
}

float FocusFilterSession::TrackValue(TrackId id, int32_t frameNumber, float unkeyed) const {
  ITrackViewNode* node = filter->Node();
  Control* control = node ? node->GetController(id) : nullptr;
  if (!control) return unkeyed;
  float value = unkeyed;
  Interval valid;
  control->GetValue(frameNumber * GetTicksPerFrame(), &value, valid, 0);
  return value;
}

void FocusFilterSession::Run(Image& frame, const std::string& frameName, int32_t frameNumber,
                             const AbortCheck& abort, const RowObserver& onRow,
                             const MessageBoxObserver& onMessageBox) {
  CheckChannels(*filter, frame, frameName);
  ProgressWindow window;
  window.Record(false);
  window.OnProgress([&onRow, &abort](int32_t row, int32_t lastRow) {
    if (onRow) onRow(row, lastRow);
    return abort.Requested();
  });
  const MessageBoxForwarder messages(onMessageBox);
  // The filter allocates two working copies of the bitmap's pixels and
  // fills them before its first look at the abort flag: their pages are
  // faulted here, a slice at a time between questions (after the first
  // pass the copies reuse the pages of the one before).
  const BitmapStorage& storage = frame.Storage();
  const size_t copies = 2 * size_t{storage.Width()} * storage.Height() * sizeof(BMM_Color_64);
  PrefaultFrameMemory(copies, [&abort] { return abort.Requested(); });
  abort.ThrowIfRequested();
  FilterFrame run;
  run.bitmap = &frame.bitmap;
  run.info.firstFrame = frameNumber;
  run.info.lastFrame = frameNumber;
  run.info.frameRendered = frameNumber;
  std::optional<SceneBinding> bound;
  if (scene) bound.emplace(*filter, *scene);
  const AllocationWatch allocations;
  const int32_t processed = RunFilter(*filter, run, window.Handle());
  bound.reset();
  abort.ThrowIfRequested();
  if (!processed) {
    // The filter gives up without saying why; an allocation that failed
    // while it ran is the reason.
    const FailedAllocations failed = allocations.Since();
    if (failed.count > 0) {
      throw Error(ErrorKind::OutOfMemory, ShownName(frameName) +
                                              ": the filter ran out of memory (an allocation of " +
                                              ByteSizeText(failed.lastSize) + " failed)");
    }
    throw Error(ErrorKind::Failed, ShownName(frameName) + ": the filter did not process the frame");
  }
}

}  // namespace kestrion
