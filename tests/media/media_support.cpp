#include "media_support.h"

#include <windows.h>

#include <sstream>

#include "action/unique_handle.h"
#include "support/test_files.h"

namespace orvo::test {
namespace {

const wchar_t kKey[] = L"Software\\Keltra\\Orvo\\IntranetFolder";

std::wstring NginxFolder() { return BinaryPath(L"tests\\media\\nginx"); }

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
  return n ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

int NginxPort() { return atoi(ReadFileBytes(NginxFolder() + L"\\port").c_str()); }

std::wstring NginxUrl(const std::wstring& path) {
  return L"http://127.0.0.1:" + std::to_wstring(NginxPort()) + path;
}

std::wstring NginxFile(const std::wstring& relative) { return NginxFolder() + L"\\www\\" + relative; }

std::vector<std::string> NginxRequests() {
  std::istringstream in(ReadFileBytes(NginxFolder() + L"\\logs\\access.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ScopedTempFolder::ScopedTempFolder() {
  oldTmp_ = Environment(L"TMP");
  oldTemp_ = Environment(L"TEMP");
  path_ = ScratchFolder(L"tmp");
  SetEnvironmentVariableW(L"TMP", path_.c_str());
  SetEnvironmentVariableW(L"TEMP", path_.c_str());
}

ScopedTempFolder::~ScopedTempFolder() {
  SetEnvironmentVariableW(L"TMP", oldTmp_.empty() ? nullptr : oldTmp_.c_str());
  SetEnvironmentVariableW(L"TEMP", oldTemp_.empty() ? nullptr : oldTemp_.c_str());
  RemoveTree(path_);
}

ScopedIntranetSetting::ScopedIntranetSetting(const std::wstring& value, unsigned long type) {
  unique_hkey key;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
  RegSetValueExW(key.get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                 DWORD((value.size() + 1) * sizeof(wchar_t)));
}

ScopedIntranetSetting::~ScopedIntranetSetting() { RemoveIntranetSetting(); }

void RemoveIntranetSetting() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }

std::vector<std::wstring> LogLines(const std::wstring& logPath) { return SplitLines(ReadUtf16File(logPath)); }

int CountContaining(const std::vector<std::wstring>& lines, const std::wstring& text) {
  int n = 0;
  for (const auto& line : lines) n += line.find(text) != std::wstring::npos;
  return n;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::wstring base = folder;
  while (!base.empty() && base.back() == L'\\') base.pop_back();
  WIN32_FIND_DATAW data;
  unique_hfind find(FindFirstFileW((base + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  return names;
}

}  // namespace orvo::test
