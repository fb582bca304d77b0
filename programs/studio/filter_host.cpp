// filter_host.cpp: the host commands and the host state of one filter.
#include "studio/filter_host.h"

#include <cstring>
#include <vector>

#include "host/bitmap.h"
#include "host/hold.h"
#include "host/scene.h"
#include "host/tracks.h"
#include "kestrion/focus_config.h"

namespace studio {

namespace {

using nlohmann::json;

json RecordJson(ImageFilter& filter) {
  if (filter.EvaluateConfigure() != sizeof(FocusConfig)) return nullptr;
  FocusConfig record{};
  if (filter.SaveConfigure(&record) != 1) return nullptr;
  const TerminatedName name = TerminateFocalName(record.focalObjectName);
  return {{"sourceMode", record.sourceMode},
          {"materialEffectsId", record.materialEffectsId},
          {"objectChannelId", record.objectChannelId},
          {"focalObjectName", name.text},
          {"blurRange", record.blurRange},
          {"blurSize", record.blurSize}};
}

json TracksJson(ImageFilter& filter) {
  json tracks = json::object();
  ITrackViewNode* node = filter.Node();
  if (!node) return tracks;
  for (int i = 0; i < node->NumItems(); ++i) {
    json keys = json::array();
    if (const Control* control = node->GetController(node->ItemId(i))) {
      for (const auto& [time, value] : control->Keys()) keys.push_back({time, value});
    }
    tracks[node->ItemName(i)] = std::move(keys);
  }
  return tracks;
}

HWND AppWindow() { return TheManager ? TheManager->AppWnd() : nullptr; }

}  // namespace

FilterHost::FilterHost(ImageFilter& f, DialogBridge& bridge) : filter(f) {
  bridge.AddHostCommand("openControl", [this](const Request&, HWND front) -> std::string {
    if (front) return "a dialog is open";
    OpenControl();
    return {};
  });
  bridge.AddHostCommand("openAbout", [this](const Request&, HWND front) -> std::string {
    lastDialog = DialogResult{"about", filter.ShowAboutBox(front ? front : AppWindow())};
    return {};
  });
  bridge.AddHostCommand("undo", [](const Request&, HWND) -> std::string {
    if (theHold.Holding()) return "a change is still being made";
    return theHold.Undo() ? "" : "nothing to undo";
  });
  bridge.AddHostCommand("redo", [](const Request&, HWND) -> std::string {
    if (theHold.Holding()) return "a change is still being made";
    return theHold.Redo() ? "" : "nothing to redo";
  });
  bridge.SetHostState([this] { return State(); });
}

int32_t FilterHost::OpenControl() {
  const int32_t result = filter.ShowControl(AppWindow());
  lastDialog = DialogResult{"control", result};
  return result;
}

json FilterHost::State() const {
  json objects = json::array();
  for (const auto& node : HostInterface().Nodes()) objects.push_back(node->GetName());
  json last = nullptr;
  if (lastDialog) last = {{"dialog", lastDialog->dialog}, {"result", lastDialog->result}};
  return {{"record", RecordJson(filter)},
          {"tracks", TracksJson(filter)},
          {"time", HostInterface().GetTime()},
          {"ticksPerFrame", GetTicksPerFrame()},
          {"objects", std::move(objects)},
          {"undo",
           {{"steps", theHold.UndoDepth()},
            {"name", theHold.UndoName()},
            {"redoSteps", theHold.RedoDepth()},
            {"holding", theHold.Holding()}}},
          {"lastDialog", std::move(last)}};
}

}  // namespace studio
