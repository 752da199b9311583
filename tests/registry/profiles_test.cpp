// User copies of profiles built from the machine's master copies, for the
// running user and, through their saved hives, for other users.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "registry/profiles.h"
#include "registry/registry_key.h"
#include "registry/user_hives.h"
#include "catalog/orvo_model.h"
#include "support/media_tree.h"
#include "support/test_session.h"
#include "support/other_users.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kRoot[] = L"Software\\OrvoTests\\Profiles";
const wchar_t kSeed[] = L"Software\\OrvoTests\\HiveSeed";

bool Exists(HKEY hive, const std::wstring& path) {
  CRegistry key;
  return key.Open(hive, path);
}

// A hive file with a macro store holding ROOT, or with no store at all.
void MakeHive(const std::wstring& file, const std::wstring& macroRoot) {
  {
    CRegistryWrite key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, std::wstring(kSeed) + L"\\" +
                                                (macroRoot.empty() ? std::wstring(L"Software\\Other")
                                                                   : std::wstring(kRoot) + L"\\struoProfile\\Macros")));
    if (!macroRoot.empty()) key.SetString(L"ROOT", macroRoot);
  }
  ASSERT_TRUE(SaveHive(kSeed, file));
}

class Profiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"profiles");
    ASSERT_TRUE(session_.Open(folder_, L"Profiles", L"orvo_profiles_test.log",
                              {{L"ZIRBHOSTAPPREGROOT", kRoot}, {L"ROOT", L"C:\\Mine"}}));
    code_ = session_.productCode();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    AppIndex index;
    if (index.Open()) index.RemoveProduct(code_);
    session_.Close();
    RemoveTree(folder_);
  }
  void Master(const std::wstring& profile, const std::wstring& name, const std::wstring& text) {
    CRegistryWrite key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, std::wstring(kRoot) + L"\\Profiles\\" + profile));
    key.SetString(name, text);
  }
  std::wstring Log() { return session_.Log(); }

  std::wstring folder_, code_;
  TestSession session_;
};

TEST_F(Profiles, UserCopiesTakeBasesInOrderThenTheProfileAndKeepTheirFirstBackup) {
  std::wstring user = std::wstring(kRoot) + L"\\Profiles\\P";
  std::wstring backup = std::wstring(kRoot) + L"\\struoProfile\\Default\\P";
  Master(L"A", L"V", L"a");
  Master(L"A", L"FromBases", L"a");
  Master(L"B", L"FromBases", L"b");
  Master(L"Q", L"Unrelated", L"q");
  Master(L"P", L"BaseData", L"A;;B;Missing;");
  Master(L"P", L"V", L"p");
  Master(L"P", L"Path", L"%ROOT%\\Tools");
  {
    CRegistryWrite p;
    ASSERT_TRUE(p.Open(HKEY_LOCAL_MACHINE, std::wstring(kRoot) + L"\\Profiles\\P"));
    p.SetDword(L"Path.ProfileEntryFlags", 1);
    CRegistryWrite mine;
    ASSERT_TRUE(mine.Open(HKEY_CURRENT_USER, user));
    mine.SetString(L"Path", L"C:\\Own");
    mine.SetString(L"OnlyMine", L"kept");
  }
  TextList search{L"%ROOT%"}, replace{L"C:\\Data"};
  EXPECT_TRUE(CloneProfile(L"P", search, replace));
  EXPECT_EQ(L"p", RegistryValue(HKEY_CURRENT_USER, user, L"V")) << "the profile's own data wins over its bases";
  EXPECT_EQ(L"b", RegistryValue(HKEY_CURRENT_USER, user, L"FromBases")) << "a later base wins over an earlier one";
  EXPECT_EQ(L"C:\\Own;C:\\Data\\Tools", RegistryValue(HKEY_CURRENT_USER, user, L"Path"));
  EXPECT_EQ(L"kept", RegistryValue(HKEY_CURRENT_USER, user, L"OnlyMine"));
  EXPECT_EQ(L"A;;B;Missing;", RegistryValue(HKEY_CURRENT_USER, user, L"BaseData"));
  EXPECT_EQ(L"<no value>", RegistryValue(HKEY_CURRENT_USER, user, L"Unrelated")) << "an empty base name copies nothing";
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, user + L"\\Q"));
  EXPECT_EQ(L"p", RegistryValue(HKEY_CURRENT_USER, backup, L"V"));

  Master(L"P", L"V", L"p2");
  EXPECT_TRUE(CloneProfile(L"P", search, replace));
  EXPECT_EQ(L"p2", RegistryValue(HKEY_CURRENT_USER, user, L"V"));
  EXPECT_EQ(L"p", RegistryValue(HKEY_CURRENT_USER, backup, L"V")) << "a reset copy is made once";
  std::wstring log = Log();
  EXPECT_EQ(1u, CountOf(log, L"    => Creating backup for profile reset of P\r\n"));
  EXPECT_EQ(1u, CountOf(log, L"    => Backup for profile reset of P already exists\r\n"));

  EXPECT_TRUE(DeleteProfile(L"P"));
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, user));
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, backup)) << "the reset copy of a deleted profile stays";
  EXPECT_TRUE(DeleteProfile(L""));
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, std::wstring(kRoot) + L"\\Profiles")) << "an empty name deletes nothing";
  EXPECT_TRUE(CloneProfile(L"Absent", search, replace));
  EXPECT_NE(std::wstring::npos, Log().find(L"  !=> Failed to open source profile key Absent"));
}

