#include "catalog/product_folders.h"

#include <windows.h>
#include <msiquery.h>

#include "action/installer_session.h"
#include "documents/paths.h"

namespace orvo {

namespace {

std::wstring ResolvedFolder(const std::wstring& name) {
  auto& session = InstallerSession::Instance();
  DWORD size = 0;
  wchar_t empty[1] = {0};
  // The resolved target, not the property: actions before this one set
  // directory properties from the index.
  if (MsiGetTargetPathW(session.handle(), name.c_str(), empty, &size) == ERROR_MORE_DATA) {
    std::wstring folder(size + 1, L'\0');
    size += 1;
    if (MsiGetTargetPathW(session.handle(), name.c_str(), &folder[0], &size) == ERROR_SUCCESS) {
      folder.resize(size);
      return folder;
    }
  }
  return session.GetProperty(name, true);
}

}  // namespace

TextList ResolveProductFolders(const OrvoCatalog& catalog) {
  auto& session = InstallerSession::Instance();
  TextList names, more;
  SplitText(session.GetProperty(L"INDEXED_DIRECTORIES"), L";", names, true);
  SplitText(session.GetProperty(L"INDEXED_PERUSERDIRS"), L";", more, true);
  names.insert(names.end(), more.begin(), more.end());
  names.push_back(L"LocalAppDataFolder");
  for (const auto& [orvoName, orvo] : catalog.orvos()) {
    for (const auto& cabinet : orvo->cabinets) {
      for (const auto& [owner, directories] : cabinet->targetDirectories)
        names.insert(names.end(), directories.begin(), directories.end());
    }
    for (const auto& [id, directory] : orvo->publishedDirectories) names.push_back(directory);
  }
  TextList folders, done;
  for (const auto& name : names) {
    if (name.empty() || ContainsText(done, name, true)) continue;
    done.push_back(name);
    std::wstring folder = ResolvedFolder(name);
    if (!IsAbsolutePath(folder) || folder.find(L'|') != std::wstring::npos) continue;
    folder = CombinePath(folder);
    bool known = false;
    for (const auto& other : folders) known = known || SamePathKey(other, folder);
    if (!known) folders.push_back(folder);
  }
  session.Log(L"  => Product folders: %s", JoinText(folders, L"|"));
  return folders;
}

}  // namespace orvo
