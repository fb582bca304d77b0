// preview.cpp: the workbench's preview: the frame read, filtered through
// the module with the studio's own filter, and sent to the pages with its
// focus map.
#include <chrono>
#include <new>

#include "base/errors.h"
#include "formats/review_io.h"
#include "frame/focus_map.h"
#include "frame/frame_render.h"
#include "host/scene.h"
#include "studio/workbench.h"

namespace studio {

namespace {

using nlohmann::json;
using namespace kestrion;

constexpr char IMAGE_MAGIC[4] = {'K', 'S', 'I', '1'};
// Progress goes out at most this often while a preview renders.
constexpr auto PROGRESS_INTERVAL = std::chrono::milliseconds(30);

std::vector<uint8_t> FocusMapPixels(const Image& map) {
  const BMM_Color_64* pixels = map.Storage().Pixels();
  const size_t count = static_cast<size_t>(map.Width()) * map.Height();
  std::vector<uint8_t> rgba(count * 4);
  const auto byte = [](uint16_t v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); };
  for (size_t i = 0; i < count; ++i) {
    rgba[4 * i] = byte(pixels[i].r);
    rgba[4 * i + 1] = byte(pixels[i].g);
    rgba[4 * i + 2] = byte(pixels[i].b);
    rgba[4 * i + 3] = byte(pixels[i].a);
  }
  return rgba;
}

}  // namespace

std::string ImageMessage(const json& header, const std::vector<uint8_t>& rgba) {
  const std::string text = header.dump();
  const auto length = static_cast<uint32_t>(text.size());
  std::string message(IMAGE_MAGIC, sizeof IMAGE_MAGIC);
  for (int shift = 0; shift < 32; shift += 8)
    message += static_cast<char>((length >> shift) & 0xFF);
  message += text;
  message.append(reinterpret_cast<const char*>(rgba.data()), rgba.size());
  return message;
}

void Workbench::Progress(json message) {
  message["type"] = "progress";
  outlet.text(message.dump(), "progress");
}

void Workbench::Refresh() {
  refreshPosted = false;
  bool aborted = false;
  const std::function<bool()> abort = [this, &aborted] {
    if (!aborted && bridge.Interrupted()) aborted = true;
    return aborted;
  };
  std::shared_ptr<const LoadedFrame> loaded = frames.Loaded(frame);
  if (!loaded && !unreadable.count(frame)) {
    Progress({{"stage", "reading"}, {"frame", frame}});
    try {
      loaded = frames.Load(frame, abort);
    } catch (const Error& e) {
      Progress({{"done", true}});
      // An interrupted read is done again once the request is handled.
      if (!aborted) unreadable[frame] = e.what();
      return;
    }
  }
  if (!loaded) return;
  if (frameShown != loaded->number) ShowFrame(loaded);
  const Wish wish = WishFor(*loaded);
  if (!shown || !(shown->wish == wish)) {
    Render(loaded, wish, abort, aborted);
    if (aborted) return;
  }
  if (overlay && shown && shown->status == "done" && !(mapShown && *mapShown == wish)) {
    SendFocusMap(*loaded);
  }
}

// A frame read becomes the one shown: its objects join the scene, its
// original goes out, and the readout looks at it.
void Workbench::ShowFrame(const std::shared_ptr<const LoadedFrame>& loaded) {
  Interface& scene = HostInterface();
  for (const auto& [id, depth] : loaded->objectDepths) {
    const std::string name = ObjectNodeName(id);
    SceneNode* node = scene.GetNodeByName(name.c_str());
    if (!node) node = &scene.AddNode(name);
    node->SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -depth}));
  }
  SendOriginal(*loaded);
  frameShown = loaded->number;
  shown.reset();
  result.reset();
  mapShown.reset();
  looks.Set({loaded, nullptr, nullptr});
}

// The frame's original, under the look shown now.
void Workbench::SendOriginal(const LoadedFrame& loaded) {
  const FramePlanes& planes = loaded.input.planes;
  outlet.binary(ImageMessage({{"kind", "original"},
                              {"frame", loaded.number},
                              {"width", planes.width},
                              {"height", planes.height}},
                             OriginalPixels(loaded)),
                "image-original");
}

void Workbench::Render(const std::shared_ptr<const LoadedFrame>& loaded, const Wish& wish,
                       const std::function<bool()>& abort, const bool& aborted) {
  std::string failure;
  try {
    RenderPreview(loaded, wish, abort, aborted);
    return;
  } catch (const std::bad_alloc&) {
    failure = "not enough memory for the preview";
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "the preview failed";
  }
  // Whatever went wrong, the page hears of it and the session goes on.
  Progress({{"done", true}});
  if (aborted) return;
  shown = Shown{wish, "failed", failure, ++images, 0, 0, 0.0};
  result.reset();
  looks.Set({loaded, nullptr, nullptr});
}

