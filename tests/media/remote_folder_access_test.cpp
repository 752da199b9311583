// Content folders on network shares, through a real session. The share
// \\srv\share is a folder of the Wine prefix (dosdevices\unc\srv\share);
// any other share is unknown and fails as an unavailable network.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "media/remote_folder_access.h"
#include "support/msi_package.h"
#include "support/test_files.h"
#include "support/test_session.h"

extern "C" UINT __stdcall OrvoRemoteFolderAccess(MSIHANDLE handle);

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kLogName[] = L"orvo_remote_folder_test.log";

// "\\srv\share" reaches this folder of the prefix.
std::wstring PrefixShareFolder() {
  wchar_t unixPrefix[MAX_PATH] = {0};
  std::wstring prefix;
  if (GetEnvironmentVariableW(L"WINEPREFIX", unixPrefix, MAX_PATH) > 0) {
    prefix = L"Z:" + std::wstring(unixPrefix);
    for (auto& c : prefix) {
      if (c == L'/') c = L'\\';
    }
  } else {
    prefix = BinaryPath(L"wineprefix");
  }
  return prefix + L"\\dosdevices\\unc\\srv\\share";
}

// Nine fields: 3 the folder name, 6 its local target, 7 its shared target.
std::wstring Item(const std::wstring& name, const std::wstring& local, const std::wstring& shared) {
  return L"a;b;c;" + name + L";e;f;" + local + L";" + shared + L";i";
}

class RemoteFolderAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"remote");
    ASSERT_TRUE(session_.Open(folder_, L"RemoteFolderAccessTest", kLogName));
    code_ = session_.productCode();
    log_ = session_.logPath();
    std::wstring share = PrefixShareFolder();
    for (size_t i = share.find(L'\\', 3); i != std::wstring::npos; i = share.find(L'\\', i + 1))
      CreateDirectoryW(share.substr(0, i).c_str(), nullptr);
    CreateDirectoryW(share.c_str(), nullptr);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"\\\\srv\\share")) << "the prefix maps no share";
  }
  void TearDown() override {
    session_.Close();
    RemoveTree(folder_);
  }
  void Set(const std::wstring& name, const std::wstring& value) {
    MsiSetPropertyW(session_.handle(), name.c_str(), value.c_str());
  }
  void Classify(unsigned type) { InstallerSession::Instance().Classify(InstallTypeToText(type)); }
  // The log's records that this step writes itself.
  std::vector<std::wstring> StepLines() {
    std::vector<std::wstring> lines;
    for (const auto& line : SplitLines(ReadUtf16File(log_))) {
      if (line.rfind(L"   -> ", 0) == 0 || line.rfind(L" - ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  std::wstring folder_, code_, log_;
  TestSession session_;
};

TEST_F(RemoteFolderAccessTest, FirstInstallConnectsUncTargetsOfListedFoldersAndStopsAtTheFirstFailure) {
  Classify(IT_NEWINSTALL);
  Set(L"CD_LOCAL_FOLDERS", L"LOCALDIR;BOTH");
  Set(L"CD_SHARED_FOLDERS", L"SHAREDDIR;BOTH");
  const std::wstring eight = L"a;b;c;LOCALDIR;e;f;\\\\nosuch\\x;h";
  Set(L"RCITEM_0", eight);
  Set(L"RCITEM_1", Item(L"LOCALDIR", L"\\\\srv\\share\\", L"\\\\nosuch\\x"));
  Set(L"RCITEM_2", Item(L"BOTH", L"D:\\drive\\", L"\\\\nosuch\\both"));
  Set(L"RCITEM_3", Item(L"OTHER", L"\\\\nosuch\\o", L"\\\\nosuch\\o"));
  Set(L"RCITEM_4", Item(L"shareddir", L"", L"\\\\nosuch\\case"));
  Set(L"RCITEM_5", Item(L"SHAREDDIR", L"\\\\nosuch\\y", L"\\\\srv\\share"));
  EXPECT_EQ(0u, RemoteFolderAccess(folder_ + L"no-index.xml"));
  // Each item is parsed; only the two listed UNC targets are connected.
  auto lines = StepLines();
  ASSERT_EQ(8u, lines.size());
  EXPECT_EQ(L"   -> Parsing " + eight, lines[0]);
  EXPECT_EQ(L" - Access to \\\\srv\\share\\ successfully established", lines[2]);
  EXPECT_EQ(L" - Access to \\\\srv\\share successfully established", lines[7]);
  EXPECT_EQ(L"", LastNetworkUser()) << "a reachable folder is not connected";

  // An unknown share: the network is unavailable under Wine; later items
  // are not looked at.
  DeleteFileW(log_.c_str());
  Set(L"RCITEM_6", Item(L"SHAREDDIR", L"", L"\\\\nosuch\\share\\"));
  Set(L"RCITEM_7", Item(L"LOCALDIR", L"\\\\srv\\share", L""));
  EXPECT_EQ(1603u, RemoteFolderAccess(folder_ + L"no-index.xml"));
  lines = StepLines();
  ASSERT_EQ(10u, lines.size());
  EXPECT_EQ(L" - Failure to connect to \\\\nosuch\\share\\, error " + NetworkErrorText(1222), lines.back());
  EXPECT_EQ(L"   -> Parsing " + Item(L"SHAREDDIR", L"", L"\\\\nosuch\\share\\"), lines[8]);

  // The entry point logs the same failure and still returns 0.
  EXPECT_EQ(0u, OrvoRemoteFolderAccess(session_.handle()));
  std::wstring text = ReadUtf16File(CombinePath(TempFolder(), L"orvo_Install.log"));
  size_t banner = text.rfind(L"OrvoRemoteFolderAccess()");
  ASSERT_NE(std::wstring::npos, banner);
  EXPECT_NE(std::wstring::npos, text.find(L" - Failure to connect to \\\\nosuch\\share\\, error ERROR_NO_NETWORK", banner));

  // Nothing is read past an empty first item.
  DeleteFileW(log_.c_str());
  Set(L"RCITEM_0", L"");
  EXPECT_EQ(0u, RemoteFolderAccess(folder_ + L"no-index.xml"));
  EXPECT_TRUE(StepLines().empty());
}

TEST_F(RemoteFolderAccessTest, MaintenanceTakesListsAndTargetsFromTheApplicationIndex) {
  std::wstring index = folder_ + L"appIndex.xml";
  WriteFileBytes(index, ToNarrow(L"<DocumentRoot><Product ProductCode=\"" + code_ + L"\"><Properties>"
                                 L"<Property Name=\"CD_LOCAL_FOLDERS\" Data=\"LOCALDIR\"/>"
                                 L"<Property Name=\"CD_SHARED_FOLDERS\" Data=\"SHAREDDIR;GONE;BAD\"/></Properties>"
                                 L"<Directories><Directory Name=\"LOCALDIR\" Data=\"\\\\srv\\share\\\" Flags=\"0\"/>"
                                 L"<Directory Name=\"BAD\" Data=\"\\\\nosuch\\bad\\\" Flags=\"0\"/>"
                                 L"<Directory Name=\"SHAREDDIR\" Data=\"C:\\shared\\\" Flags=\"0\"/></Directories>"
                                 L"<Users/></Product></DocumentRoot>"));
  Classify(IT_REINSTALL);
  // The properties say otherwise; on maintenance they are not read.
  Set(L"CD_LOCAL_FOLDERS", L"SHAREDDIR");
  Set(L"CD_SHARED_FOLDERS", L"");
  Set(L"RCITEM_0", Item(L"LOCALDIR", L"C:\\x\\", L"C:\\x\\"));
  Set(L"RCITEM_1", Item(L"SHAREDDIR", L"\\\\nosuch\\a", L"\\\\nosuch\\a"));
  Set(L"RCITEM_2", Item(L"GONE", L"\\\\nosuch\\b", L"\\\\nosuch\\b"));
  EXPECT_EQ(0u, RemoteFolderAccess(index));
  auto lines = StepLines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(L" - Access to \\\\srv\\share\\ successfully established", lines[1]);

  Set(L"RCITEM_3", Item(L"BAD", L"", L""));
  EXPECT_EQ(1603u, RemoteFolderAccess(index));
  EXPECT_EQ(L" - Failure to connect to \\\\nosuch\\bad\\, error ERROR_NO_NETWORK The network is unavailable.",
            StepLines().back());
  EXPECT_EQ(NetworkErrorText(86), NetworkErrorText(87));
  EXPECT_EQ(L"<unknown error> 1201", NetworkErrorText(1201));
}

// Through msiexec: a share that cannot be reached is logged, and the
// installation goes on.
TEST(RemoteFolderAccessInstallation, AnUnreachableShareDoesNotStopTheInstallation) {
  std::wstring folder = ScratchFolder(L"remote_msi");
  std::wstring log = CombinePath(TempFolder(), L"orvo_Install.log");
  DeleteFileW(log.c_str());
  std::wstring code;
  {
    MsiPackage package(folder + L"remote.msi");
    code = package.productCode();
    package.Property(L"CD_SHARED_FOLDERS", L"SHAREDDIR");
    package.Property(L"RCITEM_0", Item(L"SHAREDDIR", L"", L"\\\\nosuch\\share\\"));
    package.Binary(L"OrvoAction", DllPath());
    package.CustomAction(L"RemoteAccess", 1, L"OrvoAction", L"OrvoRemoteFolderAccess");
    package.StandardSequence();
    package.Sequence(L"RemoteAccess", 1010);
    package.Commit();
  }
  EXPECT_EQ(0u, RunMsiexec(L"/i \"" + folder + L"remote.msi\" /qn"));
  std::wstring text = ReadUtf16File(log);
  EXPECT_NE(std::wstring::npos, text.find(L"OrvoRemoteFolderAccess()")) << "the action did not run";
  EXPECT_NE(std::wstring::npos, text.find(L" - Failure to connect to \\\\nosuch\\share\\, error ERROR_NO_NETWORK"));
  RunMsiexec(L"/x " + code + L" /qn");
  RemoveTree(folder);
}

}  // namespace
