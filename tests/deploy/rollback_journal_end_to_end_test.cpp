// Installations that fail after the file actions roll back through
// msiexec: a first installation leaves no Orvo file and puts back a file it
// replaced, a removal puts back every file with its bytes and attributes
// and the reference document as it was (folders moved aside whole, and file
// by file beside a user's file); a rollback killed half-way is completed by
// the next run.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

// Every file below the folder with its bytes and attributes.
std::map<std::wstring, std::string> Snapshot(const std::wstring& folder) {
  std::map<std::wstring, std::string> found;
  if (!PathExists(folder)) return found;
  for (const auto& path : ListFolder(folder, kListFiles, true))
    found[path] = ReadFileBytes(path) + "|" + std::to_string(GetFileAttributesW(path.c_str()) & 0x7);
  return found;
}

}  // namespace

TEST(RollbackJournalEndToEnd, FailedInstallationsRepairsAndRemovalsLeaveTheMachineAsItWas) {
  std::wstring media = ScratchFolder(L"journal_e2e");
  OrvoProduct product;
  product.folderName = L"OrvoJournalE2E";
  product.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRollback", L"OrvoRemove",     L"OrvoInstall",
                         L"FailAfterFiles", L"OrvoCleanup", L"AppIndexUninstall"};
  std::wstring data = DataFolder(product);
  std::wstring reference = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\Jrn_ref.xml");
  std::wstring journals = ProductFolder(product) + L"Orvos\\Rollback\\";
  RemoveTree(ProductFolder(product));
  DeleteFileW(reference.c_str());

  std::map<std::wstring, std::string> files;
  for (int i = 0; i < 2000; ++i)
    files[L"D" + std::to_wstring(i % 20) + L"\\f" + std::to_wstring(i) + L".txt"] = std::string(300, char('a' + i % 26));
  MasterDocumentSpec masterSpec;
  masterSpec.orvos.push_back({L"Jrn", L"true", L"", L"", L"Jrn\\Jrn.xml", L"", L""});
  ASSERT_TRUE(WriteMasterDocument(media + L"Content\\", masterSpec));
  PackDocumentSpec pack;
  pack.orvoId = L"Jrn";
  pack.cabinets = {{L"0", L"Jrn.cab", L"", L"600000", L"2000", L"ORVODATA", L""}};
  ASSERT_TRUE(WritePackDocument(media + L"Content\\Jrn\\Jrn.xml", pack));
  ASSERT_TRUE(WriteContentCabinet(media + L"Content\\Jrn\\Jrn.cab", files));
  std::wstring code, msi = L"\"" + media + L"journal.msi\"";
  {
    MsiPackage package(media + L"journal.msi");
    code = package.productCode();
    AddOrvoProduct(package, product);
    package.Commit();
  }

  // A first installation that fails, over a file the user had put there:
  // that file comes back as it was, nothing else stays.
  std::wstring planted = data + L"D1\\f1.txt";
  ASSERT_TRUE(EnsureFolder(ParentFolder(planted)));
  ASSERT_TRUE(WriteFileBytes(planted, "the user's own text"));
  SetFileAttributesW(planted.c_str(), FILE_ATTRIBUTE_READONLY);
  std::map<std::wstring, std::string> before = Snapshot(data);
  EXPECT_EQ(1603u, RunMsiexec(L"/i " + msi + L" /qn ORVO_SELECTED=Jrn ORVO_TEST_FAIL=1"));
  EXPECT_TRUE(before == Snapshot(data)) << "a rolled-back installation left files or lost the user's";
  EXPECT_FALSE(FileExists(reference));

  ASSERT_EQ(0u, RunMsiexec(L"/i " + msi + L" /qn ORVO_SELECTED=Jrn"));
  ASSERT_EQ(2000u, Snapshot(data).size());
  EXPECT_FALSE(PathExists(journals) && !ListFolder(journals, kListAll, false).empty())
      << "a committed installation keeps nothing aside";
  std::wstring readOnly = data + L"D2\\f2.txt";
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  // A folder that also holds the user's own file is not moved aside whole.
  std::wstring notes = data + L"D3\\notes.txt";
  ASSERT_TRUE(WriteFileBytes(notes, "the user's notes"));
  std::map<std::wstring, std::string> installed = Snapshot(data);
  std::string referenceBefore = ReadFileBytes(reference);

  // What a rollback killed half-way leaves: a journal of another
  // transaction whose rollback had begun, ten files still aside, one already
  // moved back. The next run completes that rollback before its own work.
  std::wstring aside = journals + L"0123456789ABCDEF0123456789ABCDEF-1.aside\\";
  ASSERT_TRUE(EnsureFolder(aside));
  std::string lines;
  for (int i = 0; i < 11; ++i) {
    std::wstring file = data + L"D" + std::to_wstring(i) + L"\\f" + std::to_wstring(i) + L".txt";
    std::wstring kept = aside + std::to_wstring(i);
    if (i < 10) ASSERT_TRUE(MoveFileW(file.c_str(), kept.c_str()));
    lines += "M\t" + ToNarrow(file) + "\t" + ToNarrow(kept) + "\r\n";
  }
  ASSERT_TRUE(WriteFileBytes(journals + L"0123456789ABCDEF0123456789ABCDEF-1.journal", lines + "R\t\r\nM\tcut"));
  // That run is a removal that fails: every file back, bytes and attributes,
  // those of the interrupted rollback too.
  EXPECT_EQ(1603u, RunMsiexec(L"/x " + code + L" /qn ORVO_TEST_FAIL=1"));
  EXPECT_TRUE(installed == Snapshot(data)) << "a rolled-back removal lost files";
  EXPECT_EQ(referenceBefore, ReadFileBytes(reference));
  EXPECT_NE(std::wstring::npos, ReadUtf16File(CombinePath(TempFolder(), L"orvo_Install.log"))
                                    .find(L"Completing the interrupted rollback"));
  // Wine does not roll back its own unregistration of the product: it is
  // installed again before the last removal.
  if (MsiQueryProductStateW(code.c_str()) != INSTALLSTATE_DEFAULT)
    EXPECT_EQ(0u, RunMsiexec(L"/i " + msi + L" /qn ORVO_SELECTED=Jrn"));
  EXPECT_EQ(0u, RunMsiexec(L"/x " + code + L" /qn"));
  std::map<std::wstring, std::string> left = Snapshot(data);
  EXPECT_TRUE(left.size() == 1 && left.count(notes)) << "the removal left files or took the user's";
  EXPECT_FALSE(FileExists(reference));
  EXPECT_FALSE(PathExists(journals)) << "the removal leaves no journal";
  RemoveTree(media);
}