TEST_F(Profiles, OtherUsersAreReachedThroughTheirHivesOneAtATime) {
  Master(L"P", L"Where", L"%ROOT%\\Tools");
  std::wstring users = folder_ + L"Users\\";
  MakeHive(users + L"Other\\ntuser.dat", L"D:\\Other");
  MakeHive(users + L"bare\\ntuser.dat", L"");
  MakeHive(users + L"zeta\\ntuser.dat", L"E:\\Zeta");
  if (!FileExists(AppIndexPath())) ASSERT_TRUE(WriteResourceFile(kEmptyAppIndex, AppIndexPath()));
  {
    AppIndex index;
    ASSERT_TRUE(index.WriteProduct());
  }
  for (const std::wstring& user : TextList{L"Other", L"bare", L"gone", L"zeta", CurrentUserName()})
    ASSERT_TRUE(RecordUser(code_, user, {{L"AppDataFolder", users + user + L"\\AppData\\Roaming\\"}}));
  session_.Set(L"VersionNT", L"501");
  UserHiveTable downlevel = UserTable(code_);
  EXPECT_EQ(users + L"Other\\AppData\\ntuser.dat", downlevel[L"Other"]);
  session_.Set(L"VersionNT", L"601");
  UserHiveTable table = UserTable(code_);
  ASSERT_EQ(5u, table.size());
  EXPECT_EQ(users + L"Other\\ntuser.dat", table[L"Other"]);

  TextList reached, written;
  OtherUserPass(
      table,
      [&](const std::wstring& user) {
        reached.push_back(user);
        TextList search, replace;
        if (!LoadMacroTable(search, replace)) {
          InstallerSession::Instance().Log(L"  !=> Macros not defined for user %s", user);
          return;
        }
        CloneProfile(L"P", search, replace);
        // Written into the loaded hive, not the running user's.
        written.push_back(RegistryValue(HKEY_USERS, L"OtherUser\\" + std::wstring(kRoot) + L"\\Profiles\\P", L"Where"));
      },
      L"   => Updating HKCU from %s");
  EXPECT_EQ((TextList{L"Other", L"bare", L"zeta"}), reached);
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, std::wstring(kRoot) + L"\\Profiles\\P")) << "the running user untouched";
  EXPECT_FALSE(Exists(HKEY_USERS, L"OtherUser")) << "the last hive was unloaded";
  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L" !=> Failed to access " + users + L"gone\\ntuser.dat for user gone"));
  EXPECT_NE(std::wstring::npos, log.find(L"  !=> Macros not defined for user bare"));
  EXPECT_NE(std::wstring::npos, log.find(L"   => Updating HKCU from " + users + L"zeta\\ntuser.dat"));

  EXPECT_EQ((TextList{L"D:\\Other\\Tools", L"E:\\Zeta\\Tools"}), written);
}

