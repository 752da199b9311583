#include "support/links.h"

#include <windows.h>

namespace orvo::test {

namespace {

bool IsReparsePoint(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string UnixPath(const std::wstring& path) {
  using Convert = char*(__cdecl*)(LPCWSTR);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return std::string();
  char* unix = convert(path.c_str());
  std::string text = unix ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return text;
}

}  // namespace

bool PlantFolderLink(const std::wstring& linkPath, const std::wstring& target) {
  std::wstring link = linkPath;
  while (!link.empty() && link.back() == L'\\') link.pop_back();
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsReparsePoint(link))
    return true;
  // Wine runs a Unix program started by its Unix path.
  std::string from = UnixPath(target), to = UnixPath(link);
  if (from.empty() || to.empty()) return false;
  std::wstring command = L"Z:\\bin\\ln -sfn \"" + std::wstring(from.begin(), from.end()) + L"\" \"" +
                         std::wstring(to.begin(), to.end()) + L"\"";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return IsReparsePoint(link);
}

bool RecordProfile(const std::wstring& user, const std::wstring& profileFolder) {
  unsigned number = 5000;
  for (wchar_t c : user) number = number * 31 + c;
  std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-" +
                     std::to_wstring(number % 100000 + 5000);
  std::wstring folder = profileFolder;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", REG_EXPAND_SZ, folder.c_str(),
                         DWORD((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace orvo::test
