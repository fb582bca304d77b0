// dialog_bridge.cpp: the waits of the studio thread, and what each request
// does in each of them.
#include "studio/dialog_bridge.h"

#include "platform/modal_loop.h"
#include "platform/scripted_user.h"
#include "studio/state_message.h"
#include "studio/window_tree.h"

namespace studio {

namespace {

constexpr const char* REFUSED_DISABLED =
    "the control is disabled, or the dialog has no such control";
constexpr const char* REFUSED_BEHIND = "that dialog is not the one in front";
constexpr const char* REFUSED_NO_DIALOG = "no dialog is open";
constexpr const char* REFUSED_PICK_OPEN = "the pick dialog is open";
constexpr const char* REFUSED_NO_PICK = "no pick dialog is open";
constexpr const char* REFUSED_COMMAND = "no such host command";
constexpr const char* REFUSED_LOOK = "the server answers looks itself";

}  // namespace

DialogBridge::DialogBridge(Inbox& in, Sender sender) : inbox(in), send(std::move(sender)) {
  platform::SetWaitingUser([this](HWND dialog) { return Supply(dialog); });
  HostInterface().SetPickDialogUser([this](const PickDialogRun& run) { return Pick(run); });
}

DialogBridge::~DialogBridge() {
  platform::SetWaitingUser({});
  HostInterface().SetPickDialogUser({});
}

void DialogBridge::AddHostCommand(std::string name, HostCommand command) {
  commands[std::move(name)] = std::move(command);
}

int32_t DialogBridge::HandleOf(HWND dialog) const {
  const auto it = handles.find(dialog);
  return it == handles.end() ? 0 : it->second;
}

void DialogBridge::Publish() {
  const std::vector<DialogNode> dialogs = CaptureOpenDialogs();
  // A dialog keeps its handle while it is open; a new one gets a new one.
  std::map<HWND, int32_t> open;
  std::vector<ShownDialog> shown;
  for (const DialogNode& dialog : dialogs) {
    const int32_t handle = HandleOf(dialog.window) ? HandleOf(dialog.window) : ++lastHandle;
    open[dialog.window] = handle;
    shown.push_back({handle, &dialog});
  }
  handles = std::move(open);
  const ShownPick shownPick{pick ? pick->run : 0, pick ? &pick->dialog : nullptr};
  const nlohmann::json host = hostState ? hostState() : nlohmann::json::object();
  send(ALL_CLIENTS, StateMessage(++version, ack, shown, pick ? &shownPick : nullptr, host),
       "state");
}

void DialogBridge::Refuse(const Request& request, std::string_view reason) {
  send(request.client, RefusedMessage(request.seq, reason), {});
}

// The last action's outcome, then the state, at the start of every wait.
void DialogBridge::Settle() {
  if (pendingAction) {
    if (platform::User().Refused() > refusedBefore) Refuse(*pendingAction, REFUSED_DISABLED);
    pendingAction.reset();
  }
  if (onSettled) onSettled();
  Publish();
}

Request DialogBridge::Next() {
  for (;;) {
    if (std::optional<Request> request = inbox.TryTake()) return std::move(*request);
    if (posted.empty()) return inbox.Take();
    const std::function<void()> work = std::move(posted.front());
    posted.pop_front();
    work();
    // The work may have changed what the page shows (a dialog it ran).
    Settle();
  }
}

void DialogBridge::RunHostCommand(const Request& request, HWND front) {
  const auto it = commands.find(request.command);
  if (it == commands.end()) {
    Refuse(request, REFUSED_COMMAND);
    return;
  }
  // A copy: the command may add commands while it runs.
  const HostCommand command = it->second;
  const std::string refused = command(request, front);
  if (!refused.empty()) Refuse(request, refused);
}

void DialogBridge::QueueAction(const Request& request) {
  platform::ScriptedUser& user = platform::User();
  refusedBefore = user.Refused();
  pendingAction = request;
  switch (request.input) {
    case UserInput::Click:
      user.Click(request.control);
      break;
    case UserInput::Type:
      user.Type(request.control, request.text);
      break;
    case UserInput::Press:
      user.Press(request.control);
      break;
    case UserInput::Drag:
      user.Drag(request.control, request.pixels);
      break;
    case UserInput::Release:
      user.Release(request.control, request.accept);
      break;
    case UserInput::Escape:
      user.Escape();
      break;
    case UserInput::Close:
      user.Close();
      break;
  }
}

// What one request does in the wait the studio thread is in; true when it
// ends the wait: quit, an action queued for the modal loop to perform, a
// host command run over a dialog (its loop paints and asks again), the
// pick dialog's answer.
bool DialogBridge::Handle(const Request& request, const Waiting& wait,
                          std::optional<std::vector<std::string>>& answer) {
  ack = request.seq;
  switch (request.kind) {
    case RequestKind::Quit:
      quitting = true;
      return true;
    case RequestKind::Look:
      Refuse(request, REFUSED_LOOK);
      return false;
    case RequestKind::Action:
      if (wait.place == Waiting::Pick) {
        Refuse(request, REFUSED_PICK_OPEN);
      } else if (wait.place == Waiting::Program) {
        Refuse(request, REFUSED_NO_DIALOG);
      } else if (request.dialog != HandleOf(wait.front)) {
        Refuse(request, REFUSED_BEHIND);
      } else {
        QueueAction(request);
        return true;
      }
      return false;
    case RequestKind::Pick:
      if (wait.place != Waiting::Pick) {
        Refuse(request, REFUSED_NO_PICK);
        return false;
      }
      if (request.run != pick->run) {
        Refuse(request, REFUSED_BEHIND);
        return false;
      }
      if (!request.cancel) answer = request.names;
      return true;
    case RequestKind::Host:
      if (wait.place == Waiting::Pick) {
        Refuse(request, REFUSED_PICK_OPEN);
        return false;
      }
      RunHostCommand(request, wait.front);
      return wait.place == Waiting::Dialog;
  }
  return false;
}

// Settles and handles requests until one ends the wait.
std::optional<std::vector<std::string>> DialogBridge::Serve(const Waiting& wait) {
  std::optional<std::vector<std::string>> answer;
  if (quitting) return answer;
  do {
    Settle();
  } while (!Handle(Next(), wait, answer));
  return answer;
}

// The platform's waiting user: `dialog` is the dialog in front.
bool DialogBridge::Supply(HWND dialog) {
  Serve({Waiting::Dialog, dialog});
  return !quitting;
}

// The host's pick dialog user: the run stays open until the page answers.
std::optional<std::vector<std::string>> DialogBridge::Pick(const PickDialogRun& run) {
  if (quitting) return std::nullopt;
  pick = OpenPick{++lastRun, run};
  std::optional<std::vector<std::string>> answer = Serve({Waiting::Pick, nullptr});
  pick.reset();
  return answer;
}

void DialogBridge::Run() {
  while (!quitting) Serve({Waiting::Program, nullptr});
}

}  // namespace studio