void Workbench::RenderPreview(const std::shared_ptr<const LoadedFrame>& loaded, const Wish& wish,
                              const std::function<bool()>& abort, const bool& aborted) {
  Shown next{wish, "done", {}, ++images, 0, 0, 0.0};
  if (!wish.focusError.empty()) {
    next.status = "unfocused";
    next.message = wish.focusError;
    shown = next;
    result.reset();
    looks.Set({loaded, nullptr, nullptr});
    return;
  }
  RenderSettings settings = frames.Settings();
  settings.frame = wish.frame;
  settings.layered = wish.layered;
  PreparedFrame prepared = loaded->depth;
  prepared.focusDepth = wish.focusDepth;

  auto last = std::chrono::steady_clock::now() - PROGRESS_INTERVAL;
  RenderCallbacks callbacks;
  callbacks.abort = abort;
  callbacks.progress = [this, &last, &wish](const RenderProgress& now) {
    if (now.stage != RenderProgress::Stage::Filtering) return;
    const auto time = std::chrono::steady_clock::now();
    if (time - last < PROGRESS_INTERVAL) return;
    last = time;
    Progress({{"stage", "filtering"},
              {"frame", wish.frame},
              {"pass", now.pass},
              {"passes", now.passes},
              {"row", now.row},
              {"last", now.lastRow}});
  };
  const auto start = std::chrono::steady_clock::now();
  std::optional<FilteredFrame> filtered;
  {
    // The source and IDs the dialog shows, in the record for this render
    // only: they reach it for good on OK.
    FocusFilterSession session(filter);
    // What the render wrote into the record (Range and Size at the frame)
    // stays; the source and IDs go back, however the render ends.
    struct Restore {
      FocusFilterSession& session;
      const FocusConfig held;
      ~Restore() {
        try {
          FocusConfig after = session.Record();
          after.sourceMode = held.sourceMode;
          after.materialEffectsId = held.materialEffectsId;
          after.objectChannelId = held.objectChannelId;
          session.Configure(after);
        } catch (...) {
          // The filter took this record before; nothing else is left to try.
        }
      }
    };
    FocusConfig pending = session.Record();
    const Restore restore{session, pending};
    pending.sourceMode = wish.source.mode;
    if (wish.source.mode == SOURCE_MATERIAL_EFFECTS) pending.materialEffectsId = wish.source.id;
    if (wish.source.mode == SOURCE_OBJECT_CHANNEL) pending.objectChannelId = wish.source.id;
    session.Configure(pending);
    try {
      filtered = kestrion::FilterFrame(filter, loaded->input, prepared, settings, callbacks);
    } catch (const Error& e) {
      next.status = "failed";
      next.message = e.what();
    }
  }
  Progress({{"done", true}});
  // An aborted render may have returned a partial image: never shown.
  if (aborted) return;
  next.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!filtered) {
    shown = next;
    result.reset();
    looks.Set({loaded, nullptr, nullptr});
    return;
  }
  next.passes = filtered->resolved.passes;
  next.layers = filtered->resolved.layers;
  std::vector<uint8_t> pixels =
      ReviewPixelsSideBySide(filtered->planes, loaded->input.name, reviewLook, NeverAbort());
  FocusMapSettings map;
  map.source = wish.source;
  map.focalDepth = wish.focusDepth;
  map.range = filtered->resolved.range;
  map.size = filtered->resolved.size;
  auto radii = std::make_shared<const std::vector<int32_t>>(
      FocusRadii(loaded->input.planes, loaded->depth.rendererZ, map));
  const json header{{"kind", "result"},
                    {"frame", wish.frame},
                    {"width", filtered->planes.width},
                    {"height", filtered->planes.height},
                    {"version", next.version},
                    {"focusDepth", wish.focusDepth},
                    {"range", filtered->resolved.range},
                    {"size", filtered->resolved.size},
                    {"source", SourceText(wish.source)},
                    {"layered", wish.layered},
                    {"layers", next.layers}};
  result = std::make_shared<const FramePlanes>(std::move(filtered->planes));
  // The readout looks at this preview before the page has it.
  looks.Set({loaded, result, std::move(radii)});
  resultHeader = header;
  outlet.binary(ImageMessage(header, pixels), "image-result");
  shown = next;
  mapShown.reset();
}

void Workbench::SendFocusMap(const LoadedFrame& loaded) {
  PreparedFrame prepared;
  prepared.rendererZ = loaded.depth.rendererZ;
  prepared.focusDepth = shown->wish.focusDepth;
  FrameResolution resolved;
  resolved.focusDepth = shown->wish.focusDepth;
  resolved.range = shown->wish.range;
  resolved.size = shown->wish.size;
  resolved.source = shown->wish.source;
  const Image map = FocusMapOf(loaded.input, prepared, resolved);
  outlet.binary(ImageMessage({{"kind", "focusMap"},
                              {"frame", loaded.number},
                              {"width", loaded.input.planes.width},
                              {"height", loaded.input.planes.height},
                              {"version", shown->version}},
                             FocusMapPixels(map)),
                "image-focusMap");
  mapShown = shown->wish;
}

}  // namespace studio
