#include "host/hold.h"

#include <utility>

Hold theHold;

void Hold::Begin() {
  ++beginCalls;
  open = true;
}

void Hold::Accept(const char* name) {
  ++acceptCalls;
  if (!open) return;
  open = false;
  if (pending.empty()) return;
  undoSteps.push_back(Step{name ? name : "", std::move(pending)});
  pending.clear();
  redoSteps.clear();
}

void Hold::Cancel() {
  ++cancelCalls;
  if (!open) return;
  // Closed before restoring, so that the restoring changes are not recorded.
  open = false;
  std::vector<std::unique_ptr<UndoRecord>> records = std::move(pending);
  pending.clear();
  for (auto it = records.rbegin(); it != records.rend(); ++it) (*it)->Restore();
}

void Hold::Put(std::unique_ptr<UndoRecord> record) {
  if (open && record) pending.push_back(std::move(record));
}

bool Hold::Undo() {
  if (open || undoSteps.empty()) return false;
  Step step = std::move(undoSteps.back());
  undoSteps.pop_back();
  for (auto it = step.records.rbegin(); it != step.records.rend(); ++it) (*it)->Restore();
  redoSteps.push_back(std::move(step));
  return true;
}

bool Hold::Redo() {
  if (open || redoSteps.empty()) return false;
  Step step = std::move(redoSteps.back());
  redoSteps.pop_back();
  for (auto& record : step.records) record->Redo();
  undoSteps.push_back(std::move(step));
  return true;
}

std::string Hold::UndoName() const { return undoSteps.empty() ? "" : undoSteps.back().name; }

void Hold::Reset() {
  open = false;
  pending.clear();
  undoSteps.clear();
  redoSteps.clear();
  beginCalls = acceptCalls = cancelCalls = 0;
}
