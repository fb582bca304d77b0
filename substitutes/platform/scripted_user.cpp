// scripted_user.cpp: the queue of the user's actions and their delivery as
// the input messages a Windows user's mouse and keyboard would produce.
#include "platform/scripted_user.h"

#include <deque>
#include <utility>

#include "platform/modal_loop.h"
#include "platform/user_actions.h"
#include "platform/window_internal.h"

namespace platform {

namespace {

enum class ActionKind { Click, Type, Press, Drag, Release, Escape, Close, Call };

struct Action {
  explicit Action(ActionKind kind, int id = 0) : kind(kind), id(id) {}

  ActionKind kind;
  int id;
  int pixels = 0;
  bool accept = true;
  std::string text;
  std::function<void(HWND)> fn;
};

// The one user's script. ScriptedUser is a handle on it (there is one user
// per process, as there is one mouse and one keyboard).
struct Script {
  std::deque<Action> queue;
  int refused = 0;
  WaitingUser waiting;
};

Script& TheScript() {
  static Script script;
  return script;
}

ScriptedUser& Queue(ScriptedUser& user, Action action) {
  TheScript().queue.push_back(std::move(action));
  return user;
}

// The window an action reaches: a control of the dialog, or the dialog
// itself for the keyboard and the close box. Null when it cannot be reached.
HWND Target(HWND dialog, const Action& action) {
  switch (action.kind) {
    case ActionKind::Escape:
    case ActionKind::Close:
      return dialog;
    default:
      return GetDlgItem(dialog, action.id);
  }
}

void Deliver(HWND target, const Action& action) {
  switch (action.kind) {
    case ActionKind::Click:
      SendMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, 0);
      SendMessageA(target, WM_LBUTTONUP, 0, 0);
      break;
    case ActionKind::Type:
      SendMessageA(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(action.text.c_str()));
      SendMessageA(target, WM_KEYDOWN, VK_RETURN, 0);
      break;
    case ActionKind::Press:
      SendMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, 0);
      break;
    case ActionKind::Drag:
      // The pointer `pixels` above the press point: screen y grows downward.
      SendMessageA(target, WM_MOUSEMOVE, MK_LBUTTON,
                   MAKELPARAM(0, static_cast<WORD>(-action.pixels)));
      break;
    case ActionKind::Release:
      if (action.accept) {
        SendMessageA(target, WM_LBUTTONUP, 0, 0);
      } else {
        SendMessageA(target, WM_RBUTTONDOWN, MK_LBUTTON, 0);
      }
      break;
    case ActionKind::Escape:
      SendMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0);
      break;
    case ActionKind::Close:
      SendMessageA(target, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case ActionKind::Call:
      break;
  }
}

}  // namespace

ScriptedUser& ScriptedUser::Click(int id) { return Queue(*this, Action(ActionKind::Click, id)); }

ScriptedUser& ScriptedUser::Type(int id, std::string text) {
  Action action(ActionKind::Type, id);
  action.text = std::move(text);
  return Queue(*this, std::move(action));
}

ScriptedUser& ScriptedUser::Press(int id) { return Queue(*this, Action(ActionKind::Press, id)); }

ScriptedUser& ScriptedUser::Drag(int id, int pixels) {
  Action action(ActionKind::Drag, id);
  action.pixels = pixels;
  return Queue(*this, std::move(action));
}

ScriptedUser& ScriptedUser::Release(int id, bool accept) {
  Action action(ActionKind::Release, id);
  action.accept = accept;
  return Queue(*this, std::move(action));
}

ScriptedUser& ScriptedUser::Escape() { return Queue(*this, Action(ActionKind::Escape)); }

ScriptedUser& ScriptedUser::Close() { return Queue(*this, Action(ActionKind::Close)); }

ScriptedUser& ScriptedUser::Call(std::function<void(HWND dialog)> fn) {
  Action action(ActionKind::Call);
  action.fn = std::move(fn);
  return Queue(*this, std::move(action));
}

void ScriptedUser::Clear() {
  TheScript().queue.clear();
  TheScript().refused = 0;
}

bool ScriptedUser::Empty() const { return TheScript().queue.empty(); }

int ScriptedUser::Refused() const { return TheScript().refused; }

ScriptedUser& User() {
  static ScriptedUser user;
  return user;
}

void SetWaitingUser(WaitingUser user) { TheScript().waiting = std::move(user); }

bool PerformNextAction(HWND dialog) {
  Script& script = TheScript();
  if (script.queue.empty()) {
    // A copy: the waiting user may replace itself while it runs.
    const WaitingUser waiting = script.waiting;
    if (!waiting || !waiting(dialog)) return false;
    if (script.queue.empty()) return true;
  }
  // Taken off the queue first: performing it may run a nested modal loop
  // that takes the actions behind it.
  const Action action = std::move(script.queue.front());
  script.queue.pop_front();
  if (action.kind == ActionKind::Call) {
    if (action.fn) action.fn(dialog);
    return true;
  }
  HWND target = Target(dialog, action);
  if (!target || !EnabledWithAncestors(target)) {
    ++script.refused;
    return true;
  }
  Deliver(target, action);
  return true;
}

}  // namespace platform
