#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "fault_server.h"
#include "media/http_session.h"
#include "media/media_locator.h"
#include "documents/paths.h"
#include "media/sha256.h"
#include "media_support.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring DigestOf(const std::string& bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return FromUtf8(hash.FinishHex());
}

// Each test has a temporary folder, so a temporary media folder, of its own.
class MediaLocatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    HttpSession::SetTimeout(2000);
    RemoveIntranetSetting();
    server_ = new FaultServer;
  }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override {
    root_ = ScratchFolder(L"root");
    log_ = temp_.path() + L"locator.log";
    locator_.SetLogPath(log_);
  }
  void TearDown() override { RemoveTree(root_); }

  std::vector<std::wstring> Log() { return LogLines(log_); }
  int Locate(std::wstring& name, const std::wstring& extraUrl = L"", bool download = true) {
    return locator_.Locate(name, download, L"", extraUrl);
  }
  int Locate(std::wstring& name, const std::wstring& extraUrl, const std::wstring& digest) {
    return locator_.Locate(name, true, L"", extraUrl, digest);
  }
  std::wstring TempMedia() { return temp_.TempMedia(); }

  static FaultServer* server_;
  ScopedTempFolder temp_;
  std::wstring root_;
  std::wstring log_;
  MediaLocator locator_;
};
FaultServer* MediaLocatorTest::server_ = nullptr;

TEST_F(MediaLocatorTest, LocalPlacesAreSearchedInOrderAndSetUpCountsOnce) {
  std::wstring intranet = ScratchFolder(L"intranet");
  std::wstring extra = ScratchFolder(L"extra");
  ScopedIntranetSetting setting(intranet);
  std::wstring late = root_ + L"late\\";
  locator_.SetUp(late, L"");
  locator_.SetUp(root_, L"http://127.0.0.1:1/");
  EXPECT_EQ(late, locator_.mediaRoot());
  EXPECT_TRUE(locator_.remoteFolders().empty());
  EXPECT_EQ(std::vector<std::wstring>{CombinePath(TempFolder(), L"KeltraTempMedia")}, locator_.localFolders());

  // A media root created after set-up is never searched.
  CreateDirectoryW(late.c_str(), nullptr);
  WriteFileBytes(late + L"a.cab", "late");
  WriteFileBytes(intranet + L"a.cab", "intranet");
  WriteFileBytes(extra + L"a.cab", "extra");
  std::wstring name = L"a.cab";
  EXPECT_EQ(1, locator_.Locate(name, false, extra, L""));
  EXPECT_EQ(extra + L"a.cab", name);
  name = L"b.cab";
  WriteFileBytes(intranet + L"b.cab", "intranet");
  EXPECT_EQ(1, locator_.Locate(name, false, extra, L""));
  EXPECT_EQ(intranet + L"b.cab", name);
  std::vector<std::wstring> expected = {L"    => Searched " + TempMedia() + L"a.cab", L"  => Found " + extra + L"a.cab",
                                        L"    => Searched " + TempMedia() + L"b.cab",
                                        L"    => Searched " + extra + L"b.cab", L"  => Found " + intranet + L"b.cab"};
  EXPECT_EQ(expected, Log());

  // A name that exists as given is left alone.
  name = intranet + L"b.cab";
  EXPECT_EQ(1, locator_.Locate(name, false, L"", L""));
  EXPECT_EQ(intranet + L"b.cab", name);
  RemoveTree(intranet);
  RemoveTree(extra);
}

TEST_F(MediaLocatorTest, MediaRootWinsOverTheIntranetFolder) {
  std::wstring intranet = ScratchFolder(L"intranet");
  ScopedIntranetSetting setting(intranet);
  WriteFileBytes(root_ + L"a.cab", "root");
  WriteFileBytes(intranet + L"a.cab", "intranet");
  std::wstring name = L"a.cab";
  EXPECT_EQ(2, Locate(name));  // not set up yet
  locator_.SetUp(root_, L"");
  EXPECT_EQ(1, Locate(name));
  EXPECT_EQ(root_ + L"a.cab", name);
  RemoveTree(intranet);
}

TEST_F(MediaLocatorTest, IntranetSettingMustBeAStringNamingAnExistingPath) {
  std::wstring folder = ScratchFolder(L"intranet");
  std::wstring path;
  EXPECT_FALSE(MediaLocator::IntranetFolder(path));
  {
    ScopedIntranetSetting setting(folder);
    EXPECT_TRUE(MediaLocator::IntranetFolder(path));
    EXPECT_EQ(folder, path);
  }
  {
    ScopedIntranetSetting setting(folder, REG_EXPAND_SZ);
    EXPECT_FALSE(MediaLocator::IntranetFolder(path));
  }
  RemoveTree(folder);
  ScopedIntranetSetting setting(folder);
  EXPECT_FALSE(MediaLocator::IntranetFolder(path));
}

