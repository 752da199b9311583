// OrvoRegistry through a real session: raw entries in three hives and the
// catalogue registrations, for the running user, the machine and a second
// user whose saved hive is loaded, over install, new-user, secondary,
// removal and complete-removal runs.
#include "entry/entry_points.h"
#include "registry/registry_steps.h"

#include <gtest/gtest.h>

#include "action/frame.h"
#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "documents/paths.h"
#include "registry/profiles.h"
#include "registry/registry_key.h"
#include "registry/resource_string.h"
#include "registry/user_hives.h"
#include "support/media_tree.h"
#include "support/msi_package.h"
#include "support/other_users.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kRoot[] = L"Software\\OrvoTests\\RegistryRoot";
const wchar_t kSeed[] = L"Software\\OrvoTests\\RegistrySeed";
const wchar_t kRaw[] = L"Software\\OrvoRegX\\Y";
const wchar_t kClasses[] = L"OrvoTests.RegistryEntry";
const wchar_t kKeynotes[] =
    L"Software\\Orvo Tests\\OrvoRegistryTest\\V\\C\\STRUO\\9.7\\StruoRcpBase34\\Databases\\Keynotes";
const wchar_t kComponents[] =
    L"Software\\Orvo Tests\\OrvoRegistryTest\\V\\C\\STRUO\\9.7\\StruoRcpBase34\\Databases\\Components";
const wchar_t kCatalogs[] = L"Software\\Keltra\\Keltra Brovia\\97\\RegisteredCatalogs";
const wchar_t kGroups[] = L"Software\\Keltra\\Keltra Brovia\\97\\RegisteredGroups";

class OrvoRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"orvoregistry");
    {
      MsiPackage package(folder_ + L"p.msi");
      code_ = package.productCode();
      for (const auto& [name, value] :
           std::vector<std::pair<std::wstring, std::wstring>>{{L"ZIRBHOSTAPPREGROOT", kRoot},
                                                              {L"_ORVOGUID", L"_T"},
                                                              {L"orvo_CloneProfiles_T", folder_ + L"Orvos\\master.xml"},
                                                              {L"SUBY", L"Y"},
                                                              {L"RAWNAME", L"One"},
                                                              {L"SUFFIX", L"One"},
                                                              {L"LEVEL", L"5"},
                                                              {L"CatalogFolder", L"C:\\PropCat\\"},
                                                              {L"INSTALLDIR", folder_},
                                                              {L"VEXAREGPRODUCTNAME", L"OrvoRegistryTest"},
                                                              {L"VEXAVERSION", L"V"},
                                                              {L"VEXACOOKIE", L"C"},
                                                              {L"StruoModMajor", L"9"},
                                                              {L"StruoModMinor", L"7"},
                                                              {L"StruoObjMajor", L"3"},
                                                              {L"StruoObjMinor", L"4"}}) {
        package.Property(name, value);
      }
      package.Commit();
    }
    session_ = OpenPackage(folder_ + L"p.msi");
    ASSERT_TRUE(session_);
    Set(L"VersionNT", L"601");
    log_ = CombinePath(TempFolder(), L"orvo_Install.log");
    DeleteFileW(log_.c_str());
    CleanRegistry();
  }
  void TearDown() override {
    CleanRegistry();
    AppIndex index;
    if (index.Open()) index.RemoveProduct(code_);
    session_.reset();
    RemoveTree(folder_);
  }
  void CleanRegistry() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\OrvoRegX");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\OrvoRegB");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClasses);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Orvo Tests\\OrvoRegistryTest");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Keltra\\Keltra Brovia\\97");
  }
  void Set(const std::wstring& name, const std::wstring& value) {
    MsiSetPropertyW(session_.get(), name.c_str(), value.c_str());
  }
  void Master(const std::wstring& action, const std::wstring& installed) {
    MasterDocumentSpec master;
    master.mediaRoot = folder_ + L"media\\";
    master.extra = {{L"OrvoInstallRoot", folder_ + L"Orvos\\"}, {L"MasterDocumentFolder", folder_ + L"media\\"}};
    master.orvos = {{L"A", L"true", action, installed, L"A\\A.xml"}, {L"B", L"true", L"", L"false", L"B\\B.xml"}};
    ASSERT_TRUE(WriteMasterDocument(folder_ + L"Orvos\\", master));
  }
  // The log written since the previous call.
  std::wstring FreshLog() {
    std::wstring log = ReadUtf16File(log_);
    std::wstring fresh = log.substr(std::min(seen_, log.size()));
    seen_ = log.size();
    return fresh;
  }
  std::wstring Run() {
    EXPECT_EQ(0u, OrvoRegistry(session_.get()));
    return FreshLog();
  }
  // The entry point's steps, reading the probes in the second user's hive
  // while it stands for HKEY_CURRENT_USER (a hive's changes need not reach
  // its file on every system).
  std::wstring RunObserved(const std::vector<std::pair<std::wstring, std::wstring>>& probes,
                           std::vector<std::wstring>& other) {
    other.clear();
    Frame frame(session_.get(), L"OrvoRegistry");
    XmlDocument master;
    EXPECT_TRUE(master.Load(folder_ + L"Orvos\\master.xml"));
    OrvoCatalog orvos;
    orvos.Load(master, false);
    EXPECT_EQ(0, RunRegistrySteps(orvos, CloneProfiles, [&](const std::wstring& user) {
                if (user != L"Other") return;
                for (const auto& [path, name] : probes) other.push_back(RegistryValue(HKEY_CURRENT_USER, path, name));
              }));
    return FreshLog();
  }
  void SaveOtherHive() {
    hive_ = folder_ + L"Users\\Other\\ntuser.dat";
    RegDeleteTreeW(HKEY_CURRENT_USER, kSeed);
    {
      CRegistryWrite branch, sibling, settings, catalog;
      ASSERT_TRUE(branch.Open(HKEY_CURRENT_USER, std::wstring(kSeed) + L"\\" + kRoot + L"\\Keep"));
      branch.SetString(L"K", L"k");
      ASSERT_TRUE(settings.Open(HKEY_CURRENT_USER, std::wstring(kSeed) + L"\\" + kRoot + L"\\Settings"));
      settings.SetDword(L"Color", 3);
      ASSERT_TRUE(catalog.Open(HKEY_CURRENT_USER, std::wstring(kSeed) + L"\\" + kCatalogs + L"\\CatOne"));
      catalog.SetString(L"Url", L"seeded");
      ASSERT_TRUE(sibling.Open(HKEY_CURRENT_USER, std::wstring(kSeed) + L"\\Software\\OrvoTests\\Sibling"));
      sibling.SetString(L"S", L"s");
    }
    ASSERT_TRUE(SaveHive(kSeed, hive_));
  }
  void IndexUsers() {
    if (!FileExists(AppIndexPath())) ASSERT_TRUE(WriteResourceFile(kEmptyAppIndex, AppIndexPath()));
    InstallerSession::Instance().Begin(session_.get(), L"IndexUsers", L"orvo_Install.log");
    {
      AppIndex index;
      ASSERT_TRUE(index.WriteProduct());
    }
    for (const std::wstring& user : TextList{L"Other", CurrentUserName()}) {
      std::vector<std::pair<std::wstring, std::wstring>> folders{
          {L"AppDataFolder", folder_ + L"Users\\" + user + L"\\AppData\\Roaming\\"}};
      if (user == L"Other") folders.push_back({L"CatalogFolder", L"D:\\OtherCat\\"});
      ASSERT_TRUE(RecordUser(code_, user, folders));
    }
  }

  std::wstring folder_, code_, log_, hive_;
  size_t seen_ = 0;
  unique_msihandle session_;
};