TEST_F(Profiles, MasterCopiesAreWrittenOnceUnlessPatchedOrSuperseded) {
  Orvo orvo;
  orvo.name = L"Pack";
  orvo.packDocumentPath = folder_ + L"Pack.xml";
  PackDocumentSpec pack;
  ProfileSpec profile;
  profile.name = L"[ProfileName]";
  profile.visible = L"True";
  profile.inheritance = L"A;[BASE]";
  profile.entries = {{L"", L"Hex", L"REG_DWORD", L"", L"0x1F"},
                     {L"Sizes", L"Size", L"REG_DWORD", L"", L"[SIZE]"},
                     {L"", L"Path", L"REG_SZ", L"9", L"[ROOT]\\Tools"}};
  pack.profiles = {profile};
  ASSERT_TRUE(WritePackDocument(orvo.packDocumentPath, pack));
  session_.Set(L"ProfileName", L"Work");
  session_.Set(L"BASE", L"B");
  std::wstring key = std::wstring(kRoot) + L"\\Profiles\\Work";
  auto dword = [&](const std::wstring& path, const std::wstring& name) {
    CRegistry reader;
    reader.Open(HKEY_LOCAL_MACHINE, path);
    return reader.GetDword(name);
  };

  MacroSet macros;
  CreateMachineProfiles(orvo, macros, false);
  EXPECT_EQ(L"A;B", RegistryValue(HKEY_LOCAL_MACHINE, key, L"BaseData"));
  EXPECT_EQ(31u, dword(key, L"Hex"));
  EXPECT_EQ(L"%SIZE%", RegistryValue(HKEY_LOCAL_MACHINE, key + L"\\Sizes", L"Size")) << "not a number: kept as text";
  EXPECT_EQ(L"%ROOT%\\Tools", RegistryValue(HKEY_LOCAL_MACHINE, key, L"Path"));
  EXPECT_EQ(9u, dword(key, L"Path.ProfileEntryFlags"));
  EXPECT_EQ((MacroSet{L"ROOT", L"SIZE"}), macros);
  EXPECT_NE(std::wstring::npos,
            Log().find(L" !=> Error: Work profile key Sizes, value Size, data %SIZE% listed as type REG_DWORD. "
                       L"Setting type to REG_SZ!"));
  ASSERT_TRUE(orvo.packDocument.Load(orvo.packDocumentPath));
  TextList visible;
  orvo.VisibleProfiles(visible);
  EXPECT_TRUE(visible.empty()) << "Visible is compared exactly";

  // A repair leaves the master copy; a patch or a superseding Orvo writes it again.
  Master(L"Work", L"Path", L"changed");
  session_.Type(IT_REINSTALL | IT_REPAIRFIL);
  CreateMachineProfiles(orvo, macros, false);
  EXPECT_EQ(L"changed", RegistryValue(HKEY_LOCAL_MACHINE, key, L"Path"));
  EXPECT_NE(std::wstring::npos, Log().find(L"Work already exists."));
  CreateMachineProfiles(orvo, macros, true);
  EXPECT_EQ(L"%ROOT%\\Tools", RegistryValue(HKEY_LOCAL_MACHINE, key, L"Path"));
  Master(L"Work", L"Path", L"changed");
  Master(L"Work", L"OnlyHere", L"kept");
  session_.Type(IT_PATCH);
  CreateMachineProfiles(orvo, macros, false);
  EXPECT_EQ(L"%ROOT%\\Tools", RegistryValue(HKEY_LOCAL_MACHINE, key, L"Path"));
  EXPECT_EQ(L"kept", RegistryValue(HKEY_LOCAL_MACHINE, key, L"OnlyHere")) << "rewritten in place, nothing removed";
}

TEST_F(Profiles, MacroStoresKeepNonEmptyTextsInAChangeOfContent) {
  std::wstring store = std::wstring(kRoot) + L"\\struoProfile\\Macros";
  session_.Set(L"COLOR", L"blue");
  session_.Set(L"SHAPE", L"round");
  {
    CRegistryWrite existing;
    ASSERT_TRUE(existing.Open(HKEY_LOCAL_MACHINE, store));
    existing.SetString(L"COLOR", L"red");
    existing.SetString(L"SHAPE", L"");
    existing.SetDword(L"NUMBER", 4);
  }
  session_.Type(IT_ADDREMOVE);
  EXPECT_TRUE(StoreMacros(HKEY_LOCAL_MACHINE, {L"COLOR", L"SHAPE", L"ROOT"}));
  EXPECT_EQ(L"red", RegistryValue(HKEY_LOCAL_MACHINE, store, L"COLOR"));
  EXPECT_EQ(L"round", RegistryValue(HKEY_LOCAL_MACHINE, store, L"SHAPE"));
  EXPECT_EQ(L"C:\\Mine", RegistryValue(HKEY_LOCAL_MACHINE, store, L"ROOT"));

  // The user's store takes the running installation's values of the
  // machine store's string names.
  InitUserMacros();
  TextList search, replace;
  ASSERT_TRUE(LoadMacroTable(search, replace));
  EXPECT_EQ((TextList{L"%COLOR%", L"%ROOT%", L"%SHAPE%"}), search);
  EXPECT_EQ((TextList{L"blue", L"C:\\Mine", L"round"}), replace);
  EXPECT_EQ(L"    !=> Error not defined", LogSystemError(0));
  EXPECT_EQ(std::wstring::npos, Log().find(L"Error not defined"));
}

}  // namespace
