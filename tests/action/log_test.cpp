#include <gtest/gtest.h>

#include "action/install_log.h"
#include "action/installer_session.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const std::string kBom = "\xFF\xFE";

std::string Utf16(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += char(c & 0xFF);
    out += char(c >> 8);
  }
  return out;
}

TEST(InstallLogFile, NewLogStartsWithMarkAndRecordsEndWithCrLf) {
  std::wstring path = UniqueTempPath(L"log");
  InstallLog::OpenLog(path);
  EXPECT_EQ(kBom, ReadFileBytes(path));
  InstallLog::WriteTo(path, L"%s\n%s()", L"___", L"Abc");
  InstallLog::WriteTo(path, L"  => %d items: %5s|%-3s|", 7, L"ab", L"c");
  EXPECT_EQ(kBom + Utf16(L"___\nAbc()\r\n  => 7 items:    ab|c  |\r\n"), ReadFileBytes(path));
  // A second action keeps what the first one wrote.
  InstallLog::OpenLog(path);
  InstallLog::WriteTo(path, L"next");
  EXPECT_EQ(kBom + Utf16(L"___\nAbc()\r\n  => 7 items:    ab|c  |\r\nnext\r\n"), ReadFileBytes(path));
  InstallLog::WriteTo(L"", L"dropped");
  DeleteFileW(path.c_str());
}

TEST(InstallLogFile, AnsiLogIsReplacedAndReadOnlyDoesNotStopIt) {
  std::wstring path = UniqueTempPath(L"log");
  WriteFileBytes(path, "an old ANSI log\r\nwith two lines\r\n");
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  InstallLog::OpenLog(path);
  InstallLog::WriteTo(path, L"banner");
  EXPECT_EQ(kBom + Utf16(L"banner\r\n"), ReadFileBytes(path));
  DeleteFileW(path.c_str());
}

TEST(InstallLogFile, FolderAtTheLogPathDropsEveryRecord) {
  std::wstring folder = UniqueTempPath(L"logdir");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  WriteFileBytes(folder + L"\\keep.txt", "x");
  InstallLog::OpenLog(folder);
  InstallLog::WriteTo(folder, L"lost");
  DWORD attributes = GetFileAttributesW(folder.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ("x", ReadFileBytes(folder + L"\\keep.txt"));
  RemoveTree(folder);

  // An empty folder is removed and the log created in its place.
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  InstallLog::OpenLog(folder);
  InstallLog::WriteTo(folder, L"kept");
  EXPECT_EQ(kBom + Utf16(L"kept\r\n"), ReadFileBytes(folder));
  DeleteFileW(folder.c_str());
}

// A step's kept log: every record on disk as it is written, the same bytes
// as record by record, and a log held by another at the start is still
// written once it is let go.
TEST(InstallLogFile, KeptLogWritesEachRecordAtOnceAndTheSameBytes) {
  std::wstring package = UniqueTempPath(L"kept") + L".msi";
  { MsiPackage(package).Commit(); }
  unique_msihandle session = OpenPackage(package);
  ASSERT_TRUE(session);
  InstallerSession::Instance().Begin(session.get(), L"KeptLogTest", L"orvo_kept_test.log");
  std::wstring path = InstallerSession::Instance().logPath();
  auto sizeOnDisk = [&] {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
  };
  std::string before = ReadFileBytes(path);
  {
    KeptLog kept;
    KeptLog inner;
    InstallLog::Write(L"  => %s", L"one");
    EXPECT_EQ(before.size() + Utf16(L"  => one\r\n").size(), sizeOnDisk()) << "nothing waits in memory";
    InstallLog::Write(L"two");
  }
  InstallLog::Write(L"three");
  {
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    KeptLog kept;
    CloseHandle(holder);
    InstallLog::Write(L"four");
  }
  EXPECT_EQ(before + Utf16(L"  => one\r\ntwo\r\nthree\r\nfour\r\n"), ReadFileBytes(path));
  session.reset();
  DeleteFileW(path.c_str());
  DeleteFileW(package.c_str());
}

TEST(InstallLogFile, LogPathsResolveAgainstTheTemporaryFolder) {
  EXPECT_EQ(CombinePath(TempFolder(), L"x.log"), InstallLog::ResolveLogPath(L"x.log"));
  EXPECT_EQ(L"C:\\logs\\x.log", InstallLog::ResolveLogPath(L"C:\\logs\\x.log"));
  EXPECT_EQ(L"\\\\srv\\share\\x.log", InstallLog::ResolveLogPath(L"\\\\srv\\share\\x.log"));
  EXPECT_EQ(CombinePath(TempFolder(), L"\\\\srv"), InstallLog::ResolveLogPath(L"\\\\srv"));
}

TEST(StruoIoFileRead, ReadLineKeepsMarkAndCarriageReturn) {
  std::wstring path = UniqueTempPath(L"lines");
  WriteFileBytes(path, kBom + Utf16(L"first line\r\nsecond\r\n"));
  {
    StruoIoFile file;
    ASSERT_EQ(S_OK, file.Open(path, GENERIC_READ, OPEN_EXISTING));
    EXPECT_TRUE(file.isUnicode());
    EXPECT_EQ(2, file.charSize());
    std::wstring line;
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(L"\xFEFF" L"first line\r", line);
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(L"second\r", line);
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_EQ(L"second\r", line);
  }
  WriteFileBytes(path, "a\r\nb");
  {
    StruoIoFile file;
    ASSERT_EQ(S_OK, file.Open(path, GENERIC_READ, OPEN_EXISTING));
    EXPECT_FALSE(file.isUnicode());
    std::wstring line;
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(L"a\r", line);
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(L"b", line);
    EXPECT_FALSE(file.ReadLine(line));
    // No sharing: a second opener is refused while this one holds the file.
    StruoIoFile other;
    EXPECT_NE(S_OK, other.Open(path, GENERIC_READ, OPEN_EXISTING));
  }
  StruoIoFile missing;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), missing.Open(path + L".none", GENERIC_READ, OPEN_EXISTING));
  DeleteFileW(path.c_str());
}

}  // namespace
