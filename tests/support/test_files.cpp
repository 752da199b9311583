#include "support/test_files.h"

#include <windows.h>

#include <atomic>

#include "action/unique_handle.h"

namespace orvo::test {

std::string ToNarrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring ToWide(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string ReadFileBytes(const std::wstring& path) {
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr));
  if (!file) return std::string();
  std::string out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
  return out;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return bytes.empty() || (WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                           written == bytes.size());
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring UniqueTempPath(const std::wstring& stem) {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  for (;;) {
    std::wstring path = std::wstring(temp) + L"orvotest_" + stem + L"_" + std::to_wstring(GetCurrentProcessId()) +
                        L"_" + std::to_wstring(counter++);
    if (!FileExists(path)) return path;
  }
}

void RemoveTree(const std::wstring& path) {
  std::wstring base = path;
  while (!base.empty() && base.back() == L'\\') base.pop_back();
  DWORD attributes = GetFileAttributesW(base.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(base.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(base.c_str());
    return;
  }
  WIN32_FIND_DATAW data;
  unique_hfind find(FindFirstFileW((base + L"\\*").c_str(), &data));
  if (find) {
    do {
      std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") RemoveTree(base + L"\\" + name);
    } while (FindNextFileW(find.get(), &data));
  }
  find.reset();
  RemoveDirectoryW(base.c_str());
}

std::wstring ScratchFolder(const std::wstring& name) {
  std::wstring folder = UniqueTempPath(name) + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

namespace {
std::wstring UnixToWindows(const char* unixPath, const std::wstring& relative) {
  std::wstring path = L"Z:" + ToWide(unixPath);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (!relative.empty()) path += L"\\" + relative;
  return path;
}
}  // namespace

std::wstring SourcePath(const std::wstring& relative) { return UnixToWindows(ORVO_SOURCE_DIR, relative); }
std::wstring BinaryPath(const std::wstring& relative) { return UnixToWindows(ORVO_BINARY_DIR, relative); }
std::wstring DllPath() { return BinaryPath(L"bin\\orvo_Action.dll"); }

std::wstring ReadUtf16File(const std::wstring& path) {
  std::string bytes = ReadFileBytes(path);
  size_t start = bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE ? 2 : 0;
  std::wstring text;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) text += wchar_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
  return text;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L"\r\n", pos);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

namespace {
void ReadTreeInto(const std::wstring& folder, const std::wstring& prefix, bool withFolders,
                  std::map<std::wstring, std::string>& out) {
  WIN32_FIND_DATAW data;
  unique_hfind find(FindFirstFileW((folder + prefix + L"*").c_str(), &data));
  if (!find) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (withFolders) out[prefix + name + L"\\"];
      ReadTreeInto(folder, prefix + name + L"\\", withFolders, out);
    } else {
      out[prefix + name] = ReadFileBytes(folder + prefix + name);
    }
  } while (FindNextFileW(find.get(), &data));
}
}  // namespace

std::map<std::wstring, std::string> ReadTree(const std::wstring& folder, bool withFolders) {
  std::map<std::wstring, std::string> out;
  ReadTreeInto(folder, L"", withFolders, out);
  return out;
}

size_t CountOf(const std::wstring& text, const std::wstring& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::wstring::npos; pos = text.find(needle, pos + 1)) ++n;
  return n;
}

}  // namespace orvo::test
