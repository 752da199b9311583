#include "support/links.h"

#include <windows.h>

#include <string>
#include <vector>

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

// Wine runs a Unix program started by its Unix path.
bool RunUnix(const std::wstring& program, const std::vector<std::wstring>& paths) {
  std::wstring command = program;
  for (const auto& path : paths) {
    std::string unix = UnixPath(path);
    if (unix.empty()) return false;
    command += L" \"" + std::wstring(unix.begin(), unix.end()) + L"\"";
  }
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

bool PlantFolderLink(const std::wstring& linkPath, const std::wstring& target) {
  std::wstring link = WithoutTrailingBackslash(linkPath);
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsReparsePoint(link))
    return true;
  RemoveDirectoryW(link.c_str());
  if (!RunUnix(L"Z:\\bin\\ln -sfn", {target, link})) return false;
  // Wine does not wait for a Unix program to end: the link shows up later.
  for (int i = 0; i < 100 && !IsReparsePoint(link); ++i) Sleep(50);
  return IsReparsePoint(link);
}

void RemoveFolderLink(const std::wstring& linkPath) {
  std::wstring link = WithoutTrailingBackslash(linkPath);
  if (RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str())) return;
  RunUnix(L"Z:\\bin\\rm -f", {link});
  for (int i = 0; i < 100 && GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
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