TEST_F(OrvoRegistryTest, EntriesReachEachHiveOnceAndLeaveAgainWithoutTakingMoreThanTheirOwn) {
  std::wstring catalog = folder_ + L"cat\\a.xml";
  PackDocumentSpec a;
  a.registryXml =
      L"<HKLM Subkey=\"Software\\OrvoRegX\\[SUBY]\" Name=\"Val[RAWNAME]\" Type=\"REG_SZ\">[INSTALLDIR]Support</HKLM>"
      L"<HKLM Subkey=\"\" Name=\"Bad\" Type=\"REG_SZ\">x</HKLM>"
      L"<Group><HKCR Subkey=\"OrvoTests.RegistryEntry\\Shell\" Name=\"\" Type=\"REG_SZ\">open</HKCR></Group>"
      L"<HKCU Subkey=\"" +
      std::wstring(kRoot) +
      L"\\Settings\" Name=\"Color\" Type=\"REG_DWORD\">0x10</HKCU>"
      L"<DetailsKeynotesDb Fingerprint=\"KN1\">[CatalogFolder]kn.db"
      L"<AdditionalValue Type=\"REG_DWORD\" Name=\"Level\">[LEVEL]</AdditionalValue></DetailsKeynotesDb>"
      L"<DetailsComponentsDb Fingerprint=\"\">C:\\nowhere</DetailsComponentsDb>"
      L"<DetailsComponentsDb Fingerprint=\"CM1\">C:\\comp\\</DetailsComponentsDb>"
      L"<BroviaCatalog Key=\"Cat[SUFFIX]\">[CatalogFolder]x.xml</BroviaCatalog>"
      L"<BroviaCatalog Key=\"Auto\" AutoRegister=\"true\" Type=\"0\" GroupType=\"G7\">" +
      EscapeXml(catalog) +
      L"</BroviaCatalog>"
      L"<BroviaGroup Key=\"Grp\" Guid=\"{0A}\">Group Name</BroviaGroup>";
  ASSERT_TRUE(WritePackDocument(folder_ + L"media\\A\\A.xml", a));
  PackDocumentSpec b;
  b.registryXml = L"<HKLM Subkey=\"Software\\OrvoRegB\" Name=\"B\" Type=\"REG_SZ\">b</HKLM>";
  ASSERT_TRUE(WritePackDocument(folder_ + L"media\\B\\B.xml", b));
  EnsureFolder(folder_ + L"cat\\");
  ASSERT_TRUE(WriteFileBytes(catalog,
                             "<Catalog><ItemID idValue=\"ID-7\"/><Properties>"
                             "<ItemName src=\"bin\\res.dll\" resource=\"101\"/>"
                             "<Description src=\"bin\\res.dll\" resource=\"101\">Own text</Description>"
                             "<Images><Set><Image src=\".\\img\\a.png\"/></Set></Images></Properties>"
                             "<Source><ParentDocument><Url href=\"..\\cover.htm\"/></ParentDocument>"
                             "<Publisher><PublisherName>Pub</PublisherName></Publisher></Source></Catalog>"));
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  EnsureFolder(folder_ + L"bin\\");
  ASSERT_TRUE(CopyFileW(program, (folder_ + L"bin\\res.dll").c_str(), FALSE));
  SaveOtherHive();
  IndexUsers();
  std::wstring me = CurrentUserName();

  // A failing profile step keeps the registry step from running.
  Master(L"install", L"false");
  Set(L"Installed", L"1");
  Set(L"ORVO_ADDREMOVE", L"1");
  {
    InstallerSession::Instance().Begin(session_.get(), L"Steps", L"orvo_Install.log");
    XmlDocument master;
    ASSERT_TRUE(master.Load(folder_ + L"Orvos\\master.xml"));
    OrvoCatalog orvos;
    orvos.Load(master, false);
    EXPECT_EQ(1603, RunRegistrySteps(orvos, [](OrvoCatalog&) { return 1603; }));
    EXPECT_EQ(L"<no key>", RegistryValue(HKEY_LOCAL_MACHINE, kRaw, L"ValOne"));
    EXPECT_NE(std::wstring::npos, ReadUtf16File(log_).find(L"!=> cloneprofiles returning 1603\r\n"));
  }

  std::wstring log = Run();
  EXPECT_NE(std::wstring::npos, log.find(L"dwInstallType: IT_REINSTALL | IT_ADDREMOVE")) << log;
  EXPECT_EQ(L"[INSTALLDIR]Support", RegistryValue(HKEY_LOCAL_MACHINE, kRaw, L"ValOne")) << "data as written";
  EXPECT_EQ(L"open", RegistryValue(HKEY_CLASSES_ROOT, std::wstring(kClasses) + L"\\Shell", L""));
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_LOCAL_MACHINE, L"Software\\OrvoRegB", L"B")) << "B takes no part";
  EXPECT_EQ(1u, CountOf(log, L"   => Processing A raw registry entries\r\n"));
  EXPECT_EQ(1u, CountOf(log, L"   !=> Refused the key \"\" of a HKLM entry"));
  EXPECT_EQ(L"#16", RegistryValue(HKEY_CURRENT_USER, std::wstring(kRoot) + L"\\Settings", L"Color"));
  EXPECT_EQ(L"C:\\PropCat\\kn.db", RegistryValue(HKEY_CURRENT_USER, std::wstring(kKeynotes) + L"\\KN1", L"DatabaseLocation"));
  EXPECT_EQ(L"#5", RegistryValue(HKEY_CURRENT_USER, std::wstring(kKeynotes) + L"\\KN1", L"Level"));
  EXPECT_EQ(L"C:\\comp\\", RegistryValue(HKEY_CURRENT_USER, std::wstring(kComponents) + L"\\CM1", L"DatabaseLocation"));
  EXPECT_EQ(L"<no value>", RegistryValue(HKEY_CURRENT_USER, kComponents, L"DatabaseLocation")) << "an empty name is refused";
  std::wstring cat = std::wstring(kCatalogs) + L"\\CatOne";
  EXPECT_EQ(L"C:\\PropCat\\x.xml", RegistryValue(HKEY_CURRENT_USER, cat, L"Url"));
  EXPECT_EQ(L"", RegistryValue(HKEY_CURRENT_USER, cat, L"GroupID"));
  EXPECT_EQ(L"#2", RegistryValue(HKEY_CURRENT_USER, cat, L"Type"));
  std::wstring autoKey = std::wstring(kCatalogs) + L"\\Auto";
  EXPECT_EQ(catalog, RegistryValue(HKEY_CURRENT_USER, autoKey, L"Url"));
  EXPECT_EQ(L"<no value>", RegistryValue(HKEY_CURRENT_USER, autoKey, L"Type")) << "type 0 is not written";
  EXPECT_EQ(L"G7", RegistryValue(HKEY_CURRENT_USER, autoKey, L"GroupID"));
  EXPECT_EQ(L"ID-7", RegistryValue(HKEY_CURRENT_USER, autoKey, L"ItemID"));
  EXPECT_EQ(L"Catalog name from a resource", RegistryValue(HKEY_CURRENT_USER, autoKey, L"DisplayName"));
  EXPECT_EQ(L"Catalog name from a resource", RegistryValue(HKEY_CURRENT_USER, autoKey, L"ToolTip"));
  EXPECT_EQ(L"Own text", RegistryValue(HKEY_CURRENT_USER, autoKey, L"Description"));
  EXPECT_EQ(folder_ + L"cat\\img\\a.png", RegistryValue(HKEY_CURRENT_USER, autoKey, L"Image"));
  EXPECT_EQ(folder_ + L"cat\\cover.htm", RegistryValue(HKEY_CURRENT_USER, autoKey, L"CoverPage"));
  EXPECT_EQ(L"Pub", RegistryValue(HKEY_CURRENT_USER, autoKey, L"Publisher"));
  EXPECT_NE(std::wstring::npos, log.find(L"        => Result: Catalog name from a resource\r\n"));
  EXPECT_EQ(L"Group Name", RegistryValue(HKEY_CURRENT_USER, std::wstring(kGroups) + L"\\Grp", L"ItemName"));
  EXPECT_EQ(L"{0A}", RegistryValue(HKEY_CURRENT_USER, std::wstring(kGroups) + L"\\Grp", L"ItemID"));

  // The second user gets the per-user entries in that user's own hive,
  // with that user's folders; the running user's keys stay as they were.
  const std::vector<std::pair<std::wstring, std::wstring>> probes = {
      {std::wstring(kRoot) + L"\\Settings", L"Color"},
      {std::wstring(kKeynotes) + L"\\KN1", L"DatabaseLocation"},
      {cat, L"Url"},
      {std::wstring(kRoot) + L"\\Keep", L"K"},
      {L"Software\\OrvoTests\\Sibling", L"S"}};
  std::vector<std::wstring> other;
  log = RunObserved(probes, other);
  EXPECT_EQ((std::vector<std::wstring>{L"#16", L"D:\\OtherCat\\kn.db", L"D:\\OtherCat\\x.xml", L"k", L"s"}), other);
  EXPECT_EQ(1u, CountOf(log, L"   => Processing A raw registry entries for Other\r\n"));
  EXPECT_EQ(1u, CountOf(log, L"   => Processing A raw registry entries for " + me + L"\r\n"));
  EXPECT_EQ(1u, CountOf(log, L"   => Processing A raw registry entries\r\n"));
  EXPECT_EQ(L"C:\\PropCat\\x.xml", RegistryValue(HKEY_CURRENT_USER, cat, L"Url"));

  // A new user, or a second user's installation, leaves the machine's keys alone.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\OrvoRegX");
  Set(L"ORVO_ADDREMOVE", L"");
  Set(L"THISUSERHASNOTRUNTHEPRODUTCYET", L"1");
  log = Run();
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_LOCAL_MACHINE, kRaw, L"ValOne"));
  EXPECT_NE(std::wstring::npos, log.find(L"  => Complete\r\n"));
  EXPECT_EQ(0u, CountOf(log, L"Update user:"));
  Set(L"THISUSERHASNOTRUNTHEPRODUTCYET", L"");
  Set(L"VEXA_SECONDARY_INSTALL", L"1");
  log = Run();
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_LOCAL_MACHINE, kRaw, L"ValOne"));
  EXPECT_EQ(0u, CountOf(log, L"raw registry entries")) << "A is not installed yet";
  Set(L"VEXA_SECONDARY_INSTALL", L"");

  // Removal: values go, emptied keys with them, never the top level.
  Set(L"ORVO_ADDREMOVE", L"1");
  Run();
  Master(L"remove", L"true");
  log = RunObserved(probes, other);
  EXPECT_EQ((std::vector<std::wstring>{L"<no key>", L"<no key>", L"<no key>", L"k", L"s"}), other);
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_LOCAL_MACHINE, L"Software\\OrvoRegX", L""));
  EXPECT_NE(L"<no key>", RegistryValue(HKEY_LOCAL_MACHINE, L"Software", L""));
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_CLASSES_ROOT, std::wstring(kClasses) + L"\\Shell", L""));
  EXPECT_EQ(L"<no value>", RegistryValue(HKEY_CLASSES_ROOT, kClasses, L"")) << "the first level stays";
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_CURRENT_USER, std::wstring(kRoot) + L"\\Settings", L"Color"));
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_CURRENT_USER, std::wstring(kKeynotes) + L"\\KN1", L"DatabaseLocation"));
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_CURRENT_USER, autoKey, L"Url"));
  EXPECT_EQ(L"<no key>", RegistryValue(HKEY_CURRENT_USER, std::wstring(kGroups) + L"\\Grp", L"ItemName"));
  EXPECT_NE(std::wstring::npos, log.find(L"      => Unregistered Keynote database KN1, C:\\PropCat\\kn.db\r\n"));
  EXPECT_NE(std::wstring::npos, log.find(L"      => Removed Group Name Brovia group\r\n"));

  // A complete removal touches no registration; a one-name root is refused,
  // a proper one takes the other user's branch and nothing beside it.
  Master(L"install", L"false");
  Run();
  Master(L"remove", L"true");
  Set(L"ORVO_ADDREMOVE", L"");
  Set(L"REMOVE", L"ALL");
  Set(L"ZIRBHOSTAPPREGROOT", L"Software\\");
  log = RunObserved(probes, other);
  EXPECT_NE(std::wstring::npos, log.find(L"IT_UNINSTALL")) << log;
  EXPECT_EQ(0u, CountOf(log, L"Processing A registry entries"));
  EXPECT_EQ(L"C:\\PropCat\\x.xml", RegistryValue(HKEY_CURRENT_USER, cat, L"Url"));
  ASSERT_EQ(5u, other.size());
  EXPECT_EQ(L"<no key>", other[0]) << "raw entries do go";
  EXPECT_NE(L"<no key>", other[2]) << "registrations stay";
  EXPECT_EQ(L"k", other[3]) << "a one-name root is refused";
  EXPECT_NE(std::wstring::npos, log.find(L" => Deleting HKCU for user Other\r\n"));
  EXPECT_NE(std::wstring::npos, log.find(L" !=> Refused to delete HKCU\\Software\\ for user Other"));
  Set(L"ZIRBHOSTAPPREGROOT", kRoot);
  log = RunObserved(probes, other);
  ASSERT_EQ(5u, other.size());
  EXPECT_EQ(L"<no key>", other[3]) << "the product's branch goes";
  EXPECT_NE(L"<no key>", other[2]) << "a registration outside the branch stays";
  EXPECT_EQ(L"s", other[4]) << "the branch's parent keeps its other keys";
  EXPECT_EQ(0u, CountOf(log, L"Refused to delete"));
  EXPECT_NE(L"<no key>", RegistryValue(HKEY_CURRENT_USER, kCatalogs, L"")) << "the running user keeps its branch";

  // A resource file named outside the installation folder is not read.
  XmlDocument escaping;
  WriteFileBytes(folder_ + L"e.xml", "<ItemName src=\"..\\bin\\res.dll\" resource=\"101\"/>");
  ASSERT_TRUE(escaping.Load(folder_ + L"e.xml"));
  EXPECT_EQ(L"", ResourceString(escaping.root()));
}

}  // namespace
