// workbench.cpp: the frames, the focus, the preview and the hand-off.
#include "studio/workbench.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/errors.h"
#include "formats/output_file.h"
#include "formats/review_io.h"
#include "frame/focal_depth.h"
#include "frame/focus_map.h"
#include "frame/frame_render.h"
#include "host/hold.h"
#include "host/scene.h"
#include "host/tracks.h"
#include "platform/scripted_user.h"
#include "studio/hand_off.h"
#include "studio/window_tree.h"

namespace studio {

namespace {

using nlohmann::json;
using namespace kestrion;

constexpr const char* OBJECT_NODE_PREFIX = "Object ";
constexpr const char* FOCUS_CHANGE = "Focus Change";
constexpr char IMAGE_MAGIC[4] = {'K', 'S', 'I', '1'};
// Progress goes out at most this often while a preview renders.
constexpr auto PROGRESS_INTERVAL = std::chrono::milliseconds(30);

// The control dialog's controls the studio reads and works.
constexpr int32_t BROWSE = 1002;
constexpr int32_t MATERIAL_SPINNER = 1046;
constexpr int32_t OBJECT_SPINNER = 1047;
constexpr int32_t SOURCE_BUTTONS[] = {SOURCE_WHOLE_IMAGE, SOURCE_MATERIAL_EFFECTS,
                                      SOURCE_OBJECT_CHANNEL};

// The control dialog among the open dialogs: the one with the source
// buttons and Browse....
const DialogNode* ControlDialog(const std::vector<DialogNode>& dialogs) {
  for (const DialogNode& dialog : dialogs) {
    if (FindControl(dialog, BROWSE) && FindControl(dialog, SOURCE_WHOLE_IMAGE)) return &dialog;
  }
  return nullptr;
}

int32_t SpinnerValue(const DialogNode& dialog, int32_t id) {
  const ControlNode* spinner = FindControl(dialog, id);
  return spinner && spinner->spinner ? static_cast<int32_t>(spinner->spinner->value) : 0;
}

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

std::optional<int64_t> IntegerArgument(const Request& request, const char* name, int64_t lo,
                                       int64_t hi) {
  const auto it = request.arguments.find(name);
  if (it == request.arguments.end() || !it->is_number_integer()) return std::nullopt;
  if (it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(hi)) {
    return std::nullopt;
  }
  const int64_t value = it->get<int64_t>();
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

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

// --- Focus changes as undo steps ---------------------------------------------

class Workbench::FocusChange : public UndoRecord {
 public:
  FocusChange(Workbench& bench, NodeFocus before, NodeFocus after)
      : bench(bench), before(std::move(before)), after(std::move(after)) {}
  void Restore() override { bench.nodeFocus = before; }
  void Redo() override { bench.nodeFocus = after; }

 private:
  Workbench& bench;
  NodeFocus before;
  NodeFocus after;
};

bool Workbench::Wish::operator==(const Wish& other) const {
  return frame == other.frame && focusDepth == other.focusDepth && focusError == other.focusError &&
         range == other.range && size == other.size && source.mode == other.source.mode &&
         source.id == other.source.id;
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
      frame(s.firstFrame) {
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
  std::memset(record.focalObjectName, 0, sizeof record.focalObjectName);
  std::memcpy(record.focalObjectName, node.data(), node.size());
  session.Configure(record);
  if (!HostInterface().GetNodeByName(FOCUS_NODE)) HostInterface().AddNode(FOCUS_NODE);
  HostInterface().SetTime(frame * GetTicksPerFrame());
  AddCommands();
  json list = json::array();
  for (const StudioFrame& f : frames.Frames()) list.push_back(f.number);
  outlet.text(json{{"type", "frames"}, {"frames", std::move(list)}}.dump(), "frames");
}

Workbench::~Workbench() = default;

void Workbench::AddCommands() {
  bridge.AddHostCommand("frame", [this](const Request& r, HWND) { return ChangeFrame(r); });
  bridge.AddHostCommand("focusAt",
                        [this](const Request& r, HWND front) { return FocusAt(r, front); });
  bridge.AddHostCommand("deleteFocusKey",
                        [this](const Request&, HWND) { return DeleteFocusKey(); });
  bridge.AddHostCommand("overlay", [this](const Request& r, HWND) { return SetOverlay(r); });
  bridge.AddHostCommand("save", [this](const Request&, HWND) { return Save(); });
}

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
  if (!dialog) {
    const FocusConfig record = Record();
    switch (record.sourceMode) {
      case SOURCE_MATERIAL_EFFECTS:
        return {SOURCE_MATERIAL_EFFECTS, record.materialEffectsId};
      case SOURCE_OBJECT_CHANNEL:
        return {SOURCE_OBJECT_CHANNEL, record.objectChannelId};
      default:
        return {record.sourceMode, 0};
    }
  }
  int32_t mode = SOURCE_WHOLE_IMAGE;
  for (const int32_t button : SOURCE_BUTTONS) {
    const ControlNode* control = FindControl(*dialog, button);
    if (control && control->checked == 1) {
      mode = button;
      break;
    }
  }
  if (mode == SOURCE_MATERIAL_EFFECTS) return {mode, SpinnerValue(*dialog, MATERIAL_SPINNER)};
  if (mode == SOURCE_OBJECT_CHANNEL) return {mode, SpinnerValue(*dialog, OBJECT_SPINNER)};
  return {mode, 0};
}

Workbench::Wish Workbench::WishFor(const LoadedFrame& loaded) const {
  Wish wish;
  wish.frame = loaded.number;
  const FocusConfig record = Record();
  const FocusFilterSession session(filter);
  wish.range = session.TrackValue(RANGE_TRACK, loaded.number, record.blurRange);
  wish.size = session.TrackValue(SIZE_TRACK, loaded.number, record.blurSize);
  wish.source = PendingSource();
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
  const FramePlanes& planes = loaded->input.planes;
  outlet.binary(ImageMessage({{"kind", "original"},
                              {"frame", loaded->number},
                              {"width", planes.width},
                              {"height", planes.height}},
                             loaded->original),
                "image-original");
  frameShown = loaded->number;
  shown.reset();
  result.reset();
  mapShown.reset();
  looks.Set({loaded, nullptr, nullptr});
}

void Workbench::Render(const std::shared_ptr<const LoadedFrame>& loaded, const Wish& wish,
                       const std::function<bool()>& abort, const bool& aborted) {
  Shown next{wish, "done", {}, ++images, 0, 0.0};
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
    const FocusConfig held = session.Record();
    FocusConfig pending = held;
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
    // What the render wrote into the record (Range and Size at the frame)
    // stays; the source and IDs go back.
    FocusConfig after = session.Record();
    after.sourceMode = held.sourceMode;
    after.materialEffectsId = held.materialEffectsId;
    after.objectChannelId = held.objectChannelId;
    session.Configure(after);
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
  std::vector<uint8_t> pixels = ReviewPixelsSideBySide(filtered->planes, loaded->input.name,
                                                       settings.output.review, NeverAbort());
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
                    {"source", SourceText(wish.source)}};
  result = std::make_shared<const FramePlanes>(std::move(filtered->planes));
  // The readout looks at this preview before the page has it.
  looks.Set({loaded, result, std::move(radii)});
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

// --- Host commands -----------------------------------------------------------------

std::string Workbench::ChangeFrame(const Request& request) {
  const std::optional<int64_t> number = IntegerArgument(request, "frame", FRAME_MIN, FRAME_MAX);
  if (!number || !frames.Has(static_cast<int32_t>(*number))) return "the run has no such frame";
  frame = static_cast<int32_t>(*number);
  // The dialogs made interactive hear of it (the time-change message).
  HostInterface().SetTime(frame * GetTicksPerFrame());
  return {};
}

// Makes the filter focus on the node: through Browse... and the pick
// dialog when the control dialog is open, else in the record as the host
// loads one.
std::string Workbench::ChooseNode(const std::string& name, HWND front) {
  if (RecordNode() == name) return {};
  const std::vector<DialogNode> dialogs = CaptureOpenDialogs();
  if (const DialogNode* dialog = ControlDialog(dialogs)) {
    if (dialog->window != front) return "close the dialog in front of the control dialog first";
    HostInterface().QueuePick({name});
    platform::User().Click(BROWSE);
    return {};
  }
  FocusFilterSession session(filter);
  FocusConfig record = session.Record();
  std::memset(record.focalObjectName, 0, sizeof record.focalObjectName);
  std::memcpy(record.focalObjectName, name.data(), std::min(name.size(), FOCAL_NAME_SIZE - 1));
  session.Configure(record);
  return {};
}

std::string Workbench::ChangeFocus(NodeFocus focus) {
  if (theHold.Holding()) return "a change is still being made";
  theHold.Begin();
  theHold.Put(std::make_unique<FocusChange>(*this, nodeFocus, focus));
  nodeFocus = std::move(focus);
  theHold.Accept(FOCUS_CHANGE);
  return {};
}

std::string Workbench::FocusAt(const Request& request, HWND front) {
  const std::shared_ptr<const LoadedFrame> loaded = frames.Loaded(frame);
  if (!loaded || frameShown != frame) return "the frame is not shown yet";
  const FramePlanes& planes = loaded->input.planes;
  const std::optional<int64_t> x = IntegerArgument(request, "x", 0, planes.width - 1);
  const std::optional<int64_t> y = IntegerArgument(request, "y", 0, planes.height - 1);
  if (!x || !y) return "the pixel lies outside the frame";
  const size_t i =
      static_cast<size_t>(*y) * static_cast<size_t>(planes.width) + static_cast<size_t>(*x);
  const auto object = request.arguments.find("object");
  if (object != request.arguments.end() && object->is_boolean() && object->get<bool>()) {
    if (!planes.objectId) return "the frame has no object IDs";
    const int32_t id = (*planes.objectId)[i];
    if (id == 0 || !loaded->objectDepths.count(id)) return "no object lies under the pointer";
    return ChooseNode(ObjectNodeName(id), front);
  }
  const float z = loaded->depth.rendererZ[i];
  if (!(z > Z_BACKGROUND)) return "no geometry lies under the pointer to focus on";
  NodeFocus focus;
  focus.depth = nodeFocus.depth.value_or(FloatKeys{});
  (*focus.depth)[frame] = -z;
  const std::string refused = ChangeFocus(std::move(focus));
  if (!refused.empty()) return refused;
  return ChooseNode(FOCUS_NODE, front);
}

std::string Workbench::DeleteFocusKey() {
  if (!nodeFocus.depth || !nodeFocus.depth->count(frame)) return "the Focus node has no key here";
  if (nodeFocus.depth->size() == 1) return "the Focus node's only key stays";
  NodeFocus focus = nodeFocus;
  focus.depth->erase(frame);
  return ChangeFocus(std::move(focus));
}

std::string Workbench::SetOverlay(const Request& request) {
  const auto on = request.arguments.find("on");
  if (on == request.arguments.end() || !on->is_boolean()) return "\"on\" must be true or false";
  overlay = on->get<bool>();
  return {};
}

std::string Workbench::Save() {
  if (setup.saveFile.empty()) return "start the studio with --save FILE to save the settings";
  const std::string text = SettingsFileText(HandOffSettings());
  try {
    OutputFile file(setup.saveFile);
    file.Write([&text](const std::string& path) {
      std::FILE* out = std::fopen(path.c_str(), "wb");
      const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
      if (out && std::fclose(out) != 0) throw FileError(path, "cannot be written");
      if (!written) throw FileError(path, "cannot be written");
    });
    file.Commit();
  } catch (const Error& e) {
    return e.what();
  }
  savedText = text;
  return {};
}

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
    preview["seconds"] = shown->seconds;
  }
  const std::string settingsText = SettingsFileText(HandOffSettings());
  json handOff{{"command", HandOffCommand()},
               {"file", setup.saveFile.empty() ? json(nullptr) : json(setup.saveFile)},
               {"saved", !savedText.empty()},
               {"current", savedText == settingsText}};
  return {{"input", setup.input},          {"frame", frame},
          {"image", std::move(image)},     {"focus", std::move(focus)},
          {"preview", std::move(preview)}, {"overlay", overlay},
          {"handOff", std::move(handOff)}};
}

}  // namespace studio
