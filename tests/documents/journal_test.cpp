// The journal moves a folder aside whole only when it holds exactly the
// named files, and brings it back on rollback, also file by file when a
// folder stands in its place again.
#include <gtest/gtest.h>

#include "documents/journal.h"
#include "documents/paths.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

TEST(Journal, AFolderMovedAsideWholeComesBack) {
  std::wstring root = ScratchFolder(L"journal"), journals = root + L"Rollback\\", data = root + L"Data\\";
  ASSERT_TRUE(EnsureFolder(data + L"A\\") && EnsureFolder(data + L"B\\") && EnsureFolder(data + L"C\\Sub\\"));
  ASSERT_TRUE(WriteFileBytes(data + L"A\\one.txt", "one") && WriteFileBytes(data + L"A\\Two.txt", "two"));
  ASSERT_TRUE(WriteFileBytes(data + L"B\\one.txt", "one") && WriteFileBytes(data + L"B\\extra.txt", "extra"));
  ASSERT_TRUE(WriteFileBytes(data + L"C\\one.txt", "one"));
  ASSERT_TRUE(Journal::Active().Begin(journals, L"T1"));
  std::wstring aside;
  EXPECT_TRUE(Journal::Active().MoveFolderAside(data + L"A\\", {L"ONE.txt", L"two.TXT"}, aside));
  EXPECT_FALSE(PathExists(data + L"A\\"));
  EXPECT_FALSE(Journal::Active().MoveFolderAside(data + L"B\\", {L"one.txt"}, aside)) << "a file not named";
  EXPECT_FALSE(Journal::Active().MoveFolderAside(data + L"C\\", {L"one.txt"}, aside)) << "a folder inside";
  EXPECT_FALSE(Journal::Active().MoveFolderAside(data + L"B\\", {L"one.txt", L"extra.txt", L"gone.txt"}, aside));
  // Something made the folder again before the rollback.
  ASSERT_TRUE(EnsureFolder(data + L"A\\") && WriteFileBytes(data + L"A\\one.txt", "later"));
  Journal::Active().End();
  EXPECT_EQ(1, RollBackJournals(journals, L"T1"));
  EXPECT_EQ("one", ReadFileBytes(data + L"A\\one.txt"));
  EXPECT_EQ("two", ReadFileBytes(data + L"A\\Two.txt"));
  EXPECT_EQ(2u, ListFolder(data + L"B\\", kListFiles, false).size());
  EXPECT_TRUE(ListFolder(journals, kListAll, false).empty()) << "the rollback forgets the journal";
  RemoveTree(root);
}

}  // namespace
