// The shortcuts an Orvo's pack document describes, completed from the
// package's shortcut template and installer properties.
#pragma once
#include "catalog/orvo_model.h"
#include "shortcuts/shortcut_record.h"

namespace orvo {

// Replaces the list with one record per "Shortcut" element of the Orvo's
// loaded pack document, in document order. A shortcut whose name would
// put its file outside its folder, or whose folder is not a full path, is
// left out with a log record.
void ReadShortcuts(const Orvo& orvo, ShortcutList& records);

}  // namespace orvo
