// A real installation through msiexec runs the DLL's rollback entry point as
// an immediate and a deferred action; its log records are the proof that
// the DLL loaded and ran (the installer reports a failed load as success).
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

TEST(RollbackEndToEnd, InstallAndRemoveAppendBannersToTheLog) {
  std::wstring folder = ScratchFolder(L"e2e");
  std::wstring msi = folder + L"rollback.msi";
  std::wstring productCode;
  {
    MsiPackage package(msi);
    productCode = package.productCode();
    package.Directory(L"ProgramFilesFolder", L"TARGETDIR", L".");
    package.Directory(L"INSTALLDIR", L"ProgramFilesFolder", L"OrvoRollbackTest");
    package.Feature(L"Main");
    package.Component(L"MainComponent", L"INSTALLDIR");
    package.FeatureComponent(L"Main", L"MainComponent");
    package.Registry(L"Marker", 2, L"Software\\OrvoTests\\Rollback", L"Installed", L"1", L"MainComponent");
    package.Binary(L"OrvoAction", DllPath());
    package.CustomAction(L"OrvoRollbackNow", 1, L"OrvoAction", L"OrvoRollback");
    package.CustomAction(L"OrvoRollbackDeferred", 1 + 1024, L"OrvoAction", L"OrvoRollback");
    package.Property(L"OrvoRollbackDeferred", L"x;;y");
    package.StandardSequence();
    package.Sequence(L"OrvoRollbackNow", 1450);
    package.Sequence(L"OrvoRollbackDeferred", 1550);
    package.Commit();
  }
  std::wstring log = CombinePath(TempFolder(), L"orvo_Install.log");
  DeleteFileW(log.c_str());

  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + msi + L"\" /qn"));
  std::string afterInstall = ReadFileBytes(log);
  ASSERT_GE(afterInstall.size(), 2u) << "the custom actions left no log";
  EXPECT_EQ("\xFF\xFE", afterInstall.substr(0, 2));
  std::wstring text = ReadUtf16File(log);
  EXPECT_EQ(2u, CountOf(text, L"____________\nOrvoRollback()\r\n"));
  auto lines = SplitLines(text);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(L"____________\nOrvoRollback()", lines[0]);
  EXPECT_EQ(0u, lines[1].find(L"  => Run mode: "));
  EXPECT_EQ(std::wstring::npos, lines[1].find(L"MSIRUNMODE_SCHEDULED"));
  // The deferred call: scheduled, not classified, its data from its own property.
  size_t deferred = text.rfind(L"OrvoRollback()");
  std::wstring second = text.substr(deferred);
  EXPECT_NE(std::wstring::npos, second.find(L"MSIRUNMODE_SCHEDULED "));
  EXPECT_EQ(std::wstring::npos, second.find(L"dwInstallType"));
  EXPECT_NE(std::wstring::npos, second.find(L"    => Get: CustomActionData: x;;y\r\n"));
  // Every record ends with CR LF; a lone LF appears only inside the banner.
  EXPECT_EQ(L"\r\n", text.substr(text.size() - 2));
  EXPECT_EQ(CountOf(text, L"\n"), CountOf(text, L"\r\n") + CountOf(text, L"_\nOrvoRollback()"));

  ASSERT_EQ(0u, RunMsiexec(L"/x " + productCode + L" /qn"));
  std::string afterRemove = ReadFileBytes(log);
  ASSERT_GT(afterRemove.size(), afterInstall.size());
  EXPECT_EQ(afterInstall, afterRemove.substr(0, afterInstall.size())) << "removal must append, not rewrite";
  EXPECT_EQ(4u, CountOf(ReadUtf16File(log), L"____________\nOrvoRollback()\r\n"));
  RemoveTree(folder);
}

}  // namespace
