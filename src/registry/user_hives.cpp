#include "registry/user_hives.h"

#include <io.h>

#include <cwchar>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"
#include "registry/registry_key.h"

namespace orvo {
namespace {

const wchar_t kMountName[] = L"OtherUser";

void SetPrivilege(const wchar_t* name, bool enable) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  unique_handle owner(token);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
}

// The privileges a hive load or unload needs, held for that call only.
class HivePrivileges {
 public:
  HivePrivileges() {
    SetPrivilege(SE_RESTORE_NAME, true);
    SetPrivilege(SE_BACKUP_NAME, true);
  }
  ~HivePrivileges() {
    SetPrivilege(SE_RESTORE_NAME, false);
    SetPrivilege(SE_BACKUP_NAME, false);
  }
};

std::wstring MacroStorePath() {
  std::wstring root = InstallerSession::Instance().GetProperty(L"ZIRBHOSTAPPREGROOT", true);
  return CombinePath(CombinePath(root, L"struoProfile"), L"Macros");
}

bool IsStringValue(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

UserHiveTable UserTable(const std::wstring& productCode) {
  auto& session = InstallerSession::Instance();
  UserHiveTable table;
  AppIndex index;
  TextList users;
  if (!index.Open() || !index.ListUsers(productCode, users)) return table;
  std::wstring currentUser = CurrentUserName();
  bool secondary = (session.installType() & IT_SECONDARY) != 0;
  for (const auto& user : users) {
    if (secondary && user != currentUser) continue;
    std::wstring folder;
    index.GetUserDirectory(productCode, user, L"AppDataFolder", folder);
    folder = ParentFolder(folder);
    if (_wtoi(session.GetProperty(L"VersionNT").c_str()) >= 600) folder = ParentFolder(folder);
    std::wstring hive = CombinePath(folder, L"ntuser.dat");
    // Any user can write the index: a hive is loaded and written only
    // inside the profile folder the system records for that user.
    if (!IsStrictlyBelow(hive, RecordedProfileFolder(user))) {
      session.Log(L"  !=> Refused the hive %s of user %s: not inside the user's profile folder", hive, user);
      continue;
    }
    table[user] = hive;
  }
  return table;
}

std::wstring LogSystemError(DWORD code) {
  if (code == 0) return L"    !=> Error not defined";
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  unique_hlocal owner(buffer);
  std::wstring text = buffer ? buffer : L"";
  InstallerSession::Instance().Log(L"    !=> Error: %s", text);
  return text;
}

bool LoadHive(const std::wstring& mountName, const std::wstring& hiveFile) {
  HivePrivileges privileges;
  LONG result = RegLoadKeyW(HKEY_USERS, mountName.c_str(), hiveFile.c_str());
  if (result != ERROR_SUCCESS) LogSystemError(static_cast<DWORD>(result));
  return result == ERROR_SUCCESS;
}

bool UnloadHive(const std::wstring& mountName) {
  HivePrivileges privileges;
  LONG result = RegUnLoadKeyW(HKEY_USERS, mountName.c_str());
  if (result != ERROR_SUCCESS) LogSystemError(static_cast<DWORD>(result));
  return result == ERROR_SUCCESS;
}

LoadedHive::LoadedHive(const std::wstring& mountName, const std::wstring& hiveFile)
    : mountName_(mountName), loaded_(LoadHive(mountName, hiveFile)) {}

LoadedHive::~LoadedHive() {
  if (loaded_) UnloadHive(mountName_);
}

CurrentUserOverride::CurrentUserOverride(HKEY key)
    : active_(RegOverridePredefKey(HKEY_CURRENT_USER, key) == ERROR_SUCCESS) {}

CurrentUserOverride::~CurrentUserOverride() {
  if (active_) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
}

void OtherUserPass(const UserHiveTable& users, const std::function<void(const std::wstring& user)>& work,
                   const std::wstring& updateLine) {
  auto& session = InstallerSession::Instance();
  std::wstring currentUser = CurrentUserName();
  for (const auto& [user, hiveFile] : users) {
    if (user == currentUser) continue;
    session.Log(L"  => Update user: %s", user);
    if (_waccess(hiveFile.c_str(), 0) != 0) {
      session.Log(L" !=> Failed to access %s for user %s", hiveFile, user);
      continue;
    }
    // Declared first so it is unloaded last, whatever happens in between.
    LoadedHive hive(kMountName, hiveFile);
    if (!hive.loaded()) {
      session.Log(L" !=> Failed to open ntuser.dat for user %s", user);
      continue;
    }
    CRegistry userKey;
    if (!userKey.Open(HKEY_USERS, kMountName)) {
      session.Log(L" !=> Failed to open HKU key for %s", user);
      continue;
    }
    session.Log(updateLine, hiveFile);
    CurrentUserOverride override(userKey.key());
    userKey.Close();
    if (!override.active()) {
      session.Log(L" !=> Failed to override HKCU for %s", user);
      continue;
    }
    work(user);
  }
}

bool StoreMacros(HKEY hive, const MacroSet& macros) {
  auto& session = InstallerSession::Instance();
  session.Log(L"   => Store macros in %s", hive == HKEY_LOCAL_MACHINE ? L"HKLM" : L"HKCU");
  std::wstring path = MacroStorePath();
  CRegistryWrite store;
  if (!store.Open(hive, path)) {
    session.Log(L"  !=> Failed to open macros key");
    return false;
  }
  bool keepExisting = (session.installType() & IT_ADDREMOVE) != 0;
  CRegistry reader;
  if (!reader.Open(hive, path)) keepExisting = false;
  for (const auto& name : macros) {
    if (keepExisting && reader.HasValueOfType(name, {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) &&
        !reader.GetString(name).empty()) {
      continue;
    }
    store.SetString(name, session.GetProperty(name));
  }
  return true;
}

void InitUserMacros() {
  auto& session = InstallerSession::Instance();
  session.Log(L"   => Initialize user macros");
  CRegistry machineStore;
  if (!machineStore.Open(HKEY_LOCAL_MACHINE, MacroStorePath())) return;
  MacroSet names;
  for (DWORD index = 0;; ++index) {
    wchar_t buffer[1024];
    DWORD length = 1024, type = REG_NONE;
    if (RegEnumValueW(machineStore.key(), index, buffer, &length, nullptr, &type, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    if (IsStringValue(type)) names.insert(std::wstring(buffer, length));
  }
  StoreMacros(HKEY_CURRENT_USER, names);
}

bool LoadMacroTable(TextList& search, TextList& replace) {
  auto& session = InstallerSession::Instance();
  std::wstring root = session.GetProperty(L"ZIRBHOSTAPPREGROOT", true);
  CRegistry rootKey;
  if (!rootKey.Open(HKEY_CURRENT_USER, root)) {
    session.Log(L"  !=> Failed to open %s", root);
    return false;
  }
  CRegistry store;
  if (!store.Open(rootKey.key(), L"struoProfile\\Macros")) {
    session.Log(L"  !=> Failed to open macros key");
    return false;
  }
  search.clear();
  replace.clear();
  for (DWORD index = 0;; ++index) {
    wchar_t buffer[1024];
    DWORD length = 1024, type = REG_NONE;
    if (RegEnumValueW(store.key(), index, buffer, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (!IsStringValue(type)) continue;
    std::wstring name(buffer, length);
    replace.push_back(store.GetString(name));
    search.push_back(L"%" + name + L"%");
  }
  return true;
}

}  // namespace orvo
