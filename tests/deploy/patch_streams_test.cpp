// Binary rows of a real package copied into temporary files for the
// deferred patch action, and the list handed over in "orvo_Patch".
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "deploy/patch_streams.h"
#include "documents/text_lists.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class PatchStreamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"patchstreams");
    MsiPackage package(folder_ + L"p.msi");
    package.BinaryBytes(L"a", std::string(3000, 'A'));
    package.BinaryBytes(L"b", "bee");
    package.Commit();
    session_ = OpenPackage(folder_ + L"p.msi");
    ASSERT_TRUE(session_);
    InstallerSession::Instance().Begin(session_.get(), L"PatchStreamsTest", L"orvo_patchstreams_test.log");
    logStart_ = ReadUtf16File(InstallerSession::Instance().logPath()).size();
  }
  void TearDown() override {
    session_.reset();
    RemoveTree(folder_);
  }
  std::wstring Run(const std::wstring& sequence, int expected) {
    MsiSetPropertyW(session_.get(), L"orvo_Patch", L"");
    MsiSetPropertyW(session_.get(), L"ORVO_PATCHSEQUENCE", sequence.c_str());
    EXPECT_EQ(expected, ExtractPatchStreams());
    return InstallerSession::Instance().GetProperty(L"orvo_Patch", true);
  }
  std::wstring NewLog() { return ReadUtf16File(InstallerSession::Instance().logPath()).substr(logStart_); }

  std::wstring folder_;
  size_t logStart_ = 0;
  unique_msihandle session_;
};

TEST_F(PatchStreamsTest, EveryNamedRowIsCopiedAndListed) {
  std::wstring patch = Run(L"a;;b", 1);
  TextList pairs;
  SplitText(patch, L";", pairs, true);
  ASSERT_EQ(2u, pairs.size()) << ToNarrow(patch);
  ASSERT_EQ(0u, pairs[0].rfind(L"a,", 0));
  ASSERT_EQ(0u, pairs[1].rfind(L"b,", 0));
  EXPECT_EQ(std::string(3000, 'A'), ReadFileBytes(pairs[0].substr(2)));
  EXPECT_EQ("bee", ReadFileBytes(pairs[1].substr(2)));
  std::wstring log = NewLog();
  size_t a = log.find(L"  => Extracting stream a to file ");
  size_t empty = log.find(L"   !=> Binary stream  could not be found");
  size_t b = log.find(L"  => Extracting stream b to file ");
  EXPECT_TRUE(a < empty && empty < b && b != std::wstring::npos) << "a, then the empty name, then b";
  EXPECT_EQ(2u, CountOf(log, L"     success"));
}

TEST_F(PatchStreamsTest, TheLatestAttemptDecidesWhetherTheListIsPublished) {
  std::wstring patch = Run(L"a;missing", 1);
  EXPECT_EQ(0u, patch.rfind(L"a,", 0));
  EXPECT_EQ(std::wstring::npos, patch.find(L';')) << "the missing row is not listed";
  EXPECT_NE(std::wstring::npos, NewLog().find(L"   !=> Binary stream missing could not be found"));
  EXPECT_EQ(L"", Run(L"missing", 0)) << "nothing attempted: nothing published";
}

}  // namespace
