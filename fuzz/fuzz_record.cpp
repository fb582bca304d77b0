// fuzz_record.cpp: the filter's 284-byte configuration record and a small
// frame, fed through LoadConfigure and Render as the host does.
//
// Input: the record's bytes first (a shorter input overlays the start of
// the default record), then bytes that choose the frame: its size, its
// channels, the pixels' depths and IDs, the focal node's depth, the frame
// rendered and keys on the Range and Size tracks. Every render is checked
// against the reference blur of tests/support, and a render that fails
// must leave the frame untouched.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "filter/focus_filter.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_targets.h"
#include "host/progress_window.h"
#include "host/tracks.h"
#include "platform/message_box.h"
#include "tests/support/scene_frame.h"
#include "tests/support/test_frame.h"

namespace kestrion_fuzz {

namespace {

constexpr int MAX_SIDE = 24;
constexpr int MAX_KEYS = 3;
const char* const NODE_NAMES[] = {"Focus", "Sphere01"};

// Reads the frame's choices from the bytes after the record, in order;
// past their end every value is the lowest of its range.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data(data), size(size) {}

  uint8_t Byte() { return used < size ? data[used++] : 0; }
  // A whole number in [min, max] from one or two bytes.
  template <typename T>
  T InRange(T min, T max) {
    const uint64_t span = static_cast<uint64_t>(max) - static_cast<uint64_t>(min) + 1;
    uint64_t raw = Byte();
    if (span > 256) raw = raw << 8 | Byte();
    return static_cast<T>(static_cast<uint64_t>(min) + raw % span);
  }
  // Any float, from its four bytes: NaN, infinities and subnormals included.
  float Float() {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits = bits << 8 | Byte();
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }

 private:
  const uint8_t* data;
  size_t size;
  size_t used = 0;
};

struct FrameChoice {
  int width = 1;
  int height = 1;
  uint32_t channels = 0;
  int32_t frameRendered = 0;
};

std::map<int32_t, float> TrackKeys(ByteReader& input) {
  std::map<int32_t, float> keys;
  const int count = input.InRange(0, MAX_KEYS);
  for (int k = 0; k < count; ++k) {
    const int32_t frame = input.InRange<int32_t>(-4, 60);
    keys[frame * GetTicksPerFrame()] = input.Float();
  }
  return keys;
}

// The frame's pixels: pattern colours and alphas, then depths (raw float
// bits, so NaN, infinities and the background marker all occur) and IDs
// from the input while it lasts.
void FillFrame(ByteReader& input, Bitmap& bitmap, const FrameChoice& choice) {
  BitmapStorage& storage = *bitmap.Storage();
  const size_t count = static_cast<size_t>(choice.width) * choice.height;
  for (int y = 0; y < choice.height; ++y) {
    for (int x = 0; x < choice.width; ++x) {
      storage.Pixels()[static_cast<size_t>(y) * choice.width + x] =
          kestrion_test::PatternPixel(x, y);
    }
  }
  if (float* z = storage.ZChannel()) {
    const float levels[] = {-100.0f, -140.0f, Z_BACKGROUND};
    for (size_t i = 0; i < count; ++i) {
      const uint8_t pick = input.Byte();
      z[i] = pick < 3 ? levels[pick] : input.Float();
    }
  }
  if (uint8_t* mtl = storage.MtlChannel()) {
    for (size_t i = 0; i < count; ++i) mtl[i] = input.Byte();
  }
  if (uint16_t* obj = storage.ObjChannel()) {
    for (size_t i = 0; i < count; ++i) obj[i] = input.InRange<uint16_t>(0, 3);
  }
}

bool BlurRuns(const FocusConfig& config, uint32_t channels) {
  switch (config.sourceMode) {
    case SOURCE_WHOLE_IMAGE:
      return true;
    case SOURCE_MATERIAL_EFFECTS:
      return (channels & CHANNEL_MTL_ID) != 0;
    case SOURCE_OBJECT_CHANNEL:
      return (channels & CHANNEL_OBJ_ID) != 0;
    default:
      return false;
  }
}

int32_t IdFilter(const FocusConfig& config) {
  switch (config.sourceMode) {
    case SOURCE_MATERIAL_EFFECTS:
      return config.materialEffectsId;
    case SOURCE_OBJECT_CHANNEL:
      return config.objectChannelId;
    default:
      return -1;
  }
}

}  // namespace

