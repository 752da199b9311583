// Other users' registry hives, loaded one at a time under HKEY_USERS and
// made to stand for HKEY_CURRENT_USER while their per-user work runs, and
// the macro stores whose %NAME% values are put into per-user data.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "documents/text_lists.h"

namespace orvo {

// User name to the full path of that user's hive file, in name order.
using UserHiveTable = std::map<std::wstring, std::wstring>;
using MacroSet = std::set<std::wstring>;

UserHiveTable UserTable(const std::wstring& productCode);
bool LoadHive(const std::wstring& mountName, const std::wstring& hiveFile);
bool UnloadHive(const std::wstring& mountName);
std::wstring LogSystemError(DWORD code);

// A hive loaded under HKEY_USERS, unloaded in the destructor.
class LoadedHive {
 public:
  LoadedHive(const std::wstring& mountName, const std::wstring& hiveFile);
  ~LoadedHive();
  LoadedHive(const LoadedHive&) = delete;
  LoadedHive& operator=(const LoadedHive&) = delete;
  bool loaded() const { return loaded_; }

 private:
  std::wstring mountName_;
  bool loaded_ = false;
};

// HKEY_CURRENT_USER standing for another key until the destructor.
class CurrentUserOverride {
 public:
  explicit CurrentUserOverride(HKEY key);
  ~CurrentUserOverride();
  CurrentUserOverride(const CurrentUserOverride&) = delete;
  CurrentUserOverride& operator=(const CurrentUserOverride&) = delete;
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

// Runs the work for every user of the table but the current one, with
// HKEY_CURRENT_USER standing for that user's hive.
void OtherUserPass(const UserHiveTable& users, const std::function<void(const std::wstring& user)>& work,
                   const std::wstring& updateLine);

bool StoreMacros(HKEY hive, const MacroSet& macros);
void InitUserMacros();
// Reads the store of the hive HKEY_CURRENT_USER stands for now.
bool LoadMacroTable(TextList& search, TextList& replace);

}  // namespace orvo
