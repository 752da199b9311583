// OrvoRemove and OrvoCleanup through msiexec: a product installs an Orvo
// (AppIndexWrite, OrvoInit, the deferred OrvoInstall), then its complete
// removal runs the deferred OrvoRemove with its hand-over data and
// OrvoCleanup after the script, and leaves neither content, nor reference
// document, nor the machine-wide profile keys.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "registry/registry_key.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kRoot[] = L"Software\\OrvoTests\\RemoveE2E";

bool KeyExists(const std::wstring& path) {
  CRegistry key;
  return key.Open(HKEY_LOCAL_MACHINE, path);
}

class OrvoRemoveEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"orvoremove_media");
    product_.folderName = L"OrvoRemoveE2E";
    product_.properties = {{L"ZIRBHOSTAPPREGROOT", kRoot}, {L"VEXADEFAULTPROFILENAME", L"Standard"}};
    product_.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoInstall"};
    installDir_ = ProductFolder(product_);
    reference_ = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\RemE2E_ref.xml");
    Clean();
  }
  void TearDown() override {
    if (!code_.empty()) RunMsiexec(L"/x " + code_ + L" /qn");
    Clean();
    RemoveTree(media_);
  }
  void Clean() {
    RemoveTree(installDir_);
    DeleteFileW(reference_.c_str());
    DeleteFileW(AppIndexPath().c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
  }

  std::wstring media_, installDir_, reference_, code_;
  OrvoProduct product_;
};

TEST_F(OrvoRemoveEndToEnd, ACompleteRemovalLeavesNothingBehind) {
  MasterDocumentSpec master;
  master.orvos.push_back({L"RemE2E", L"true", L"", L"", L"Packs\\R\\R.xml", L"", L""});
  ASSERT_TRUE(WriteMasterDocument(media_ + L"Content\\", master));
  PackDocumentSpec pack;
  pack.orvoId = L"R";
  pack.cabinets = {{L"0", L"R.cab", L"", L"10", L"2", L"ORVODATA", L""}};
  ProfileSpec profile;
  profile.name = L"ProfR";
  profile.visible = L"true";
  profile.entries = {{L"Paths", L"Data", L"REG_SZ", L"", L"[ORVODATA]"}};
  pack.profiles = {profile};
  ASSERT_TRUE(WritePackDocument(media_ + L"Content\\Packs\\R\\R.xml", pack));
  ASSERT_TRUE(WriteContentCabinet(media_ + L"Content\\Packs\\R\\R.cab", {{L"top.txt", "t"}, {L"Sub\\Deeper\\deep.txt", "d"}}));
  {
    MsiPackage package(media_ + L"orvoremove.msi");
    code_ = package.productCode();
    AddOrvoProduct(package, product_);
    // Deferred: its CustomActionData is the property of its own name.
    package.CustomAction(L"orvo_Remove_E2E", 1 + 1024, L"OrvoAction", L"OrvoRemove");
    package.Sequence(L"orvo_Remove_E2E", 4090);
    package.CustomAction(L"Cleanup", 1, L"OrvoAction", L"OrvoCleanup");
    package.Sequence(L"Cleanup", 6630);
    package.Commit();
  }
  std::wstring data = installDir_ + L"Data\\";
  std::wstring log = CombinePath(TempFolder(), L"orvo_Install.log");

  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"orvoremove.msi\" /qn ORVO_SELECTED=RemE2E"));
  ASSERT_EQ("d", ReadFileBytes(data + L"Sub\\Deeper\\deep.txt"));
  ASSERT_TRUE(FileExists(reference_));
  ASSERT_TRUE(KeyExists(std::wstring(kRoot) + L"\\Profiles\\ProfR"));
  ASSERT_TRUE(KeyExists(std::wstring(kRoot) + L"\\struoProfile"));

  DeleteFileW(log.c_str());
  ASSERT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
  std::wstring text = ReadUtf16File(log);
  EXPECT_NE(std::wstring::npos, text.find(L" => Uninstalling RemE2E\r\n"));
  EXPECT_NE(std::wstring::npos, text.find(L" => 4000 ticks added to progress bar\r\n"));
  EXPECT_NE(std::wstring::npos, text.find(L" => OrvoRemove complete\r\n"));
  EXPECT_NE(std::wstring::npos, text.find(L"  => Clean up HKLM\r\n"));
  EXPECT_FALSE(PathExists(installDir_)) << "content, the Orvos folder and the emptied folders all went";
  EXPECT_FALSE(FileExists(reference_));
  EXPECT_FALSE(KeyExists(std::wstring(kRoot) + L"\\Profiles"));
  EXPECT_FALSE(KeyExists(std::wstring(kRoot) + L"\\struoProfile"));
}

}  // namespace
