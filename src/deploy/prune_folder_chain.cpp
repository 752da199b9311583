#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

#include "action/installer_session.h"
#include "documents/contained_path.h"
#include "deploy/remove_files.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"

namespace orvo {
namespace {

size_t Depth(const std::wstring& relative) { return size_t(std::count(relative.begin(), relative.end(), L'\\')); }

}  // namespace

bool IsContainedRelativeFolder(const std::wstring& relativeFolder) {
  std::wstring folder = relativeFolder;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  if (folder.empty()) return relativeFolder == L"\\";
  return IsContainedRelativePath(folder);
}

void PruneFolderChains(const std::wstring& extractionPath, const std::vector<std::wstring>& relativeFolders,
                       PinnedFolders& pins) {
  if (extractionPath.empty() || !IsAbsolutePath(extractionPath)) return;
  // Each emptied folder and its parents, once each, deepest first; siblings
  // next to each other, so that their parents stay held between them.
  std::map<std::wstring, std::wstring> byKey;
  for (const auto& relativeFolder : relativeFolders) {
    if (!IsContainedRelativeFolder(relativeFolder)) continue;
    for (std::wstring relative = relativeFolder; !relative.empty(); relative = ParentFolder(relative)) {
      byKey.emplace(FoldCase(CombinePath(relative)), relative);
      if (relative == L"\\") break;
    }
  }
  std::vector<std::pair<std::wstring, std::wstring>> chain(byKey.begin(), byKey.end());
  std::stable_sort(chain.begin(), chain.end(),
                   [](const auto& a, const auto& b) { return Depth(a.first) > Depth(b.first); });

  // A folder that stays keeps its parents too: they are not even tried.
  std::set<std::wstring> kept;
  auto keep = [&kept](const std::wstring& key) { kept.insert(FoldCase(ParentFolder(key))); };
  for (const auto& [key, relative] : chain) {
    if (kept.count(key)) {
      keep(key);
      continue;
    }
    std::wstring path = CombinePath(extractionPath, relative);
    // A held folder was seen not to be a link; it is let go so that it can
    // be removed, its parents staying held. Any other is looked at below a
    // held parent.
    if (pins.Holds(path)) {
      pins.Release(path);
    } else {
      std::wstring link = pins.Pin(ParentFolder(path));
      DWORD attributes = GetFileAttributesW(path.c_str());
      if (link.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        link = path;
      if (!link.empty()) {
        InstallerSession::Instance().Log(L"  !-> Refused to prune %s: %s is a link", path, link);
        keep(key);
        continue;
      }
      // Gone already: its parents may still empty out.
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      // Only folders: a file standing where a recorded folder was is the
      // user's, not an emptied folder of ours.
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        keep(key);
        continue;
      }
    }
    if (!RemoveDirectoryW(path.c_str())) keep(key);
  }
}

void PruneFolderChain(const std::wstring& extractionPath, const std::wstring& relativeFolder) {
  PinnedFolders none;
  PruneFolderChains(extractionPath, {relativeFolder}, none);
}

}  // namespace orvo
