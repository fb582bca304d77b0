// workbench.cpp: the workbench's set-up, what a frame is filtered with now,
// the hand-off and the state. The preview is preview.cpp's, the host
// commands focus_commands.cpp's.
#include "studio/workbench.h"

#include "base/errors.h"
#include "frame/focal_depth.h"
#include "host/tracks.h"
#include "studio/dialog_reader.h"
#include "studio/hand_off.h"
#include "studio/window_tree.h"

namespace studio {

namespace {

using nlohmann::json;
using namespace kestrion;

constexpr const char* OBJECT_NODE_PREFIX = "Object ";

// A track's keys by frame; the record's value when the filter has no such
// track or it holds no key.
FloatKeys TrackKeys(ImageFilter& filter, TrackId id, float recordValue) {
  ITrackViewNode* node = filter.Node();
  const Control* control = node ? node->GetController(id) : nullptr;
  if (!control || control->Keys().empty()) return {{0, recordValue}};
  FloatKeys keys;
  const int ticks = GetTicksPerFrame();
  for (const auto& [time, value] : control->Keys()) keys[time / ticks] = value;
  return keys;
}

json KeysJson(const FloatKeys& keys) {
  json list = json::array();
  for (const auto& [key, value] : keys) list.push_back({key, value});
  return list;
}

}  // namespace

std::string ObjectNodeName(int32_t id) { return OBJECT_NODE_PREFIX + std::to_string(id); }

std::optional<int32_t> ObjectOfNodeName(const std::string& name) {
  const std::string_view prefix = OBJECT_NODE_PREFIX;
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
  int64_t id = 0;
  for (const char c : std::string_view(name).substr(prefix.size())) {
    if (c < '0' || c > '9' || id > OBJECT_ID_MAX) return std::nullopt;
    id = id * 10 + (c - '0');
  }
  if (id < 1 || id > OBJECT_ID_MAX || ObjectNodeName(static_cast<int32_t>(id)) != name) {
    return std::nullopt;
  }
  return static_cast<int32_t>(id);
}

bool Workbench::Wish::operator==(const Wish& other) const {
  return frame == other.frame && focusDepth == other.focusDepth && focusError == other.focusError &&
         range == other.range && size == other.size && source.mode == other.source.mode &&
         source.id == other.source.id && layered == other.layered;
}

// --- Set-up ---------------------------------------------------------------------

Workbench::Workbench(const StudioSetup& s, FrameStore& store, ImageFilter& f, DialogBridge& b,
                     Outlet o, LookTable& l)
    : setup(s),
      filter(f),
      bridge(b),
      outlet(std::move(o)),
      looks(l),
      frames(store),
      frame(s.firstFrame),
      layered(s.settings.layered) {
  const RenderSettings& settings = setup.settings;
  ConfigureFilter(filter, settings);
  std::string node;
  if (settings.focusObject) {
    node = ObjectNodeName(*settings.focusObject);
  } else if (settings.focusDepth || settings.focusPixel) {
    node = FOCUS_NODE;
    nodeFocus.depth = settings.focusDepth;
    nodeFocus.pixel = settings.focusPixel;
  }
  FocusFilterSession session(filter);
  FocusConfig record = session.Record();
  SetFocalName(record, node);
  session.Configure(record);
  if (!HostInterface().GetNodeByName(FOCUS_NODE)) HostInterface().AddNode(FOCUS_NODE);
  HostInterface().SetTime(frame * GetTicksPerFrame());
  reviewLook = settings.output.review;
  if (reviewLook.view) {
    viewNames = ReadViewNames(reviewLook.choice.config);
    const ViewChoice& choice = reviewLook.view->Choice();
    viewCache[choice.display + '\n' + choice.view + '\n' + choice.look] = reviewLook.view;
  }
  AddCommands();
  json list = json::array();
  for (const StudioFrame& f : frames.Frames()) list.push_back(f.number);
  outlet.text(json{{"type", "frames"}, {"frames", std::move(list)}}.dump(), "frames");
}

Workbench::~Workbench() = default;

// --- What the frame is filtered with ---------------------------------------------

FocusConfig Workbench::Record() const { return FocusFilterSession(filter).Record(); }

std::string Workbench::RecordNode() const {
  const FocusConfig record = Record();
  return TerminateFocalName(record.focalObjectName).text;
}

// The source and IDs the open control dialog shows (read as OK reads
// them), else the record's.
SourceSelection Workbench::PendingSource() const {
  const std::vector<DialogNode> dialogs = CaptureOpenDialogs();
  const DialogNode* dialog = ControlDialog(dialogs);
  return dialog ? ShownSource(*dialog) : SourceFromRecord(Record());
}

Workbench::Wish Workbench::WishFor(const LoadedFrame& loaded) const {
  Wish wish;
  wish.frame = loaded.number;
  const FocusConfig record = Record();
  const FocusFilterSession session(filter);
  wish.range = session.TrackValue(RANGE_TRACK, loaded.number, record.blurRange);
  wish.size = session.TrackValue(SIZE_TRACK, loaded.number, record.blurSize);
  wish.source = PendingSource();
  wish.layered = layered;
  const std::string node = TerminateFocalName(record.focalObjectName).text;
  if (node.empty()) {
    wish.focusError =
        "The filter has no focal object: click the image to focus, or pick one with Browse...";
  } else if (node == FOCUS_NODE) {
    RenderSettings settings = frames.Settings();
    settings.frame = loaded.number;
    settings.ClearFocus();
    settings.focusDepth = nodeFocus.depth;
    settings.focusPixel = nodeFocus.pixel;
    if (settings.FocusCount() == 0) {
      wish.focusError = "The Focus node has no depth yet: click the image to focus";
    } else {
      try {
        wish.focusDepth = FocalDepth(settings, loaded.input, loaded.depth.rendererZ);
      } catch (const Error& e) {
        wish.focusError = e.what();
      }
    }
  } else if (const std::optional<int32_t> id = ObjectOfNodeName(node)) {
    const auto it = loaded.objectDepths.find(*id);
    if (it != loaded.objectDepths.end()) {
      wish.focusDepth = it->second;
    } else {
      wish.focusError = "frame " + std::to_string(loaded.number) + ": object " +
                        std::to_string(*id) + " has no pixels with geometry in the frame";
    }
  } else {
    wish.focusError = "The scene has no object named " + node;
  }
  return wish;
}

bool Workbench::Stale() const {
  const std::shared_ptr<const LoadedFrame> loaded = frames.Loaded(frame);
  if (!loaded) return !unreadable.count(frame);
  if (frameShown != frame || !shown) return true;
  const Wish wish = WishFor(*loaded);
  if (!(shown->wish == wish)) return true;
  return overlay && shown->status == "done" && !(mapShown && *mapShown == wish);
}

void Workbench::Settled() {
  if (refreshPosted || bridge.Quitting() || !Stale()) return;
  refreshPosted = true;
  bridge.Post([this] { Refresh(); });
}

// --- The preview ---------------------------------------------------------------------

// --- The hand-off and the state ------------------------------------------------------------

RenderSettings Workbench::HandOffSettings() const {
  RenderSettings settings;
  const FocusConfig record = Record();
  const std::string node = TerminateFocalName(record.focalObjectName).text;
  if (node == FOCUS_NODE) {
    settings.focusDepth = nodeFocus.depth;
    settings.focusPixel = nodeFocus.pixel;
  } else if (const std::optional<int32_t> id = ObjectOfNodeName(node)) {
    settings.focusObject = *id;
    settings.focusStatistic = setup.settings.focusStatistic;
  }
  settings.range = TrackKeys(filter, RANGE_TRACK, record.blurRange);
  settings.size = TrackKeys(filter, SIZE_TRACK, record.blurSize);
  settings.source = PendingSource();
  settings.layered = layered;
  settings.output.review = reviewLook;
  return settings;
}

std::string Workbench::HandOffCommand() const {
  std::vector<std::string> words{setup.program, "render", setup.input, "-o", setup.output};
  if (setup.saveFile.empty()) {
    const std::vector<std::string> given = SettingsWords(HandOffSettings());
    words.insert(words.end(), given.begin(), given.end());
  } else {
    words.insert(words.end(), {"--shot", setup.saveFile});
  }
  words.insert(words.end(), setup.forwarded.begin(), setup.forwarded.end());
  // An OpenEXR output is never viewed: render refuses view options for it.
  bool review = true;
  try {
    review = OutputFormatOfName(setup.output) != OutputFormat::Exr;
  } catch (const Error&) {
  }
  if (review && setup.saveFile.empty()) {
    const std::vector<std::string> view = ViewWords(reviewLook);
    words.insert(words.end(), view.begin(), view.end());
  }
  return ShellLine(words);
}

json Workbench::State() const {
  const std::shared_ptr<const LoadedFrame> loaded = frames.Loaded(frame);
  json image = nullptr;
  if (loaded) {
    const RenderInput& input = loaded->input;
    image = {{"width", input.planes.width},
             {"height", input.planes.height},
             {"originX", input.originX},
             {"originY", input.originY},
             {"objectIds", input.planes.objectId.has_value()}};
  }
  const std::string node = RecordNode();
  json focus{{"node", node}, {"keys", nullptr}, {"pixels", nullptr}, {"object", nullptr}};
  if (nodeFocus.depth) focus["keys"] = KeysJson(*nodeFocus.depth);
  if (nodeFocus.pixel) {
    json pixels = json::array();
    for (const auto& [key, p] : *nodeFocus.pixel) pixels.push_back({key, p.x, p.y});
    focus["pixels"] = std::move(pixels);
  }
  if (const std::optional<int32_t> id = ObjectOfNodeName(node)) focus["object"] = *id;
  focus["keyHere"] = nodeFocus.depth && nodeFocus.depth->count(frame) > 0;
  json preview{{"status", "pending"}};
  if (loaded) {
    const Wish wish = WishFor(*loaded);
    focus["depth"] = wish.focusError.empty() ? json(wish.focusDepth) : json(nullptr);
    focus["error"] = wish.focusError.empty() ? json(nullptr) : json(wish.focusError);
    preview["range"] = wish.range;
    preview["size"] = wish.size;
    preview["source"] = SourceText(wish.source);
  } else if (const auto it = unreadable.find(frame); it != unreadable.end()) {
    preview = {{"status", "failed"}, {"message", it->second}};
  }
  if (shown && frameShown == frame && !Stale()) {
    preview["status"] = shown->status;
    preview["message"] = shown->message;
    preview["version"] = shown->version;
    preview["passes"] = shown->passes;
    preview["layers"] = shown->layers;
    preview["seconds"] = shown->seconds;
  }
  const std::string settingsText = SettingsFileText(HandOffSettings());
  json handOff{{"command", HandOffCommand()},
               {"file", setup.saveFile.empty() ? json(nullptr) : json(setup.saveFile)},
               {"saved", !savedText.empty()},
               {"current", savedText == settingsText}};
  return {{"input", setup.input},
          {"frame", frame},
          {"image", std::move(image)},
          {"focus", std::move(focus)},
          {"preview", std::move(preview)},
          {"overlay", overlay},
          {"layered", layered},
          {"view", ViewState()},
          {"handOff", std::move(handOff)}};
}

}  // namespace studio
