// object_picker.h: the pick callback the control dialog's Browse... button
// hands to the host's pick-by-name dialog. The pick stores the first picked
// node's name as the filter's focal object.
#pragma once

#include "host/scene.h"
#include "platform/win32.h"

class FocusFilter;

class ObjectPicker : public PickCallback {
 public:
  explicit ObjectPicker(FocusFilter* filter) : filter(filter) {}
  virtual ~ObjectPicker() = default;

  const char* DialogTitle() override;  // "Select Object"
  const char* ButtonText() override;   // "Ok"
  int SinglePick() override { return 1; }
  int ListHidden() override { return 0; }
  int Listed(SceneNode*) override { return 1; }
  int UseListedFilter() override { return 1; }
  void Picked(const PickList& picked) override;
  int ShowHierarchy() override { return 0; }
  int Highlighted(SceneNode*) override { return 0; }
  int AllowEmptyPick() override { return 0; }

  FocusFilter* filter;
};

// The Browse... command of the control dialog: runs the host's pick dialog
// with a new picker held in filter.picker (freeing any earlier one); after
// a completed pick of a stored name the name label shows it.
void Browse(FocusFilter& filter, HWND dialog);
