// dialog_bridge.h: the page's user in front of the module's dialogs.
//
// One studio thread runs everything the module, the host and the platform
// touch: the program's own loop (Run), the modal loops of the dialogs the
// module opens, and the host's pick-by-name dialog. Whenever one of them
// has nothing to do it comes to the bridge (as the platform's waiting user
// and the host's pick dialog user), which settles the last request,
// publishes the state (state_message.h) and waits for the page's next
// request in the inbox:
//   - an action in the dialog in front becomes the scripted user's action:
//     the window messages a user's mouse and keyboard give in the host. An
//     action aimed at a disabled control, a control the dialog does not
//     have, a dialog behind another or a closed one is refused: the page is
//     told, and nothing else happens;
//   - the pick dialog's answer ends the host's pick dialog; while it is
//     open, it is in front of everything;
//   - a host command runs its handler right there, over the dialog in
//     front (which a handler may use as the owner of a dialog it opens:
//     dialogs nest, each modal loop coming back here);
//   - quit (Ctrl-C) gives up: every dialog ends as Cancel, the pick dialog
//     is cancelled, and Run returns.
// Work posted on the studio thread (a preview render) runs while no
// request waits. It can watch Interrupted() and give way as soon as one
// arrives, e.g. by answering the module's abort query with "abort".
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/scene.h"
#include "platform/win32.h"
#include "studio/inbox.h"

namespace studio {

class DialogBridge {
 public:
  // How the bridge's messages leave: to one page or all, with a key for the
  // ones a newer one replaces (Server::Send).
  using Sender = std::function<void(ClientId client, std::string text, std::string key)>;
  // A host command, run on the studio thread with the dialog in front (or
  // null). Answers empty when done, else why it was refused.
  using HostCommand = std::function<std::string(const Request& request, HWND front)>;

  // Sets itself as the platform's waiting user and the host's pick dialog
  // user until destroyed.
  DialogBridge(Inbox& inbox, Sender send);
  ~DialogBridge();
  DialogBridge(const DialogBridge&) = delete;
  DialogBridge& operator=(const DialogBridge&) = delete;

  void AddHostCommand(std::string name, HostCommand command);
  // What the state's "host" member holds, asked for each state.
  void SetHostState(std::function<nlohmann::json()> state) { hostState = std::move(state); }
  // Called on the studio thread after each request was handled, before the
  // state goes out.
  void OnSettled(std::function<void()> settled) { onSettled = std::move(settled); }

  // Runs `work` on the studio thread as soon as no request waits.
  void Post(std::function<void()> work) { posted.push_back(std::move(work)); }
  // A request waits, or the studio is quitting.
  bool Interrupted() const { return inbox.Waiting(); }
  bool Quitting() const { return quitting; }

  // Sends the state now.
  void Publish();
  // The program's loop outside any dialog: handles requests until quit.
  void Run();

 private:
  struct OpenPick {
    int32_t run;
    PickDialogRun dialog;
  };

  // Where the studio thread waits: the program's own loop, a dialog's
  // modal loop (`front` the dialog in front), or the host's pick dialog.
  struct Waiting {
    enum Place { Program, Dialog, Pick } place;
    HWND front;
  };

  bool Supply(HWND dialog);
  std::optional<std::vector<std::string>> Pick(const PickDialogRun& run);
  std::optional<std::vector<std::string>> Serve(const Waiting& wait);
  bool Handle(const Request& request, const Waiting& wait,
              std::optional<std::vector<std::string>>& answer);

  Request Next();
  void Settle();
  void Refuse(const Request& request, std::string_view reason);
  void RunHostCommand(const Request& request, HWND front);
  void QueueAction(const Request& request);
  int32_t HandleOf(HWND dialog) const;

  Inbox& inbox;
  Sender send;
  std::map<std::string, HostCommand> commands;
  std::function<nlohmann::json()> hostState;
  std::function<void()> onSettled;
  std::deque<std::function<void()>> posted;

  std::map<HWND, int32_t> handles;  // the open dialogs' handles for the page
  int32_t lastHandle = 0;
  std::optional<OpenPick> pick;
  int32_t lastRun = 0;
  int64_t version = 0;
  int64_t ack = 0;  // the seq of the last request handled
  // The action handed to the scripted user, until its outcome is known.
  std::optional<Request> pendingAction;
  int refusedBefore = 0;
  bool quitting = false;
};

}  // namespace studio
