// focus_commands.cpp: the workbench's host commands: the host's time, the
// focus (a click on the image, the Focus node's keys, as undo steps), the
// focus map overlay, the layered switch and Save.
#include <cstdio>

#include "base/errors.h"
#include "formats/output_file.h"
#include "host/hold.h"
#include "host/scene.h"
#include "host/tracks.h"
#include "kestrion/control_ids.h"
#include "platform/scripted_user.h"
#include "studio/dialog_reader.h"
#include "studio/hand_off.h"
#include "studio/workbench.h"

namespace studio {

namespace {

using nlohmann::json;
using namespace kestrion;

constexpr const char* FOCUS_CHANGE = "Focus Change";

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

}  // namespace

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

void Workbench::AddCommands() {
  bridge.AddHostCommand("frame", [this](const Request& r, HWND) { return ChangeFrame(r); });
  bridge.AddHostCommand("focusAt",
                        [this](const Request& r, HWND front) { return FocusAt(r, front); });
  bridge.AddHostCommand("deleteFocusKey",
                        [this](const Request&, HWND) { return DeleteFocusKey(); });
  bridge.AddHostCommand("overlay", [this](const Request& r, HWND) { return SetOverlay(r); });
  bridge.AddHostCommand("layered", [this](const Request& r, HWND) { return SetLayered(r); });
  bridge.AddHostCommand("view", [this](const Request& r, HWND) { return SetView(r); });
  bridge.AddHostCommand("save", [this](const Request&, HWND) { return Save(); });
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
    platform::User().Click(IDC_BROWSE);
    return {};
  }
  FocusFilterSession session(filter);
  FocusConfig record = session.Record();
  SetFocalName(record, name);
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

// The preview's wish holds the switch: the next Settled filters again.
std::string Workbench::SetLayered(const Request& request) {
  const auto on = request.arguments.find("on");
  if (on == request.arguments.end() || !on->is_boolean()) return "\"on\" must be true or false";
  layered = on->get<bool>();
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

}  // namespace studio
