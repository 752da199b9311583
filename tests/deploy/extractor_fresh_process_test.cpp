// A program of its own: the stored-name map lives as long as the process,
// so only a fresh process shows what a cabinet without an index does.
#include <gtest/gtest.h>
#include <windows.h>

#include "cab_writer.h"
#include "deploy/cabinet_extractor.h"
#include "support/test_files.h"

using namespace orvo::test;

TEST(FreshProcessExtraction, CabinetWithoutIndexFileExtractsNothingAndSucceeds) {
  ASSERT_TRUE(orvo::ExtractIndexMap().empty());
  std::wstring scratch = ScratchFolder(L"fresh");
  std::wstring cabinet = scratch + L"plain.cab";
  {
    orvo::cab::CabinetWriter writer(ToNarrow(cabinet));
    ASSERT_TRUE(writer.StartFolder(orvo::cab::Compression::Lzx(16)));
    for (const char* name : {"a.txt", "dir\\b.txt"}) {
      orvo::cab::FileEntry entry{name};
      ASSERT_TRUE(writer.AddFile(entry, "content", 7)) << writer.error();
    }
    ASSERT_TRUE(writer.Finish()) << writer.error();
  }
  std::wstring target = scratch + L"target\\";
  // The default handler: it only prints.
  EXPECT_EQ(1, orvo::ExtractCabinet(cabinet, target));
  EXPECT_FALSE(FileExists(target));
  EXPECT_FALSE(FileExists(scratch + L"a.txt"));
  EXPECT_FALSE(FileExists(scratch + L"dir"));
  RemoveTree(scratch);
}
