#include "support/links.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace orvo::test {

namespace {

bool IsLink(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Wine starts a Unix program by its Unix path, and does not wait for it.
void RunUnix(std::wstring command, const std::vector<std::wstring>& paths) {
  using Convert = char*(__cdecl*)(LPCWSTR);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  for (const auto& path : paths) {
    char* unix = convert ? convert(path.c_str()) : nullptr;
    if (!unix) return;
    command += L" \"" + std::wstring(unix, unix + strlen(unix)) + L"\"";
    HeapFree(GetProcessHeap(), 0, unix);
  }
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

bool PlantFolderLink(const std::wstring& linkPath, const std::wstring& target) {
  std::wstring link = linkPath.substr(0, linkPath.find_last_not_of(L'\\') + 1);
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsLink(link)) return true;
  RemoveDirectoryW(link.c_str());
  RunUnix(L"Z:\\bin\\ln -sfn", {target, link});
  for (int i = 0; i < 100 && !IsLink(link); ++i) Sleep(50);
  return IsLink(link);
}

void RemoveFolderLink(const std::wstring& linkPath) {
  std::wstring link = linkPath.substr(0, linkPath.find_last_not_of(L'\\') + 1);
  if (RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str())) return;
  RunUnix(L"Z:\\bin\\rm -f", {link});
  for (int i = 0; i < 100 && GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

bool RecordProfile(const std::wstring& user, const std::wstring& profileFolder) {
  unsigned number = 5000;
  for (wchar_t c : user) number = number * 31 + c;
  std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-" +
                     std::to_wstring(number % 100000 + 5000);
  std::wstring folder = profileFolder.substr(0, profileFolder.find_last_not_of(L'\\') + 1);
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", REG_EXPAND_SZ, folder.c_str(),
                         DWORD((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace orvo::test
