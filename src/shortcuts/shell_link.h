// Writing and finding .lnk files through the shell link object.
#pragma once
#include "shortcuts/shortcut_record.h"

namespace orvo {

// Writes the record's .lnk file, replacing one that exists; the folder must
// exist. True when the file was saved.
bool CreateShortcut(const ShortcutRecord& record);

// Deletes the first .lnk file of the record's folder that starts the
// record's target with its arguments (both without regard to case),
// whatever the file is called.
void DeleteShortcut(const ShortcutRecord& record);

}  // namespace orvo