TEST_F(MediaLocatorTest, DownloadsThroughABaseUrlAndFindsTheFileLocallyLater) {
  ASSERT_NE(0, NginxPort()) << "nginx is not running (the media_nginx fixture starts it)";
  locator_.SetUp(root_, NginxUrl(L"/media/"));
  std::wstring name = L"sub\\b.cab";
  EXPECT_EQ(17, Locate(name));
  EXPECT_EQ(TempMedia() + L"sub\\b.cab", name);
  EXPECT_EQ(ReadFileBytes(NginxFile(L"media\\sub\\b.cab")), ReadFileBytes(name));
  EXPECT_EQ(1, CountContaining(Log(), L"  => Found " + NginxUrl(L"/media/sub/b.cab")));
  EXPECT_EQ(0, NginxRequests().back().find("/media/sub/b.cab 200"));
  // Already in the temporary media folder: found there, not downloaded.
  name = L"sub\\b.cab";
  EXPECT_EQ(1, Locate(name));
  EXPECT_EQ(TempMedia() + L"sub\\b.cab", name);

  name = L"big.cab";
  EXPECT_EQ(17, Locate(name));
  EXPECT_TRUE(ReadFileBytes(NginxFile(L"media\\big.cab")) == ReadFileBytes(name));
  EXPECT_EQ(std::vector<std::wstring>({L"big.cab", L"sub"}), FolderEntries(TempMedia()));

  // Without permission, or with no server to ask, nothing is fetched.
  name = L"a.cab";
  EXPECT_EQ(2, Locate(name, L"", false));
  EXPECT_EQ(L"a.cab", name);
}

TEST_F(MediaLocatorTest, OnlyLowerCaseHttpNamesAreUrls) {
  locator_.SetUp(root_, server_->Url("/missing/"));
  std::wstring upper = L"HTTP://127.0.0.1:" + std::to_wstring(server_->port()) + L"/ok/upper.cab";
  std::wstring name = upper;
  EXPECT_EQ(2, Locate(name));
  EXPECT_EQ(0, server_->Requests("/ok/upper.cab"));
  EXPECT_EQ(1, CountContaining(Log(), L"   !=> Cannot download " + upper));

  name = server_->Url("/ok/lower.cab");
  EXPECT_EQ(17, Locate(name));
  EXPECT_EQ(TempMedia() + L"lower.cab", name);
  EXPECT_EQ(FaultServer::Body("/ok/lower.cab"), ReadFileBytes(name));
}

TEST_F(MediaLocatorTest, BaseUrlsAreTriedInOrderAndNamesStayInsideTheFolder) {
  locator_.SetUp(root_, server_->Url("/missing/"));
  std::wstring name = L"first.cab";
  EXPECT_EQ(17, Locate(name, server_->Url("/forbid4/")));
  EXPECT_EQ(FaultServer::Body("/forbid4/first.cab"), ReadFileBytes(name));
  // The download reads the answer the search opened: no second request.
  std::vector<std::string> paths = server_->Paths();
  ASSERT_GE(paths.size(), 6u);
  EXPECT_EQ("/missing/first.cab", paths[paths.size() - 6]);
  EXPECT_EQ(5, server_->Requests("/forbid4/first.cab"));

  size_t asked = server_->Paths().size();
  name = L"..\\escape.cab";
  EXPECT_EQ(2, Locate(name, server_->Url("/ok/")));
  EXPECT_EQ(asked, server_->Paths().size());
}

TEST_F(MediaLocatorTest, BrokenTransfersLeaveNothingBehind) {
  locator_.SetUp(root_, L"");
  for (const char* base : {"/forbid/", "/short/", "/resetbody/", "/stallbody/", "/hugelength/"}) {
    std::wstring name = L"a.cab";
    EXPECT_EQ(2, Locate(name, server_->Url(base))) << base;
    EXPECT_TRUE(FolderEntries(TempMedia()).empty()) << base;
    name = L"a.cab";
    EXPECT_EQ(2, locator_.Locate(name, false, L"", L"")) << base;
  }
  auto log = Log();
  EXPECT_EQ(1, CountContaining(log, L"   !=> 403 when attempt to access /forbid/a.cab"));
  EXPECT_EQ(1, CountContaining(log, L"   !=> Download of " + server_->Url("/short/a.cab") + L" stopped after 100 of 10000 bytes"));
  EXPECT_EQ(2, CountContaining(log, L"stopped after"));
  EXPECT_EQ(1, CountContaining(log, L"   !=> Download of " + server_->Url("/stallbody/a.cab") + L" stalled: no byte for 2 seconds after 100 bytes"));
  // A length no byte count can be checked against is no length to trust.
  EXPECT_EQ(1, CountContaining(log, L"   !=> Download of " + server_->Url("/hugelength/a.cab") + L" refused: "));
}

