#include <gtest/gtest.h>

#include <sstream>

#include "fault_server.h"
#include "media/http_session.h"
#include "media_support.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class HttpSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    HttpSession::SetTimeout(2000);
    server_ = new FaultServer;
  }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override { log_ = UniqueTempPath(L"http_log"); }
  void TearDown() override { DeleteFileW(log_.c_str()); }

  std::string ReadBody(HttpSession& session) {
    std::string body;
    char block[4096];
    DWORD got = 0;
    while (session.ReadBlock(block, sizeof(block), got) && got > 0) body.append(block, got);
    return body;
  }

  static FaultServer* server_;
  std::wstring log_;
};
FaultServer* HttpSessionTest::server_ = nullptr;

TEST_F(HttpSessionTest, SplitKeepsPortAndSchemeAndRefusesOverlongParts) {
  HttpSession session(log_);
  ASSERT_TRUE(session.SplitUrl(L"http://127.0.0.1:8080/media/a.cab?v=2"));
  EXPECT_EQ(L"127.0.0.1", session.host());
  EXPECT_EQ(L"/media/a.cab", session.path());
  EXPECT_EQ(8080, session.port());
  ASSERT_TRUE(session.SplitUrl(L"https://media.example.test/a.cab"));
  EXPECT_EQ(443, session.port());
  EXPECT_TRUE(session.secure());
  ASSERT_TRUE(session.SplitUrl(L"http://media.example.test/a.cab"));
  EXPECT_EQ(80, session.port());
  EXPECT_FALSE(session.SplitUrl(L"not a url"));

  std::wstring longest = L"/ok/" + std::wstring(251, L'n');  // 255 characters
  EXPECT_TRUE(session.SplitUrl(server_->Url("") + longest));
  EXPECT_FALSE(session.SplitUrl(server_->Url("") + longest + L"n"));
  EXPECT_FALSE(session.SplitUrl(L"http://" + std::wstring(300, L'h') + L"/a.cab"));

  EXPECT_FALSE(session.Open(server_->Url("") + longest + L"n"));
  EXPECT_EQ(1, CountContaining(LogLines(log_), L"   !=> Cannot use http://127.0.0.1:"));
  EXPECT_EQ(0, server_->Requests(ToNarrow(longest + L"n")));
}

TEST_F(HttpSessionTest, ForbiddenIsRetriedSevenTimesThenFails) {
  HttpSession session(log_);
  ASSERT_TRUE(session.Open(server_->Url("/forbid4/a.cab")));
  EXPECT_EQ(5, server_->Requests("/forbid4/a.cab"));
  EXPECT_EQ(3, session.retriesLeft());
  std::string expected = FaultServer::Body("/forbid4/a.cab");
  EXPECT_EQ(int64_t(expected.size()), session.ContentLength());
  EXPECT_EQ(expected, ReadBody(session));
  // The open URL is reused without a new request.
  EXPECT_TRUE(session.Open(server_->Url("/forbid4/a.cab")));
  EXPECT_EQ(5, server_->Requests("/forbid4/a.cab"));

  // A persistent 403 uses up the three retries this session has left...
  EXPECT_FALSE(session.Open(server_->Url("/forbid/a.cab")));
  EXPECT_EQ(4, server_->Requests("/forbid/a.cab"));
  EXPECT_EQ(0, session.retriesLeft());
  EXPECT_EQ(L"", session.openUrl());
  EXPECT_EQ(1, CountContaining(LogLines(log_), L"   !=> 403 when attempt to access /forbid/a.cab"));
  // ...and a fresh one all seven; neither counts as opened.
  HttpSession fresh(log_);
  EXPECT_FALSE(fresh.Open(server_->Url("/forbid/b.cab")));
  EXPECT_EQ(8, server_->Requests("/forbid/b.cab"));
  EXPECT_FALSE(HttpSession(log_).Open(server_->Url("/forbid/b.cab")));
  EXPECT_EQ(8, server_->Requests("/forbid/b.cab"));
}

TEST_F(HttpSessionTest, FailedUrlsAndHostsAreNeverAskedAgain) {
  std::wstring missing = server_->Url("/missing/a.cab");
  EXPECT_FALSE(HttpSession(log_).Open(missing));
  EXPECT_FALSE(HttpSession(log_).Open(missing));
  EXPECT_EQ(1, server_->Requests("/missing/a.cab"));
  EXPECT_TRUE(HttpSession::IsFailedServer(missing));
  EXPECT_EQ(1, CountContaining(LogLines(log_), L"   !=> 404 when attempt to access /missing/a.cab"));

  std::wstring host = L"orvo-absent-" + std::to_wstring(GetCurrentProcessId()) + L".invalid";
  EXPECT_FALSE(HttpSession(log_).Open(L"http://" + host + L"/a.cab"));
  EXPECT_FALSE(HttpSession(log_).Open(L"http://" + host + L"/other/b.cab"));
  EXPECT_TRUE(HttpSession::IsFailedServer(host));
  EXPECT_EQ(1, CountContaining(LogLines(log_), L"   !=> Could not resolve " + host + L". Adding to Failed Server list"));
}

TEST_F(HttpSessionTest, ResetAndStalledServersFailWithinTheTimeout) {
  EXPECT_FALSE(HttpSession(log_).Open(server_->Url("/reset/a.cab")));
  DWORD start = GetTickCount();
  EXPECT_FALSE(HttpSession(log_).Open(server_->Url("/stall/a.cab")));
  EXPECT_LT(GetTickCount() - start, 15000u);
  EXPECT_EQ(1, server_->Requests("/reset/a.cab"));
  EXPECT_TRUE(HttpSession::IsFailedServer(server_->Url("/stall/a.cab")));
  EXPECT_EQ(2, CountContaining(LogLines(log_), L"when attempt to access http://127.0.0.1:"));
}

TEST_F(HttpSessionTest, HttpsSpeaksTlsToThePortTheUrlGives) {
  EXPECT_FALSE(HttpSession(log_).Open(L"https://127.0.0.1:" + std::to_wstring(server_->port()) + L"/tls/a.cab"));
  auto raw = server_->RawStarts();
  ASSERT_FALSE(raw.empty());
  EXPECT_EQ(0x16, raw.back()[0]);  // a TLS handshake record
  EXPECT_EQ(0, server_->Requests("/tls/a.cab"));
}

TEST_F(HttpSessionTest, ReadsWholeBodiesFromNginxOverOneConnection) {
  ASSERT_NE(0, NginxPort()) << "nginx is not running (the media_nginx fixture starts it)";
  for (const wchar_t* name : {L"pack.xml", L"a.cab"}) {
    HttpSession session(log_);
    ASSERT_TRUE(session.Open(NginxUrl(std::wstring(L"/media/") + name)));
    std::string expected = ReadFileBytes(NginxFile(std::wstring(L"media\\") + name));
    EXPECT_EQ(int64_t(expected.size()), session.ContentLength());
    EXPECT_EQ(expected, ReadBody(session));
  }
  // Both sessions went over the same kept-alive connection.
  auto requests = NginxRequests();
  ASSERT_GE(requests.size(), 2u);
  std::istringstream first(requests[requests.size() - 2]), second(requests.back());
  std::string uri1, status1, connection1, number1, uri2, status2, connection2, number2;
  first >> uri1 >> status1 >> connection1 >> number1;
  second >> uri2 >> status2 >> connection2 >> number2;
  EXPECT_EQ("/media/a.cab", uri2);
  EXPECT_EQ(connection1, connection2);
  EXPECT_EQ(std::stoi(number1) + 1, std::stoi(number2));
}

}  // namespace
