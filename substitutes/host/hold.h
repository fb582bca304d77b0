// hold.h: the host's undo holder. Changes made to controllers between
// Begin and Accept form one undoable step under the accepted name; Cancel
// restores what they changed and drops them.
//
// Begin while a hold is already open keeps that hold open (holds do not
// nest): the next Accept or Cancel closes it.
//
// The holder is the user interface's, used on its thread only; renders
// never touch it, and a controller changed on another thread must not be
// changed while a hold is open.
#pragma once

#include <memory>
#include <string>
#include <vector>

// One reversible change, recorded while a hold is open.
class UndoRecord {
 public:
  virtual ~UndoRecord() = default;
  virtual void Restore() = 0;  // back to the state before the change
  virtual void Redo() = 0;     // forward to the state after the change
};

class Hold {
 public:
  void Begin();
  // Closes the hold; its records become one undo step under `name` (and
  // the redo steps are dropped), unless there were none.
  void Accept(const char* name);
  void Cancel();
  bool Holding() const { return open; }

  // Records a change; ignored (and freed) unless a hold is open.
  void Put(std::unique_ptr<UndoRecord> record);

  // --- host side ---
  // Undo and Redo refuse (false) while a hold is open, so that a pending
  // change is never mixed into another step; otherwise false when there is
  // nothing to undo or redo.
  bool Undo();
  bool Redo();
  size_t UndoDepth() const { return undoSteps.size(); }
  size_t RedoDepth() const { return redoSteps.size(); }
  // Name of the step that Undo would revert; empty when none.
  std::string UndoName() const;
  // Counts of calls, for tests of who called what.
  int BeginCalls() const { return beginCalls; }
  int AcceptCalls() const { return acceptCalls; }
  int CancelCalls() const { return cancelCalls; }
  // Forgets all steps, an open hold and the call counts.
  void Reset();

 private:
  struct Step {
    std::string name;
    std::vector<std::unique_ptr<UndoRecord>> records;
  };
  bool open = false;
  std::vector<std::unique_ptr<UndoRecord>> pending;
  std::vector<Step> undoSteps;
  std::vector<Step> redoSteps;
  int beginCalls = 0;
  int acceptCalls = 0;
  int cancelCalls = 0;
};

extern Hold theHold;