TEST_F(MediaLocatorTest, FileThatCannotBeCreatedGives64) {
  locator_.SetUp(root_, server_->Url("/ok/"));
  WriteFileBytes(CombinePath(TempFolder(), L"KeltraTempMedia"), "a file where the folder should be");
  std::wstring name = L"c.cab";
  EXPECT_EQ(64, Locate(name));
  EXPECT_EQ(TempMedia() + L"c.cab", name);
}

}  // namespace

namespace {

// Each fault a server can put into a download, with the cabinet's digest
// known: what Locate answers, what it logs, what is left, what was asked.
TEST_F(MediaLocatorTest, FaultyTransfersAreRefusedResumedOrRestarted) {
  struct Case {
    const char* base;
    int result;
    const wchar_t* logged;
    int requests;
    bool rangeAsked;
  };
  const Case cases[] = {
      {"/nolength/", 3, L"has SHA-256 ", 1, false},
      {"/wrongbytes/", 3, L"has SHA-256 ", 1, false},
      {"/stallbody/", 2, L"stalled: no byte for 1 seconds after 100 bytes", 1, false},
      {"/trickle/", 2, L"ended by its deadline of 3 seconds after ", 1, false},
      {"/range/", 17, L"resumed at byte 4", 2, true},
      {"/norange/", 17, L"ignored the range: starting again", 2, true},
  };
  locator_.SetUp(root_, L"");
  locator_.SetTransferLimits(3, 1);
  int row = 0;
  for (const Case& c : cases) {
    std::string file = "row" + std::to_string(++row) + ".cab";
    std::string path = std::string(c.base) + file;
    std::string body = FaultServer::Body(path);
    std::wstring name = FromUtf8(file);
    DWORD start = GetTickCount();
    size_t logged = Log().size();
    EXPECT_EQ(c.result, Locate(name, server_->Url(c.base), DigestOf(body))) << c.base;
    EXPECT_LT(GetTickCount() - start, 8000u) << c.base;
    auto lines = Log();
    lines.erase(lines.begin(), lines.begin() + logged);
    EXPECT_EQ(1, CountContaining(lines, c.logged)) << c.base;
    EXPECT_EQ(c.requests, server_->Requests(path)) << c.base;
    auto ranges = server_->Ranges(path);
    EXPECT_EQ(c.rangeAsked, ranges.size() == 2 && ranges[1] == "bytes=" + std::to_string(body.size() / 2) + "-")
        << c.base;
    if (c.result == 17) {
      EXPECT_EQ(TempMedia() + FromUtf8(file), name) << c.base;
      EXPECT_TRUE(body == ReadFileBytes(name)) << c.base;
    } else {
      // Neither the bad bytes nor a partial file stay behind.
      EXPECT_EQ(FromUtf8(file), name) << c.base;
      EXPECT_TRUE(FolderEntries(TempMedia()).empty()) << c.base;
    }
  }
  // A server whose copy is refused is passed over for the next.
  MediaLocator other;
  other.SetLogPath(log_);
  other.SetUp(root_, server_->Url("/wrongbytes/"));
  std::string body = FaultServer::Body("/ok/next.cab");
  std::wstring name = L"next.cab";
  EXPECT_EQ(17, other.Locate(name, true, L"", server_->Url("/ok/"), DigestOf(body)));
  EXPECT_EQ(1, server_->Requests("/wrongbytes/next.cab"));
  EXPECT_TRUE(body == ReadFileBytes(name));
}

TEST_F(MediaLocatorTest, LocalCopiesWithAnotherDigestArePassedOverAndDownloadsDeleted) {
  std::wstring intranet = ScratchFolder(L"intranet");
  ScopedIntranetSetting setting(intranet);
  locator_.SetUp(root_, L"");
  const std::string right = "the cabinet its author made";
  WriteFileBytes(root_ + L"a.cab", "another cabinet");
  CreateDirectoryW(TempMedia().c_str(), nullptr);
  WriteFileBytes(TempMedia() + L"a.cab", "an altered download");
  WriteFileBytes(intranet + L"a.cab", right);
  std::wstring name = L"a.cab";
  EXPECT_EQ(1, Locate(name, L"", DigestOf(right)));
  EXPECT_EQ(intranet + L"a.cab", name);
  EXPECT_FALSE(PathExists(TempMedia() + L"a.cab"));
  EXPECT_TRUE(PathExists(root_ + L"a.cab"));
  auto log = Log();
  EXPECT_EQ(1, CountContaining(log, L"   !=> " + root_ + L"a.cab has SHA-256 " + DigestOf("another cabinet") +
                                        L", not the recorded " + DigestOf(right) + L": not used"));
  EXPECT_EQ(2, CountContaining(log, L": not used"));

  // Without a right copy anywhere: 3, the name unchanged.
  name = L"a.cab";
  EXPECT_EQ(3, Locate(name, L"", DigestOf("nothing here")));
  EXPECT_EQ(L"a.cab", name);
  RemoveTree(intranet);
}

}  // namespace
