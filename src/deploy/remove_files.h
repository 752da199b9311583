// The file-removal step: for every Orvo slated for removal, walks its
// cabinet reference documents and deletes the files that no product
// references any longer, keeping files that other products or the user
// still hold, then prunes the emptied folders and documents.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "catalog/orvo_model.h"
#include "documents/linked_folders.h"
#include "documents/xml_document.h"

namespace orvo {

// 0, or 1602 when the user cancelled (the document in hand is left unsaved).
// forced: files the user changed go too (FORCE_FILE_DELETE_ON_UNINSTALL as
// the immediate action handed it over); not given, an immediate caller's
// condition decides.
unsigned RemoveFiles(XmlDocument& master, OrvoCatalog& catalog, std::optional<bool> forced = std::nullopt);

// Removes the relative folder below the extraction folder, then each of its
// parents as long as they can be removed ("\" stands for the extraction
// folder itself). Only empty folders go; a relative folder that could leave
// the extraction folder is refused.
void PruneFolderChain(const std::wstring& extractionPath, const std::wstring& relativeFolder);
// The chains of several emptied folders at once: each folder is tried once,
// after the folders below it, and not at all when one of them stayed. The
// folders held are known not to be links; the others are looked at below
// a held parent.
void PruneFolderChains(const std::wstring& extractionPath, const std::vector<std::wstring>& relativeFolders,
                       PinnedFolders& pins);

// Whether a relative folder as reference documents write it ("\" or
// "Sub\Deeper\") stays inside the folder it is joined to.
bool IsContainedRelativeFolder(const std::wstring& relativeFolder);

}  // namespace orvo
