#include <windows.h>

#include "action/installer_session.h"
#include "documents/contained_path.h"
#include "deploy/remove_files.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"

namespace orvo {

bool IsContainedRelativeFolder(const std::wstring& relativeFolder) {
  std::wstring folder = relativeFolder;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  if (folder.empty()) return relativeFolder == L"\\";
  return IsContainedRelativePath(folder);
}

void PruneFolderChain(const std::wstring& extractionPath, const std::wstring& relativeFolder, PinnedFolders& pins) {
  if (extractionPath.empty() || !IsAbsolutePath(extractionPath) || !IsContainedRelativeFolder(relativeFolder)) return;
  std::wstring relative = relativeFolder;
  while (!relative.empty()) {
    std::wstring path = CombinePath(extractionPath, relative);
    // Only folders: a file standing where a recorded folder was is the
    // user's, not an emptied folder of ours.
    // A held folder was seen not to be a link, and its parents stay held;
    // it is let go so that it can be removed.
    if (pins.Holds(path)) {
      pins.Release(path);
    } else {
      if (!IsFolder(path)) return;
      std::wstring link = LinkOnTheWay(path);
      if (!link.empty()) {
        InstallerSession::Instance().Log(L"  !-> Refused to prune %s: %s is a link", path, link);
        return;
      }
    }
    if (!RemoveDirectoryW(path.c_str())) return;
    if (relative == L"\\") return;
    relative = ParentFolder(relative);
  }
}

void PruneFolderChain(const std::wstring& extractionPath, const std::wstring& relativeFolder) {
  PinnedFolders none;
  PruneFolderChain(extractionPath, relativeFolder, none);
}

}  // namespace orvo
