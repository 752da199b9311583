// OrvoRegistry and OrvoShortcuts through msiexec after OrvoInit and
// OrvoInstall, over a product's life with four Orvos (C supersedes B):
// machine and user registry entries, the user copies of the profiles with
// the user's macro values, a second user reached through the saved hive
// the application index leads to, and the shortcuts.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "registry/registry_key.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/other_users.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kRoot[] = L"Software\\OrvoTests\\RegistryE2E";
const wchar_t kHost[] = L"Software\\OrvoTests\\RegistryE2E\\Host";

bool Exists(HKEY hive, const std::wstring& path) {
  CRegistry key;
  return key.Open(hive, path);
}

class RegistryEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"registry_e2e");
    links_ = media_ + L"Links\\";
    EnsureFolder(links_);
    product_.folderName = L"OrvoRegistryE2E";
    product_.properties = {{L"LINKDIR", links_}, {L"ZIRBHOSTAPPREGROOT", kHost}, {L"VEXADEFAULTPROFILENAME", L"Standard"}};
    product_.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoInstall", L"OrvoRegistry", L"OrvoShortcuts"};
    data_ = ProductFolder(product_) + L"Data\\";
    RemoveTree(ProductFolder(product_));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  }
  void TearDown() override {
    if (!code_.empty()) RunMsiexec(L"/x " + code_ + L" /qn");
    RemoveTree(media_);
    RemoveTree(ProductFolder(product_));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  }

  void WriteMedia() {
    MasterDocumentSpec master;
    for (const wchar_t* name : {L"A", L"B", L"C", L"D"}) {
      std::wstring n = name;
      master.orvos.push_back({n, L"true", L"", L"", n + L"\\" + n + L".xml", L"", L""});
      PackDocumentSpec pack;
      pack.orvoId = n;
      if (n == L"C") pack.supercedes = L"B";
      pack.cabinets = {{L"0", n + L".cab", L"", L"1", L"1", L"ORVODATA", L""}};
      ProfileSpec profile;
      // A brings the default profile, which users keep only when asked to.
      profile.name = n == L"A" ? L"Standard" : L"Prof" + n;
      profile.visible = L"true";
      profile.entries = {{L"Paths", L"Data", L"REG_SZ", L"", L"[ORVODATA]" + n}};
      pack.profiles = {profile};
      pack.registryXml = L"<HKLM Subkey=\"" + std::wstring(kRoot) + L"\\Machine\" Name=\"" + n +
                         L"\" Type=\"REG_SZ\">[ORVODATA]</HKLM><HKCU Subkey=\"" + kHost + L"\\Entries\" Name=\"" + n +
                         L"\" Type=\"REG_SZ\">" + n + L"</HKCU>";
      pack.shortcutsXml = L"<Shortcut Name=\"" + n + L"\" Target=\"[ORVODATA]" + n + L".txt\" TargetDirectory=\"LINKDIR\"/>";
      ASSERT_TRUE(WritePackDocument(media_ + L"Content\\" + n + L"\\" + n + L".xml", pack));
      ASSERT_TRUE(WriteContentCabinet(media_ + L"Content\\" + n + L"\\" + n + L".cab", {{n + L".txt", "x"}}));
    }
    ASSERT_TRUE(WriteMasterDocument(media_ + L"Content\\", master));
  }

  // A second user of the product: a hive with a macro store of its own,
  // where the index's AppDataFolder for that user leads.
  void AddSecondUser() {
    std::wstring home = media_ + L"Users\\second\\";
    const wchar_t seed[] = L"Software\\OrvoTests\\RegistryE2E\\HiveSeed";
    {
      CRegistryWrite macros;
      ASSERT_TRUE(macros.Open(HKEY_CURRENT_USER, std::wstring(seed) + L"\\" + kHost + L"\\struoProfile\\Macros"));
      macros.SetString(L"ORVODATA", L"D:\\Second\\");
    }
    ASSERT_TRUE(SaveHive(seed, home + L"ntuser.dat"));
    ASSERT_TRUE(RecordUser(code_, L"second", {{L"AppDataFolder", home + L"AppData\\Roaming\\"},
                                              {L"LocalAppDataFolder", home + L"AppData\\Local\\"}}));
    secondHive_ = home + L"ntuser.dat";
  }

  std::wstring UserProfile(const std::wstring& profile) {
    return RegistryValue(HKEY_CURRENT_USER, std::wstring(kHost) + L"\\Profiles\\" + profile + L"\\Paths", L"Data");
  }
  std::wstring Entry(HKEY hive, const std::wstring& name) {
    return RegistryValue(hive, hive == HKEY_LOCAL_MACHINE ? std::wstring(kRoot) + L"\\Machine" : std::wstring(kHost) + L"\\Entries",
                name);
  }
  bool Has(HKEY hive, const std::wstring& name) { return Entry(hive, name).compare(0, 3, L"<no") != 0; }
  std::wstring Links() {
    std::wstring names;
    for (const auto& path : ListFolder(links_, kListFiles, false)) names += LastPathComponent(path) + L";";
    return names;
  }
  std::wstring Log() { return ReadUtf16File(CombinePath(TempFolder(), L"orvo_Install.log")); }

  OrvoProduct product_;
  std::wstring media_, links_, data_, code_, secondHive_;
};

