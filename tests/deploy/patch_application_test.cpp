// A patch's cabinet travels from a Binary row of a real package through the
// "orvo_Patch" list into a folder named after its stream in the temporary
// folder; an entry without its comma ends the list.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/patch_application.h"
#include "deploy/patch_streams.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

TEST(PatchApplication, ListedCabinetsAreExtractedUntilAnInvalidEntry) {
  SetExtractDiagnostics(false);
  std::wstring folder = ScratchFolder(L"patchapply");
  std::wstring first = CombinePath(TempFolder(), L"PatchApplyFirst\\");
  std::wstring second = CombinePath(TempFolder(), L"PatchApplySecond\\");
  RemoveTree(first);
  RemoveTree(second);
  ASSERT_TRUE(WriteContentCabinet(folder + L"p.cab", {{L"Fix\\patched.txt", "patched"}}));
  {
    MsiPackage package(folder + L"p.msi");
    package.Binary(L"PatchApplyFirst", folder + L"p.cab");
    package.Property(L"ORVO_PATCHSEQUENCE", L"PatchApplyFirst");
    package.Commit();
  }
  unique_msihandle session = OpenPackage(folder + L"p.msi");
  ASSERT_TRUE(session);
  auto& installer = InstallerSession::Instance();
  installer.Begin(session.get(), L"PatchApplyTest", L"orvo_patchapply_test.log");
  ASSERT_EQ(1, ExtractPatchStreams());
  std::wstring list = installer.GetProperty(L"orvo_Patch", true);

  EXPECT_EQ(0, ApplyPatchStreams(list + L";;no comma;PatchApplySecond," + folder + L"p.cab;"));
  EXPECT_EQ("patched", ReadFileBytes(first + L"Fix\\patched.txt"));
  EXPECT_FALSE(PathExists(second)) << "entries after an invalid one are not looked at";
  EXPECT_NE(std::wstring::npos, ReadUtf16File(installer.logPath()).find(L"   !=> Invalid patch file data\r\n"));
  session.reset();
  RemoveTree(first);
  RemoveTree(folder);
}

}  // namespace
