// What the media tests share: the nginx the test run started, a temporary
// folder of the test's own (so each test has its own temporary media
// folder), the intranet setting, and reading the locator's log.
#pragma once
#include <string>
#include <vector>

namespace orvo::test {

// The port nginx_fixture.sh wrote; 0 when nginx is not running.
int NginxPort();
// http://127.0.0.1:<port> followed by the path.
std::wstring NginxUrl(const std::wstring& path);
// The Windows path of a file nginx serves, relative to its root.
std::wstring NginxFile(const std::wstring& relative);
// The request lines nginx logged: "<uri> <status> <connection> <number>".
std::vector<std::string> NginxRequests();

// Points TMP and TEMP at a fresh folder while it lives.
class ScopedTempFolder {
 public:
  ScopedTempFolder();
  ~ScopedTempFolder();
  const std::wstring& path() const { return path_; }
  std::wstring TempMedia() const { return path_ + L"KeltraTempMedia\\"; }

 private:
  std::wstring path_;
  std::wstring oldTmp_;
  std::wstring oldTemp_;
};

// The machine's intranet folder setting while it lives; removed afterwards.
class ScopedIntranetSetting {
 public:
  ScopedIntranetSetting(const std::wstring& value, unsigned long type = 1 /* REG_SZ */);
  ~ScopedIntranetSetting();
};
void RemoveIntranetSetting();

std::vector<std::wstring> LogLines(const std::wstring& logPath);
int CountContaining(const std::vector<std::wstring>& lines, const std::wstring& text);
// Files and folders directly in a folder.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

}  // namespace orvo::test
