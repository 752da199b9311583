#include <gtest/gtest.h>

#include "action/frame.h"
#include "action/installer_session.h"
#include "support/message_recorder.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring LogText() { return ReadUtf16File(InstallerSession::Instance().logPath()); }

bool LogHasLine(const std::wstring& line) {
  for (const auto& l : SplitLines(LogText())) {
    if (l == line) return true;
  }
  return false;
}

class SessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    packagePath_ = new std::wstring(UniqueTempPath(L"session") + L".msi");
    MsiPackage package(*packagePath_);
    package.Property(L"LONGVALUE", std::wstring(300, L'x'));
    package.Property(L"SHORTVALUE", L"abc");
    package.BinaryBytes(L"Exact2048", std::string(2048, '\x5A'));
    package.BinaryBytes(L"Empty", std::string());
    std::string mixed;
    for (int i = 0; i < 5000; ++i) mixed += char(i * 7);
    package.BinaryBytes(L"Mixed", mixed);
    package.Commit();
  }

  void SetUp() override {
    session_ = OpenPackage(*packagePath_);
    ASSERT_TRUE(session_);
    logName_ = L"orvo_session_test_" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(CombinePath(TempFolder(), logName_).c_str());
  }

  void Begin(const std::wstring& action = L"SessionTest") {
    InstallerSession::Instance().Begin(session_.get(), action, logName_);
  }

  // Field 1 of the Binary row as the installer reads it.
  unique_msihandle BinaryRecord(const std::wstring& name) {
    unique_msihandle db(MsiGetActiveDatabase(session_.get()));
    unique_msihandle view, record;
    std::wstring sql = L"SELECT `Data` FROM `Binary` WHERE `Name`='" + name + L"'";
    EXPECT_EQ(0u, MsiDatabaseOpenViewW(db.get(), sql.c_str(), view.put()));
    EXPECT_EQ(0u, MsiViewExecute(view.get(), 0));
    EXPECT_EQ(0u, MsiViewFetch(view.get(), record.put()));
    return record;
  }

  static std::wstring* packagePath_;
  unique_msihandle session_;
  std::wstring logName_;
};
std::wstring* SessionTest::packagePath_ = nullptr;

// Runs first in the process: nothing has begun yet.
TEST_F(SessionTest, BeforeBeginNothingTouchesTheInstallerOrTheLog) {
  auto& s = InstallerSession::Instance();
  EXPECT_FALSE(s.ready());
  EXPECT_EQ(-1, s.SetProperty(L"X", L"%s", L"1"));
  EXPECT_EQ(L"", s.GetProperty(L"SHORTVALUE"));
  EXPECT_FALSE(s.EvaluateCondition(L"1=1"));
  EXPECT_EQ(L"", s.FormatText(L"[ProductName]"));
  EXPECT_TRUE(s.logPath().empty());
}

TEST_F(SessionTest, BeginWritesBannerRunModesAndClassifies) {
  MsiSetPropertyW(session_.get(), L"CustomActionData", L"a;;b;");
  Begin(L"OrvoRollback");
  auto lines = SplitLines(LogText());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(L"____________\nOrvoRollback()", lines[0]);
  EXPECT_EQ(0u, lines[1].find(L"  => Run mode: "));
  EXPECT_EQ(std::wstring::npos, lines[1].find(L"MSIRUNMODE_SCHEDULED"));
  EXPECT_TRUE(LogHasLine(L"    => Condition \"NOT Installed\" evaluates as TRUE"));
  EXPECT_TRUE(LogHasLine(L"    => dwInstallType: IT_NEWINSTALL"));
  EXPECT_TRUE(LogHasLine(L"    => Get: CustomActionData: a;;b;"));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), InstallerSession::Instance().actionData());
  // The file starts with the mark, then the banner spanning two lines in one record.
  std::string bytes = ReadFileBytes(InstallerSession::Instance().logPath());
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
}

