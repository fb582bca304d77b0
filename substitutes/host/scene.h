// scene.h: the host's scene as a filter sees it (named nodes with keyed
// world transforms, the current time) and the main interface that reaches
// it, including the pick-by-name dialog.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/types.h"
#include "platform/win32.h"

// A named node of the scene with a world transform keyed at times: linear
// between keys (element by element), held outside them; identity with no
// keys.
class SceneNode {
 public:
  explicit SceneNode(std::string name) : name(std::move(name)) {}

  // Zero-terminated 8-bit name.
  const char* GetName() const { return name.c_str(); }
  // The world transform at t. `valid`, when given, is narrowed to the
  // interval over which it holds.
  Matrix3 GetWorldTransform(TimeValue t, Interval* valid = nullptr) const;

  // --- host side ---
  void SetWorldTransform(TimeValue t, const Matrix3& tm) { keys[t] = tm; }

 private:
  std::string name;
  std::map<TimeValue, Matrix3> keys;
};

// The list of picked nodes that the pick dialog hands to its callback: a
// count followed by the node entries. A list without storage is empty.
struct PickList {
  int32_t count = 0;
  SceneNode* const* nodes = nullptr;
};

// The callback through which the host's pick-by-name dialog asks how to
// behave and reports the pick. Ten operations, called by position.
class PickCallback {
 public:
  virtual const char* DialogTitle() = 0;            // the dialog's caption
  virtual const char* ButtonText() = 0;             // the confirming button's text
  virtual int SinglePick() = 0;                     // yes: one node at a time
  virtual int ListHidden() = 0;                     // yes: hidden nodes are listed too
  virtual int Listed(SceneNode* node) = 0;          // yes: the node is offered
  virtual int UseListedFilter() = 0;                // yes: Listed() decides what is offered
  virtual void Picked(const PickList& picked) = 0;  // the user's pick
  virtual int ShowHierarchy() = 0;                  // yes: children indented
  virtual int Highlighted(SceneNode* node) = 0;     // yes: the node starts selected
  virtual int AllowEmptyPick() = 0;                 // yes: OK with nothing selected

 protected:
  ~PickCallback() = default;
};

// What the host's pick dialog did on one call, for tests and host programs.
struct PickDialogRun {
  std::string title;
  std::string buttonText;
  std::vector<std::string> offered;  // names of the nodes offered, in scene order
  bool singlePick = true;            // the callback's SinglePick
  bool allowEmptyPick = false;       // the callback's AllowEmptyPick
};

// The user in front of the pick dialog when no answer is queued: shown the
// run, answers the names picked, in order, or nothing for a cancel.
using PickDialogUser =
    std::function<std::optional<std::vector<std::string>>(const PickDialogRun& run)>;

// The host's main interface: the scene, the current time, the pick dialog,
// and the dialogs of filters made interactive.
class Interface {
 public:
  Interface() = default;
  Interface(const Interface&) = delete;
  Interface& operator=(const Interface&) = delete;

  // The first node with exactly this name, or null.
  SceneNode* GetNodeByName(const char* name);
  TimeValue GetTime() const { return time; }
  // Fills the interval a controller read is given: all time.
  void FillValidity(Interval& valid) const { valid = Interval(); }

  // Runs the modal pick-by-name dialog with the callback. The user's answer
  // comes from the queued pick answers (QueuePick / QueuePickCancel), else
  // from the pick dialog's user (SetPickDialogUser); without either the user
  // cancels. On a pick the callback's Picked runs with the picked nodes and
  // the result is 1; on cancel nothing is called and the result is 0.
  int PickByName(PickCallback& callback);

  // --- host side ---
  SceneNode& AddNode(const std::string& name);
  const std::vector<std::unique_ptr<SceneNode>>& Nodes() const { return nodes; }
  // Sets the current time and sends HOST_TIME_CHANGE with it to every
  // interactive dialog that is still a window.
  void SetTime(TimeValue t);
  void RegisterInteractiveDialog(HWND dialog);
  void UnregisterInteractiveDialog(HWND dialog);
  // The user's next answer in the pick dialog: the named nodes, in order,
  // or a cancel. The user can pick only what the dialog offers: names that
  // name no offered node are skipped (which may leave an empty pick; the
  // callback's yes/no answers shape only the offered list).
  void QueuePick(std::vector<std::string> names);
  void QueuePickCancel();
  // A live user of the pick dialog, asked when no answer is queued; an
  // empty function removes it. Reset leaves it in place.
  void SetPickDialogUser(PickDialogUser user) { pickUser = std::move(user); }
  const std::vector<PickDialogRun>& PickRuns() const { return pickRuns; }
  // Removes all nodes, dialogs, queued picks and records; time 0.
  void Reset();

 private:
  std::vector<std::unique_ptr<SceneNode>> nodes;
  std::vector<HWND> interactiveDialogs;
  struct PickAnswer {
    bool cancel;
    std::vector<std::string> names;
  };
  std::vector<PickAnswer> pickAnswers;
  PickDialogUser pickUser;
  std::vector<PickDialogRun> pickRuns;
  TimeValue time = 0;
};

// The one main interface of this host process. Renders on any thread read
// its nodes (GetNodeByName and the nodes' transforms); everything that
// changes it belongs to the user interface's thread and must not run while
// renders do (host/filter_pipeline.h).
Interface& HostInterface();
