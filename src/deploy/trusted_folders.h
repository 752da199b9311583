// Which folders of the application index an elevated action may extract
// into or delete from. Every user can write the index, so a folder counts
// only when the installer resolved it for the product, or, in a user's
// table, when it lies inside that user's recorded profile folder.
#pragma once
#include "appindex/app_index.h"
#include "documents/text_lists.h"

namespace orvo {

// Clears the folder of every product entry, and drops every user entry,
// whose folder does not count by the rule above, each logged;
// productFolders are the handed-over folders.
void KeepTrustedFolders(const TextList& productFolders, DirectoryTable& product, UserDirectoryTables& users);

// Whether the folder is one of productFolders (compared as the system does).
bool IsProductFolder(const TextList& productFolders, const std::wstring& folder);

}  // namespace orvo