int FilterRecordInput(const uint8_t* data, size_t size) {
  HostInterface().Reset();
  platform::ClearShownMessages();

  FocusFilter filter;
  std::vector<uint8_t> record(sizeof(FocusConfig));
  FUZZ_CHECK(filter.EvaluateConfigure() == record.size());
  FUZZ_CHECK(filter.SaveConfigure(record.data()) == 1);
  const size_t recordBytes = std::min(size, record.size());
  // An empty input may come as a null pointer, which memcpy must not get.
  if (recordBytes > 0) std::memcpy(record.data(), data, recordBytes);
  ByteReader input(data + recordBytes, size - recordBytes);

  const bool loaded = filter.LoadConfigure(record.data()) == 1;
  uint32_t magic = 0;
  std::memcpy(&magic, record.data(), sizeof(magic));
  FUZZ_CHECK(loaded == (magic == CONFIG_MAGIC));
  if (loaded) {
    // What was loaded is what is saved.
    std::vector<uint8_t> saved(record.size());
    FUZZ_CHECK(filter.SaveConfigure(saved.data()) == 1);
    FUZZ_CHECK(saved == record);
  }

  FrameChoice choice;
  choice.width = input.InRange(1, MAX_SIDE);
  choice.height = input.InRange(1, MAX_SIDE);
  choice.channels = input.InRange<uint32_t>(0, 7);
  choice.frameRendered = input.InRange<int32_t>(-4, 60);
  const float nodeDepth = input.Float();
  const std::map<int32_t, float> rangeKeys = TrackKeys(input);
  const std::map<int32_t, float> sizeKeys = TrackKeys(input);

  for (const char* name : NODE_NAMES) {
    HostInterface().AddNode(name).SetWorldTransform(
        choice.frameRendered * GetTicksPerFrame(),
        Matrix3::Translation(kestrion_test::AtDepth(nodeDepth)));
  }
  if (!rangeKeys.empty() || !sizeKeys.empty()) {
    filter.FilterUpdate();
    ITrackViewNode* node = filter.Node();
    FUZZ_CHECK(node != nullptr);
    if (!rangeKeys.empty()) node->GetController(RANGE_TRACK)->SetKeys(rangeKeys);
    if (!sizeKeys.empty()) node->GetController(SIZE_TRACK)->SetKeys(sizeKeys);
  }

  Bitmap bitmap(static_cast<uint16_t>(choice.width), static_cast<uint16_t>(choice.height));
  BitmapStorage& storage = *bitmap.Storage();
  if (choice.channels) storage.CreateChannels(choice.channels);
  RenderInfo& info = storage.CreateRenderInfo();
  info.renderTime = choice.frameRendered * GetTicksPerFrame();
  info.worldToCam = kestrion_test::WorldToCamera();
  FillFrame(input, bitmap, choice);

  const size_t count = static_cast<size_t>(choice.width) * choice.height;
  kestrion_test::BlurInput before;
  before.width = choice.width;
  before.height = choice.height;
  before.pixels.assign(storage.Pixels(), storage.Pixels() + count);
  before.z = storage.ZChannel();
  before.mtl = storage.MtlChannel();
  before.obj = storage.ObjChannel();

  ProgressWindow progress;
  progress.Record(false);
  filter.SetSource(&bitmap);
  ImageFilterInfo frameInfo{choice.frameRendered, choice.frameRendered, choice.frameRendered};
  filter.SetFilterInfo(&frameInfo);
  const int32_t rendered = filter.Render(progress.Handle());
  const std::vector<BMM_Color_64> after(storage.Pixels(), storage.Pixels() + count);

  float focalDepth = 0.0f;
  const bool focused = filter.GetFocalDepth(filter.config.focalObjectName, &focalDepth) == 1;
  FUZZ_CHECK(rendered == ((focused && (choice.channels & CHANNEL_Z)) ? 1 : 0));
  if (!rendered || !BlurRuns(filter.config, choice.channels)) {
    FUZZ_CHECK(after == before.pixels);
  } else {
    before.loadedChannels =
        filter.config.sourceMode == SOURCE_MATERIAL_EFFECTS ? CHANNEL_MTL_ID : CHANNEL_OBJ_ID;
    if (filter.config.sourceMode == SOURCE_WHOLE_IMAGE) before.loadedChannels = 0;
    const std::vector<BMM_Color_64> expected =
        kestrion_test::ReferenceBlur(before, IdFilter(filter.config), focalDepth,
                                     filter.config.blurRange, filter.config.blurSize);
    FUZZ_CHECK(after == expected);
  }
  filter.SetSource(nullptr);
  filter.SetFilterInfo(nullptr);
  HostInterface().Reset();
  platform::ClearShownMessages();
  return 0;
}

}  // namespace kestrion_fuzz

KESTRION_FUZZ_ENTRY(kestrion_fuzz::FilterRecordInput)
