#include <gtest/gtest.h>

#include <windows.h>

#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "action/wformat.h"
#include "documents/text_lists.h"
#include "media/media_locator.h"
#include "media_support.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

struct Outcome {
  int result = -1;
  std::wstring path;
  std::vector<std::wstring> log;
  DWORD exitCode = 0;
};

// orvo-locate with the given arguments, in this process's environment.
Outcome RunTool(const std::wstring& arguments) {
  Outcome outcome;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return outcome;
  unique_handle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + BinaryPath(L"bin\\orvo-locate.exe") + L"\" " + arguments;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return outcome;
  unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
  writer.reset();
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) output.append(buffer, got);
  WaitForSingleObject(process.hProcess, 60000);
  GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  for (const auto& line : SplitLines(FromUtf8(output))) {
    if (line.rfind(L"Result: ", 0) == 0) outcome.result = _wtoi(line.c_str() + 8);
    else if (line.rfind(L"Path: ", 0) == 0) outcome.path = line.substr(6);
    else outcome.log.push_back(line);
  }
  return outcome;
}

Outcome RunLibrary(const std::wstring& root, const std::wstring& url, const std::wstring& folder,
                   const std::wstring& extraUrl, bool download, const std::wstring& name) {
  Outcome outcome;
  std::wstring log = CombinePath(TempFolder(), L"library.log");
  {
    MediaLocator locator;
    locator.SetLogPath(log);
    locator.SetUp(root, url);
    outcome.path = name;
    outcome.result = locator.Locate(outcome.path, download, folder, extraUrl);
  }
  outcome.log = LogLines(log);
  DeleteFileW(log.c_str());
  return outcome;
}

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"" + text;
  if (!text.empty() && text.back() == L'\\') out += L'\\';  // keep the closing quote
  return out + L"\"";
}

void ExpectSame(const Outcome& library, const Outcome& tool) {
  EXPECT_EQ(library.result, tool.result);
  EXPECT_EQ(library.path, tool.path);
  EXPECT_EQ(library.log, tool.log);
  bool found = library.result == 1 || library.result == 17;
  EXPECT_EQ(found, tool.exitCode == 0) << tool.exitCode;
}

TEST(LocateTool, ReportsWhatTheLibraryFindsLocally) {
  RemoveIntranetSetting();
  ScopedTempFolder temp;
  std::wstring root = ScratchFolder(L"root");
  std::wstring folder = ScratchFolder(L"folder");
  WriteFileBytes(folder + L"a.cab", "a");
  Outcome library = RunLibrary(root, L"", folder, L"", false, L"a.cab");
  ASSERT_EQ(1, library.result);
  ExpectSame(library, RunTool(L"--media-root " + Quoted(root) + L" --folder " + Quoted(folder) + L" a.cab"));

  library = RunLibrary(root, L"", folder, L"", false, L"missing.cab");
  ASSERT_EQ(2, library.result);
  ASSERT_EQ(3u, library.log.size());
  ExpectSame(library, RunTool(L"--folder " + Quoted(folder) + L" --media-root " + Quoted(root) + L" missing.cab"));
  EXPECT_EQ(87u, RunTool(L"--media-root").exitCode);
}

TEST(LocateTool, ReportsWhatTheLibraryDownloads) {
  ASSERT_NE(0, NginxPort()) << "nginx is not running (the media_nginx fixture starts it)";
  RemoveIntranetSetting();
  Outcome library;
  std::wstring libraryTemp;
  {
    ScopedTempFolder temp;
    libraryTemp = temp.path();
    library = RunLibrary(L"", NginxUrl(L"/media/"), L"", L"", true, L"sub\\b.cab");
    ASSERT_EQ(17, library.result);
  }
  {
    // The same set-up in a fresh temporary folder downloads again.
    ScopedTempFolder temp;
    Outcome tool = RunTool(L"--url " + NginxUrl(L"/media/") + L" --download sub\\b.cab");
    ReplaceAll(library.path, libraryTemp, temp.path());
    for (auto& line : library.log) ReplaceAll(line, libraryTemp, temp.path());
    ExpectSame(library, tool);
    EXPECT_EQ(temp.TempMedia() + L"sub\\b.cab", tool.path);
    EXPECT_EQ(ReadFileBytes(NginxFile(L"media\\sub\\b.cab")), ReadFileBytes(tool.path));

    library = RunLibrary(L"", L"", L"", NginxUrl(L"/media/"), true, L"nothere.cab");
    ASSERT_EQ(2, library.result);
    EXPECT_EQ(1, CountContaining(library.log, L"   !=> 404 when attempt to access /media/nothere.cab"));
    ExpectSame(library, RunTool(L"--extra-url " + NginxUrl(L"/media/") + L" --download nothere.cab"));
  }
}

}  // namespace