TEST_F(RegistryEndToEnd, EveryUserGetsTheChosenOrvosEntriesProfilesAndShortcuts) {
  WriteMedia();
  {
    MsiPackage package(media_ + L"registry.msi");
    code_ = package.productCode();
    AddOrvoProduct(package, product_);
    package.Commit();
  }
  std::wstring msi = L"/i \"" + media_ + L"registry.msi\" /qn ";
  DeleteFileW(CombinePath(TempFolder(), L"orvo_Install.log").c_str());
  ASSERT_EQ(0u, RunMsiexec(msi + L"ORVO_SELECTED=A;B ORVO_SHORTCUT=A;B;C;D"));
  EXPECT_EQ(L"[ORVODATA]", Entry(HKEY_LOCAL_MACHINE, L"A")) << "data is written as the document gives it";
  EXPECT_EQ(L"A", Entry(HKEY_CURRENT_USER, L"A"));
  EXPECT_TRUE(Has(HKEY_CURRENT_USER, L"B") && Has(HKEY_CURRENT_USER, L"C")) << "C comes with B, which it supersedes";
  EXPECT_FALSE(Has(HKEY_CURRENT_USER, L"D") || Has(HKEY_LOCAL_MACHINE, L"D"));
  EXPECT_EQ(data_ + L"B", UserProfile(L"ProfB")) << "the user's macro value put into the user copy";
  EXPECT_EQ(L"<no key>", UserProfile(L"Standard")) << "CREATE_VEXA_PROFILE unset: the default profile is deleted";
  EXPECT_EQ(L"<no key>", UserProfile(L"ProfD"));
  EXPECT_EQ(data_ + L"A", RegistryValue(HKEY_CURRENT_USER, std::wstring(kHost) + L"\\struoProfile\\Default\\Standard\\Paths", L"Data"))
      << "its reset copy stays";
  EXPECT_EQ(L"%ORVODATA%D", RegistryValue(HKEY_LOCAL_MACHINE, std::wstring(kHost) + L"\\Profiles\\ProfD\\Paths", L"Data"))
      << "master copies of every Orvo";
  EXPECT_EQ(L"A.lnk;B.lnk;C.lnk;", Links());
  EXPECT_NE(std::wstring::npos, Log().find(L"  => Secondary install. Will not update other users."));

  // B leaves (C supersedes it), D comes; the second user is reached through the hive.
  AddSecondUser();
  DeleteFileW(CombinePath(TempFolder(), L"orvo_Install.log").c_str());
  ASSERT_EQ(0u, RunMsiexec(msi + L"ORVO_ADDREMOVE=1 ORVO_SELECTED=A;C;D ORVO_SHORTCUT=A;B;C;D "
                                 L"REINSTALL=ALL REINSTALLMODE=os"));
  EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, L"B") || Has(HKEY_CURRENT_USER, L"B")) << "B's entries leave with B";
  EXPECT_EQ(L"D", Entry(HKEY_CURRENT_USER, L"D"));
  EXPECT_EQ(L"[ORVODATA]", Entry(HKEY_LOCAL_MACHINE, L"D"));
  EXPECT_EQ(data_ + L"D", UserProfile(L"ProfD"));
  EXPECT_EQ(data_ + L"B", UserProfile(L"ProfB")) << "a superseded Orvo keeps its users' profiles";
  EXPECT_EQ(L"A.lnk;C.lnk;D.lnk;", Links());
  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"    => B is superceded. Profiles will not be removed."));
  EXPECT_NE(std::wstring::npos, log.find(L"  => Update user: second"));
  EXPECT_NE(std::wstring::npos, log.find(L"   => Updating HKCU from " + secondHive_));
  EXPECT_NE(std::wstring::npos, log.find(L"   => Updating HKCU for " + secondHive_));
  EXPECT_EQ(2u, CountOf(log, L"   => Clone profile: ProfD\r\n")) << "the running user and the second one";
  EXPECT_FALSE(Exists(HKEY_USERS, L"OtherUser")) << "the hive was unloaded";

  DeleteFileW(CombinePath(TempFolder(), L"orvo_Install.log").c_str());
  ASSERT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
  for (const wchar_t* name : {L"A", L"C", L"D"})
    EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, name) || Has(HKEY_CURRENT_USER, name)) << name;
  EXPECT_EQ(L"", Links());
  EXPECT_NE(std::wstring::npos, Log().find(L" => Deleting HKCU for user second"));
}

}  // namespace
