// OrvoPatch through msiexec: OrvoInit copies the cabinets named in
// ORVO_PATCHSEQUENCE out of the package's Binary table and lists them in
// orvo_Patch; the deferred action extracts each into a folder named after
// its stream in the temporary folder.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "documents/journal.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

TEST(PatchEndToEnd, BothListedCabinetsAreExtracted) {
  std::wstring media = ScratchFolder(L"patch_e2e");
  std::wstring one = CombinePath(TempFolder(), L"PatchE2EOne\\"), two = CombinePath(TempFolder(), L"PatchE2ETwo\\");
  RemoveTree(one);
  RemoveTree(two);
  MasterDocumentSpec master;
  master.orvos.push_back({L"P", L"true", L"", L"", L"P\\P.xml", L"", L""});
  ASSERT_TRUE(WriteMasterDocument(media + L"Content\\", master));
  PackDocumentSpec pack;
  pack.orvoId = L"P";
  ASSERT_TRUE(WritePackDocument(media + L"Content\\P\\P.xml", pack));
  ASSERT_TRUE(WriteContentCabinet(media + L"one.cab", {{L"Fix\\one.txt", "first fix"}}));
  ASSERT_TRUE(WriteContentCabinet(media + L"two.cab", {{L"two.txt", "second fix"}, {L"Deep\\Er\\x.txt", "x"}}));

  OrvoProduct product;
  product.folderName = L"OrvoPatchE2E";
  product.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRollback", L"FailAfterFiles"};
  product.properties = {{L"ORVO_PATCHSEQUENCE", L"PatchE2EOne;PatchE2ETwo"}};
  std::wstring code;
  {
    MsiPackage package(media + L"patch.msi");
    code = package.productCode();
    AddOrvoProduct(package, product);
    package.Binary(L"PatchE2EOne", media + L"one.cab");
    package.Binary(L"PatchE2ETwo", media + L"two.cab");
    // Deferred: its CustomActionData is the list OrvoInit made.
    package.CustomAction(L"orvo_Patch", 1 + 1024, L"OrvoAction", L"OrvoPatch");
    package.Sequence(L"orvo_Patch", 4150, L"ORVO_PATCHSEQUENCE AND NOT REMOVE=\"ALL\"");
    package.Commit();
  }
  // A failed installation takes the extraction back: the file it replaced
  // returns, the new ones and their folders go.
  ASSERT_TRUE(EnsureFolder(two) && WriteFileBytes(two + L"two.txt", "before"));
  EXPECT_EQ(1603u, RunMsiexec(L"/i \"" + media + L"patch.msi\" /qn ORVO_TEST_FAIL=1"));
  EXPECT_FALSE(FileExists(one + L"Fix\\one.txt"));
  EXPECT_FALSE(PathExists(one));
  EXPECT_EQ("before", ReadFileBytes(two + L"two.txt"));
  EXPECT_FALSE(PathExists(two + L"Deep"));

  EXPECT_EQ(0u, RunMsiexec(L"/i \"" + media + L"patch.msi\" /qn"));
  EXPECT_EQ("first fix", ReadFileBytes(one + L"Fix\\one.txt"));
  EXPECT_EQ("second fix", ReadFileBytes(two + L"two.txt"));
  EXPECT_EQ("x", ReadFileBytes(two + L"Deep\\Er\\x.txt"));
  EXPECT_FALSE(FileExists(two + L"IndexFile.dat")) << "the index is not content";
  EXPECT_TRUE(FindFiles(PatchJournalFolder(), L"*", false).empty()) << "the commit forgets the journal";

  RunMsiexec(L"/x " + code + L" /qn");
  RemoveTree(one);
  RemoveTree(two);
  RemoveTree(media);
  RemoveTree(ProductFolder(product));
}

}  // namespace