TEST_F(SessionTest, ActionDataDropsEmptyFields) {
  struct Case {
    const wchar_t* data;
    std::vector<std::wstring> fields;
  } cases[] = {{L";a", {L"a"}}, {L"", {}}, {L";;x;;y;;", {L"x", L"y"}}, {L"one", {L"one"}}};
  for (const auto& c : cases) {
    MsiSetPropertyW(session_.get(), L"CustomActionData", c.data);
    Begin();
    EXPECT_EQ(c.fields, InstallerSession::Instance().actionData()) << ToNarrow(c.data);
  }
}

TEST_F(SessionTest, PropertiesAndConditionsLeaveTheirLines) {
  Begin();
  auto& s = InstallerSession::Instance();
  EXPECT_EQ(std::wstring(300, L'x'), s.GetProperty(L"LONGVALUE"));
  EXPECT_TRUE(LogHasLine(L"    => Get: LONGVALUE: " + std::wstring(300, L'x')));
  EXPECT_EQ(L"abc", s.GetProperty(L"SHORTVALUE", true));
  EXPECT_FALSE(LogHasLine(L"    => Get: SHORTVALUE: abc"));

  EXPECT_EQ(0, s.SetProperty(L"NEWPROP", L"%s-%d", L"v", 42));
  EXPECT_TRUE(LogHasLine(L"    => Set: NEWPROP: v-42"));
  EXPECT_EQ(L"v-42", s.GetProperty(L"NEWPROP"));

  EXPECT_TRUE(s.EvaluateCondition(L"NEWPROP=\"%s\"", L"v-42"));
  EXPECT_TRUE(LogHasLine(L"    => Condition \"NEWPROP=\"v-42\"\" evaluates as TRUE"));
  EXPECT_FALSE(s.EvaluateCondition(L"((("));
  EXPECT_TRUE(LogHasLine(L"    => Condition \"(((\" evaluates as FALSE"));
  EXPECT_FALSE(s.EvaluateCondition(kQuiet, L"1=2"));
  EXPECT_FALSE(LogHasLine(L"    => Condition \"1=2\" evaluates as FALSE"));
}

TEST_F(SessionTest, FormatTextResolvesReferencesWithoutCutting) {
  Begin();
  auto& s = InstallerSession::Instance();
  EXPECT_EQ(L"abc", s.FormatText(L"abc"));
  EXPECT_EQ(std::wstring::npos, LogText().find(L"msiString"));
  EXPECT_EQ(L"Orvo Test Product", s.FormatText(L"[%s]", L"ProductName"));
  EXPECT_TRUE(LogHasLine(L"    => msiString: \"[ProductName]\" formatted to: Orvo Test Product"));

  std::wstring longValue(5000, L'q');
  MsiSetPropertyW(session_.get(), L"HUGE", longValue.c_str());
  EXPECT_EQ(L"<" + longValue + L">", s.FormatText(L"<[HUGE]>"));
}

TEST_F(SessionTest, SourceFolderIsNotResolvedDuringCompleteRemoval) {
  MsiSetPropertyW(session_.get(), L"REMOVE", L"ALL");
  Begin();
  EXPECT_EQ(L"", InstallerSession::Instance().SourceFolder());
  EXPECT_TRUE(LogHasLine(L"    => Condition \"REMOVE<>\"ALL\"\" evaluates as FALSE"));
  EXPECT_FALSE(LogHasLine(L"  --> Resolving source"));
}

TEST_F(SessionTest, ExtractStreamCopiesBinaryRows) {
  Begin();
  auto& s = InstallerSession::Instance();
  struct Case {
    const wchar_t* row;
    std::string bytes;
  } cases[] = {{L"Exact2048", std::string(2048, '\x5A')}, {L"Empty", std::string()}, {L"Mixed", std::string()}};
  for (int i = 0; i < 5000; ++i) cases[2].bytes += char(i * 7);
  for (const auto& c : cases) {
    std::wstring target = UniqueTempPath(L"stream");
    WriteFileBytes(target, "old content that must go");
    auto record = BinaryRecord(c.row);
    ASSERT_TRUE(record);
    EXPECT_TRUE(s.ExtractStream(record.get(), target)) << ToNarrow(c.row);
    EXPECT_EQ(c.bytes, ReadFileBytes(target)) << ToNarrow(c.row);
    DeleteFileW(target.c_str());
  }
  auto record = BinaryRecord(L"Mixed");
  EXPECT_FALSE(s.ExtractStream(record.get(), L"Z:\\no\\such\\folder\\file.bin"));
}

