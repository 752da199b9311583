#include "support/other_users.h"

#include "appindex/app_index.h"
#include "documents/paths.h"
#include "registry/registry_key.h"
#include "support/links.h"

namespace orvo::test {

void EnablePrivilege(const wchar_t* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
}

bool SaveHive(const std::wstring& seedKey, const std::wstring& hiveFile) {
  bool saved = false;
  {
    CRegistry seed;
    if (seed.Open(HKEY_CURRENT_USER, seedKey)) {
      EnsureFolder(ParentFolder(hiveFile));
      DeleteFileW(hiveFile.c_str());
      EnablePrivilege(SE_BACKUP_NAME);
      saved = RegSaveKeyW(seed.key(), hiveFile.c_str(), nullptr) == ERROR_SUCCESS;
    }
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, seedKey.c_str());
  return saved;
}

bool RecordUser(const std::wstring& productCode, const std::wstring& user,
                const std::vector<std::pair<std::wstring, std::wstring>>& directories) {
  AppIndex index;
  if (!index.Open()) return false;
  DomElement* product = index.GetOrCreateProduct(productCode);
  DomElement* users = product ? FirstChildElement(product, L"Users") : nullptr;
  if (!users) return false;
  DomElement* entry = FindChildElement(users, L"User", L"Name", user);
  if (!entry) {
    entry = index.document()->createElement(L"User");
    entry->setAttribute(L"Name", user.c_str());
    users->appendChild(entry);
  }
  DomElement* folders = FirstChildElement(entry, L"Directories");
  if (!folders) folders = static_cast<DomElement*>(entry->appendChild(index.document()->createElement(L"Directories")));
  for (const auto& [name, folder] : directories) {
    index.SetNameData(folders, L"Directory", name, folder);
    // The system records where the user's profile is: above application data.
    if (name != L"AppDataFolder") continue;
    std::wstring profile = ParentFolder(folder);
    if (FoldCase(LastPathComponent(profile)) == L"APPDATA") profile = ParentFolder(profile);
    if (!RecordProfile(user, profile)) return false;
  }
  return index.Save();
}

std::wstring RegistryValue(HKEY root, const std::wstring& path, const std::wstring& name) {
  CRegistry key;
  if (!key.Open(root, path)) return L"<no key>";
  DWORD type = key.ValueType(name);
  if (type == REG_DWORD) return L"#" + std::to_wstring(key.GetDword(name));
  if (type == REG_NONE) return L"<no value>";
  return key.GetString(name);
}

}  // namespace orvo::test
