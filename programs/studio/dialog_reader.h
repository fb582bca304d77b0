// dialog_reader.h: what the studio reads from the module's open dialogs,
// as the window trees the platform holds (window_tree.h): which of them is
// the control dialog, and the source and IDs its controls show, read as
// its OK reads them (they reach the record only on OK).
#pragma once

#include <vector>

#include "frame/focus_record.h"
#include "studio/window_tree.h"

namespace studio {

// The control dialog among the open dialogs: the one with the source
// buttons and Browse...; null when it is not open.
const DialogNode* ControlDialog(const std::vector<DialogNode>& dialogs);

// The source the control dialog's buttons show, with the ID its spinner
// for that channel shows; the whole image when no button is checked.
kestrion::SourceSelection ShownSource(const DialogNode& controlDialog);

}  // namespace studio
