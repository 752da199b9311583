// orvo-locate: asks the media locator where a file would be found, the way
// an installation would, and shows what it logged while looking.
//
//   orvo-locate [--media-root DIR] [--url BASE] [--folder DIR]
//               [--extra-url URL] [--download] [--sha256 DIGEST] NAME
//
// Exit status 0 when the file was found (result 1) or is in the temporary
// media folder (17), the result itself (2, 3, 64) otherwise, 87 for bad usage.
#include <windows.h>

#include <exception>
#include <string>

#include "action/wformat.h"
#include "media/media_locator.h"

namespace {

void Print(HANDLE out, const std::wstring& text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), DWORD(text.size()), &written, nullptr);
    return;
  }
  std::string bytes = orvo::ToUtf8(text);
  WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

void PrintLine(const std::wstring& text) { Print(GetStdHandle(STD_OUTPUT_HANDLE), text + L"\r\n"); }

int Usage(const std::wstring& problem) {
  Print(GetStdHandle(STD_ERROR_HANDLE),
        problem + L"\r\nusage: orvo-locate [--media-root DIR] [--url BASE] [--folder DIR] [--extra-url URL] "
                  L"[--download] [--sha256 DIGEST] NAME\r\n");
  return 87;
}

// The locator writes its records to a log file; they are shown from there.
std::wstring TemporaryLog() {
  wchar_t folder[MAX_PATH] = {0};
  wchar_t name[MAX_PATH] = {0};
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"olc", 0, name)) return std::wstring();
  return name;
}

void PrintLog(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += wchar_t(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
  if (!text.empty()) Print(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

int Run(int argc, wchar_t** argv) {
  std::wstring mediaRoot, url, folder, extraUrl, digest, name;
  bool download = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    auto value = [&](std::wstring& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == L"--media-root") ok = value(mediaRoot);
    else if (arg == L"--url") ok = value(url);
    else if (arg == L"--folder") ok = value(folder);
    else if (arg == L"--extra-url") ok = value(extraUrl);
    else if (arg == L"--sha256") ok = value(digest);
    else if (arg == L"--download") download = true;
    else if (arg.compare(0, 2, L"--") == 0) return Usage(L"unknown option " + arg);
    else if (name.empty()) name = arg;
    else return Usage(L"only one NAME may be given");
    if (!ok) return Usage(arg + L" needs a value");
  }
  if (name.empty()) return Usage(L"NAME is missing");

  std::wstring log = TemporaryLog();
  orvo::MediaLocator& locator = orvo::MediaLocator::Instance();
  locator.SetLogPath(log);
  locator.SetUp(mediaRoot, url);
  int result = locator.Locate(name, download, folder, extraUrl, digest);
  if (!log.empty()) {
    PrintLog(log);
    DeleteFileW(log.c_str());
  }
  PrintLine(orvo::Format(L"Result: %d", result));
  PrintLine(orvo::Format(L"Path: %s", name));
  return result == orvo::MediaLocator::kFound || result == orvo::MediaLocator::kInTempMedia ? 0 : result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    Print(GetStdHandle(STD_ERROR_HANDLE), L"orvo-locate: " + orvo::FromUtf8(e.what()) + L"\r\n");
    return 1;
  }
}