TEST_F(SessionTest, RecordStringReadsLongFields) {
  Begin();
  unique_msihandle record(MsiCreateRecord(2));
  std::wstring longText(1000, L'r');
  MsiRecordSetStringW(record.get(), 1, L"short");
  MsiRecordSetStringW(record.get(), 2, longText.c_str());
  EXPECT_EQ(L"short", InstallerSession::Instance().RecordString(record.get(), 1));
  EXPECT_EQ(longText, InstallerSession::Instance().RecordString(record.get(), 2));
}

TEST_F(SessionTest, MessagesReachTheInstallerAndCancelComesBack) {
  MessageRecorder recorder;
  Begin();
  auto& s = InstallerSession::Instance();
  recorder.Clear();
  recorder.CancelOn(INSTALLMESSAGE_ACTIONDATA, L"stop-here");
  s.ReportProgress(3, 1234, 0);
  s.SendInfo(L"orvo_Install: [1]", L"file %s of %d", L"a.txt", 3);
  EXPECT_NE(IDCANCEL, s.SendActionData(L"go-on", L"x"));
  EXPECT_EQ(IDCANCEL, s.SendActionData(L"stop-here", L"y"));

  auto infos = recorder.Of(INSTALLMESSAGE_INFO);
  ASSERT_FALSE(infos.empty());
  EXPECT_NE(std::wstring::npos, infos.back().text.find(L"orvo_Install: file a.txt of 3"));
  auto progress = recorder.Of(INSTALLMESSAGE_PROGRESS);
  ASSERT_FALSE(progress.empty());
  EXPECT_NE(std::wstring::npos, progress.back().text.find(L"1234"));
  EXPECT_EQ(2u, recorder.Of(INSTALLMESSAGE_ACTIONDATA).size());
}

TEST(PathText, CombinePathJoinsWithOneBackslash) {
  EXPECT_EQ(L"C:\\a\\b", CombinePath(L"C:\\a", L"b"));
  EXPECT_EQ(L"C:\\a\\b", CombinePath(L"C:\\a\\", L"b"));
  EXPECT_EQ(L"C:\\a\\b", CombinePath(L"C:\\a\\", L"\\b"));
  EXPECT_EQ(L"C:\\a\\b", CombinePath(L"C:\\a\\\\", L"\\b"));
  EXPECT_EQ(L"C:\\a\\", CombinePath(L"C:\\a"));
  EXPECT_EQ(L"C:\\a\\", CombinePath(L"C:\\a", L"\\"));
  EXPECT_EQ(L"\\x", CombinePath(L"", L"x"));
  std::wstring temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(L'\\', temp.back());
}

TEST(EntryPointGuard, ExceptionsBecomeFailureAndALogRecord) {
  EXPECT_EQ(1603u, GuardEntryPoint(L"Thrower", []() -> UINT { throw std::bad_alloc(); }));
  EXPECT_EQ(1603u, GuardEntryPoint(L"Thrower", []() -> UINT { throw std::runtime_error("boom"); }));
  EXPECT_EQ(1603u, GuardEntryPoint(L"Thrower", []() -> UINT { throw 7; }));
  EXPECT_EQ(1602u, GuardEntryPoint(L"Plain", []() -> UINT { return 1602; }));
  std::wstring log = LogText();
  EXPECT_NE(std::wstring::npos, log.find(L"!=> Thrower failed: out of memory"));
  EXPECT_NE(std::wstring::npos, log.find(L"!=> Thrower failed: exception boom"));
  EXPECT_NE(std::wstring::npos, log.find(L"!=> Thrower returning 1603"));
}

}  // namespace
