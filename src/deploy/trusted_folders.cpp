#include "deploy/trusted_folders.h"

#include "action/installer_session.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"

namespace orvo {

bool IsProductFolder(const TextList& productFolders, const std::wstring& folder) {
  if (!IsAbsolutePath(folder)) return false;
  for (const auto& trusted : productFolders) {
    if (SamePathKey(trusted, folder)) return true;
  }
  return false;
}

void KeepTrustedFolders(const TextList& productFolders, DirectoryTable& product, UserDirectoryTables& users) {
  auto& session = InstallerSession::Instance();
  // The entry stays without its folder: its flags still decide how the
  // directory is installed (per-user ones take the users' tables).
  for (auto& [name, entry] : product) {
    if (entry.path.empty() || IsProductFolder(productFolders, entry.path)) continue;
    session.Log(L"  !-> Refused folder %s of directory %s: not a folder the installer resolved for this product",
                entry.path, name);
    entry.path.clear();
  }
  for (auto& [user, table] : users) {
    std::wstring profile;
    bool looked = false;
    for (auto it = table.begin(); it != table.end();) {
      const std::wstring& path = it->second.path;
      bool trusted = path.empty() || IsProductFolder(productFolders, path);
      if (!trusted) {
        if (!looked) profile = RecordedProfileFolder(user);
        looked = true;
        trusted = IsStrictlyBelow(path, profile);
      }
      if (trusted) {
        ++it;
        continue;
      }
      session.Log(L"  !-> Refused folder %s of directory %s for user %s: not inside the user's profile folder",
                  path, it->first, user);
      it = table.erase(it);
    }
  }
}

}  // namespace orvo
