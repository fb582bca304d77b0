// object_picker.cpp: the pick-by-name callback and the control dialog's
// Browse... command that runs the host's pick dialog with it.
#include "ui/object_picker.h"

#include <cstring>
#include <new>

#include "filter/focus_filter.h"
#include "ui/control_dialog.h"
#include "ui/dialog_ids.h"

namespace {

constexpr const char* PICK_DIALOG_TITLE = "Select Object";
constexpr const char* PICK_BUTTON_TEXT = "Ok";

}  // namespace

const char* ObjectPicker::DialogTitle() { return PICK_DIALOG_TITLE; }

const char* ObjectPicker::ButtonText() { return PICK_BUTTON_TEXT; }

void ObjectPicker::Picked(const PickList& picked) {
  if (!filter || !picked.nodes || picked.count <= 0 || !picked.nodes[0]) return;
  const char* name = picked.nodes[0]->GetName();
  if (!name) return;
  // A name that does not fit the field with its terminator is refused: cut
  // short, it would no longer name the node, and the render looks the node
  // up by this name. The stored name stays as it was.
  const size_t length = strnlen(name, FOCAL_NAME_SIZE);
  if (length >= FOCAL_NAME_SIZE) return;
  std::memcpy(filter->config.focalObjectName, name, length + 1);
}

void PickerDeleter::operator()(ObjectPicker* picker) const { delete picker; }

void Browse(FocusFilter& filter, HWND dialog) {
  filter.picker.reset();
  filter.picker.reset(new (std::nothrow) ObjectPicker(&filter));
  if (filter.picker && filter.MainInterface()->PickByName(*filter.picker) != 0 &&
      filter.config.focalObjectName[0] != '\0') {
    // The name may still be one loaded without terminator, should the pick
    // have been refused.
    ShowFocalName(dialog, filter.config);
  }
  UpdateWindow(dialog);
}
