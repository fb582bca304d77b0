// render_pass.cpp: one render call, from the host's call to the written-back
// bitmap: checks, focal depth, working image, track evaluation, the blur on
// the pixels the source mode selects, write-back.
//
// The working image and the blur plan are locals of the call, so their
// memory is released on every way out. The bitmap is written only once the
// working image's copies are in hand; a failure before that leaves it
// untouched. The blur itself cannot fail: without memory for its table it
// sums each window directly.
#include <cstdarg>
#include <cstdio>

#include "blur/blur_plan.h"
#include "blur/work_image.h"
#include "filter/focus_filter.h"
#include "filter/show_message.h"

namespace {

constexpr const char* OBJECT_UNDEFINED = "Error : Object undefined!";
constexpr size_t MESSAGE_BUFFER_SIZE = 256;
// The ID filter that lets every pixel through.
constexpr int32_t EVERY_PIXEL = -1;

}  // namespace

int32_t ShowMessage(const char* caption, const char* format, ...) {
  char text[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return MessageBoxA(GetActiveWindow(), text, caption, MB_OK);
}

int32_t FocusFilter::Render(HWND progressWindow) {
  if (!sourceBitmap) return 0;
  if (config.focalObjectName[0] == '\0') {
    ShowMessage(MESSAGE_CAPTION, "%s", OBJECT_UNDEFINED);
    return 0;
  }
  float focalDepth = 0.0f;
  if (!GetFocalDepth(config.focalObjectName, &focalDepth)) return 0;

  WorkImage work(progressWindow, sourceBitmap);
  if (!work.Allocated()) return 0;
  if (!work.LoadChannel(CHANNEL_Z)) return 0;

  // Where the node or a track is missing the configured value stays.
  EvaluateTrack(RANGE_TRACK, &config.blurRange);
  EvaluateTrack(SIZE_TRACK, &config.blurSize);

  bool blur = false;
  int32_t idFilter = EVERY_PIXEL;
  switch (config.sourceMode) {
    case SOURCE_WHOLE_IMAGE:
      blur = true;
      break;
    case SOURCE_MATERIAL_EFFECTS:
      blur = work.LoadChannel(CHANNEL_MTL_ID) != 0;
      idFilter = config.materialEffectsId;
      break;
    case SOURCE_OBJECT_CHANNEL:
      blur = work.LoadChannel(CHANNEL_OBJ_ID) != 0;
      idFilter = config.objectChannelId;
      break;
    default:
      break;  // an unknown mode blurs nothing; the frame is still written back
  }
  if (blur) {
    // Without memory for the table the plan sums each window directly: the
    // same pixels, slower.
    BlurPlan plan(work, config.blurSize);
    work.DepthBlur(plan, idFilter, focalDepth, config.blurRange);
  }
  // Also after an abort, and unblurred when no blur ran.
  work.WriteBack();
  return 1;
}
