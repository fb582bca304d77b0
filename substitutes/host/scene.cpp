#include "host/scene.h"

#include <algorithm>
#include <cstring>

#include "host/key_sampling.h"
#include "host/messages.h"

Matrix3 SceneNode::GetWorldTransform(TimeValue t, Interval* valid) const {
  if (keys.empty()) return Matrix3::Identity();
  return host_detail::SampleKeys(keys, t, valid, [](const Matrix3& a, const Matrix3& b, double f) {
    Matrix3 r;
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 3; ++j) {
        r.m[i][j] =
            static_cast<float>(a.m[i][j] + (static_cast<double>(b.m[i][j]) - a.m[i][j]) * f);
      }
    }
    return r;
  });
}

SceneNode* Interface::GetNodeByName(const char* name) {
  if (!name) return nullptr;
  for (const auto& node : nodes) {
    if (std::strcmp(node->GetName(), name) == 0) return node.get();
  }
  return nullptr;
}

int Interface::PickByName(PickCallback& callback) {
  PickDialogRun run;
  const char* title = callback.DialogTitle();
  const char* button = callback.ButtonText();
  run.title = title ? title : "";
  run.buttonText = button ? button : "";
  const bool filtered = callback.UseListedFilter() != 0;
  std::vector<SceneNode*> offered;
  for (const auto& node : nodes) {
    if (!filtered || callback.Listed(node.get())) {
      offered.push_back(node.get());
      run.offered.emplace_back(node->GetName());
    }
  }
  run.singlePick = callback.SinglePick() != 0;
  run.allowEmptyPick = callback.AllowEmptyPick() != 0;
  pickRuns.push_back(run);

  PickAnswer answer{true, {}};
  if (!pickAnswers.empty()) {
    answer = std::move(pickAnswers.front());
    pickAnswers.erase(pickAnswers.begin());
  } else if (pickUser) {
    // A copy: the user may replace itself while the dialog waits.
    const PickDialogUser user = pickUser;
    if (std::optional<std::vector<std::string>> names = user(run)) answer = {false, *names};
  }
  // Without an answer the user closes the dialog.
  if (answer.cancel) return 0;

  std::vector<SceneNode*> picked;
  for (const std::string& name : answer.names) {
    auto it = std::find_if(offered.begin(), offered.end(),
                           [&](SceneNode* node) { return name == node->GetName(); });
    if (it != offered.end()) picked.push_back(*it);
  }
  PickList list;
  list.count = static_cast<int32_t>(picked.size());
  list.nodes = picked.empty() ? nullptr : picked.data();
  callback.Picked(list);
  return 1;
}

SceneNode& Interface::AddNode(const std::string& name) {
  nodes.push_back(std::make_unique<SceneNode>(name));
  return *nodes.back();
}

void Interface::SetTime(TimeValue t) {
  time = t;
  // Dialogs destroyed without unregistering are dropped on the way.
  std::erase_if(interactiveDialogs, [](HWND dialog) { return !IsWindow(dialog); });
  const std::vector<HWND> dialogs = interactiveDialogs;
  for (HWND dialog : dialogs) {
    if (IsWindow(dialog)) SendMessageA(dialog, HOST_TIME_CHANGE, 0, static_cast<LPARAM>(t));
  }
}

void Interface::RegisterInteractiveDialog(HWND dialog) {
  if (dialog && std::find(interactiveDialogs.begin(), interactiveDialogs.end(), dialog) ==
                    interactiveDialogs.end()) {
    interactiveDialogs.push_back(dialog);
  }
}

void Interface::UnregisterInteractiveDialog(HWND dialog) { std::erase(interactiveDialogs, dialog); }

void Interface::QueuePick(std::vector<std::string> names) {
  pickAnswers.push_back(PickAnswer{false, std::move(names)});
}

void Interface::QueuePickCancel() { pickAnswers.push_back(PickAnswer{true, {}}); }

void Interface::Reset() {
  nodes.clear();
  interactiveDialogs.clear();
  pickAnswers.clear();
  pickRuns.clear();
  time = 0;
}

Interface& HostInterface() {
  static Interface mainInterface;
  return mainInterface;
}
