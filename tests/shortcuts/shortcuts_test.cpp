// Shortcuts of hand-built Orvos through a real session and the real shell
// link object: what the pack documents describe, what is created and
// deleted, and the shortcut list in the application index.
#include <gtest/gtest.h>
#include <shobjidl.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "shortcuts/com_owner.h"
#include "shortcuts/configure_shortcuts.h"
#include "shortcuts/shell_link.h"
#include "shortcuts/shortcut_reader.h"
#include "support/msi_package.h"
#include "support/test_files.h"
#include "support/test_session.h"

extern "C" UINT __stdcall OrvoShortcuts(MSIHANDLE handle);

using namespace orvo;
using namespace orvo::test;

namespace {

// What a .lnk file holds, read back through the shell link object:
// target|arguments|working folder|description|icon,index.
std::wstring ReadLink(const std::wstring& path) {
  ComApartment apartment;
  ComPointer<IShellLinkW> link;
  ComPointer<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.put())) || FAILED(file->Load(path.c_str(), STGM_READ)))
    return L"cannot read " + path;
  wchar_t target[MAX_PATH] = {0}, arguments[MAX_PATH] = {0}, folder[MAX_PATH] = {0}, text[MAX_PATH] = {0},
          icon[MAX_PATH] = {0};
  int index = -1;
  link->GetPath(target, MAX_PATH, nullptr, 0);
  link->GetArguments(arguments, MAX_PATH);
  link->GetWorkingDirectory(folder, MAX_PATH);
  link->GetDescription(text, MAX_PATH);
  link->GetIconLocation(icon, MAX_PATH, &index);
  return std::wstring(target) + L"|" + arguments + L"|" + folder + L"|" + text + L"|" + icon + L"," +
         std::to_wstring(index);
}

class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"shortcuts");
    ASSERT_TRUE(session_.Open(folder_, L"ShortcutsTest", L"orvo_shortcuts_test.log"));
    code_ = session_.productCode();
    log_ = session_.logPath();
    links_ = folder_ + L"links\\";
    desk_ = folder_ + L"desk\\";
    CreateDirectoryW(links_.c_str(), nullptr);
    CreateDirectoryW(desk_.c_str(), nullptr);
    Set(L"LINKDIR", links_);
    Set(L"DesktopFolder", desk_);
    Set(L"WORKDIR", L"C:\\work\\");
  }
  void TearDown() override {
    session_.Close();
    RemoveTree(folder_);
  }
  void Set(const std::wstring& name, const std::wstring& value) {
    MsiSetPropertyW(session_.handle(), name.c_str(), value.c_str());
  }
  Orvo& Add(OrvoCatalog& catalog, const std::wstring& name, int request, int current, const std::wstring& shortcuts) {
    auto orvo = std::make_unique<Orvo>();
    orvo->name = name;
    orvo->request = request;
    orvo->current = current;
    std::wstring path = folder_ + name + L".xml";
    WriteFileBytes(path, ToNarrow(L"<Pack><Shortcuts>" + shortcuts + L"</Shortcuts></Pack>"));
    EXPECT_TRUE(orvo->packDocument.Load(path));
    Orvo& result = *orvo;
    catalog.orvos()[name] = std::move(orvo);
    return result;
  }
  std::wstring Link(const std::wstring& name, const std::wstring& target, const std::wstring& more = L"") {
    return L"<Shortcut Name=\"" + name + L"\" Target=\"" + target + L"\" TargetDirectory=\"LINKDIR\" " + more + L"/>";
  }

  std::wstring folder_, code_, log_, links_, desk_;
  TestSession session_;
};

TEST_F(ShortcutsTest, RecordsTakeTheTemplateWhereTheDocumentIsSilentAndNeverLeaveTheirFolder) {
  std::wstring icon = folder_ + L"one.ico";
  WriteFileBytes(icon, "icon");
  Set(L"TPLDIR", links_);
  Set(L"VEXA_SHORTCUT_TEMPLATE", L"S;TPLDIR;c;d;e;f;Template text;h;tpl.ico;7;k;WORKDIR");
  OrvoCatalog catalog;
  Orvo& orvo = Add(catalog, L"A", kRequestInstall, kCurrentlyNotInstalled,
                   L"<Shortcut Name=\"[ProductName] One\" Target=\"C:\\apps\\one.exe\" Parameters=\"-v [ProductVersion]\" "
                   L"Description=\"First\" Icon=\"" + icon + L"\" IconIndex=\"2\" Directory=\"\" AlwaysInstall=\"yes\"/>"
                   L"<Shortcut Name=\"Two\" Target=\"C:\\apps\\two.exe\"/>"
                   L"<Group><Shortcut Name=\"Three\" Target=\"C:\\apps\\three.exe\" IconIndex=\"-3\" "
                   L"AlwaysInstall=\"Yes\"/></Group>"
                   L"<Shortcut Name=\"..\\..\\escape\" Target=\"x\"/><Shortcut Name=\"C:escape\" Target=\"x\"/>"
                   L"<Shortcut Name=\"a/b\" Target=\"x\"/><Shortcut Name=\"Nowhere\" TargetDirectory=\"UNSET\"/>");
  ShortcutList records(1);
  ReadShortcuts(orvo, records);
  ASSERT_EQ(3u, records.size());
  const ShortcutRecord& one = records[0];
  EXPECT_EQ(links_ + L"Orvo Test Product One.lnk", one.linkPath);
  EXPECT_EQ(L"-v 1.0.0", one.arguments);
  EXPECT_EQ(L"First", one.description);
  EXPECT_EQ(icon, one.icon);
  EXPECT_EQ(2, one.iconIndex);
  EXPECT_EQ(L"C:\\apps\\", one.workingDirectory) << "an empty Directory: the target's folder";
  EXPECT_TRUE(one.alwaysInstall);
  const ShortcutRecord& two = records[1];
  EXPECT_EQ(links_ + L"Two.lnk", two.linkPath);
  EXPECT_EQ(L"Template text", two.description);
  EXPECT_EQ(CombinePath(InstallerSession::Instance().FormatText(L"[WindowsFolder]Installer\\"), code_ + L"\\tpl.ico"),
            two.icon);
  EXPECT_EQ(7, two.iconIndex);
  EXPECT_EQ(L"C:\\work\\", two.workingDirectory);
  EXPECT_EQ(0, records[2].iconIndex);
  EXPECT_FALSE(records[2].alwaysInstall);
  std::wstring log = ReadUtf16File(log_);
  EXPECT_EQ(3u, CountOf(log, L" !=> Shortcut refused, its name leaves "));
  EXPECT_EQ(1u, CountOf(log, L" !=> Shortcut refused, its folder is not a full path: Nowhere ()"));

  Set(L"VEXA_SHORTCUT_TEMPLATE", L"");
  ReadShortcuts(orvo, records);
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ(desk_ + L"Two.lnk", records[1].linkPath);
  EXPECT_EQ(L"", records[1].description);
  EXPECT_EQ(L"", records[1].icon);

  // Written and read back through the shell; an existing file is replaced.
  WriteFileBytes(one.linkPath, "not a link");
  ASSERT_TRUE(CreateShortcut(one));
  EXPECT_EQ(L"C:\\apps\\one.exe|-v 1.0.0|C:\\apps\\|First|" + icon + L",2", ReadLink(one.linkPath));
  ShortcutRecord lost = two;
  lost.linkPath = folder_ + L"missing\\Two.lnk";
  EXPECT_FALSE(CreateShortcut(lost)) << "the folder is not created";
  EXPECT_FALSE(FileExists(folder_ + L"missing"));
}

TEST_F(ShortcutsTest, RequestsStatesAndTheStoredListDecideWhatIsCreatedAndDeleted) {
  std::wstring index = folder_ + L"appIndex.xml";
  WriteFileBytes(index, ToNarrow(L"<DocumentRoot><Product ProductCode=\"" + code_ + L"\"><Properties>"
                                 L"<Property Name=\"ORVO_SHORTCUT\" Data=\"A;;D;E\"/></Properties><Directories/>"
                                 L"<Users/></Product></DocumentRoot>"));
  std::wstring masterPath = folder_ + L"master.xml";
  WriteFileBytes(masterPath, "<Master><Orvo Name=\"C\"/><Orvo Name=\"A\"/></Master>");
  XmlDocument master;
  ASSERT_TRUE(master.Load(masterPath));
  InstallerSession::Instance().Classify(InstallTypeToText(IT_ADDREMOVE));

  OrvoCatalog catalog;
  Add(catalog, L"A", kRequestInstall, kCurrentlyNotInstalled,
      Link(L"A", L"C:\\apps\\a.exe", L"Parameters=\"-a\" Description=\"Ay\" Icon=\"C:\\apps\\a.exe\" IconIndex=\"1\""));
  Add(catalog, L"B", kRequestNull, kCurrentlyInstalled,
      Link(L"B", L"C:\\apps\\b.exe", L"Parameters=\"-b\"") +
          Link(L"B always", L"C:\\apps\\b.exe", L"Parameters=\"-always\" AlwaysInstall=\"yes\""));
  Orvo& c = Add(catalog, L"C", kRequestRemove, kCurrentlyInstalled, Link(L"C", L"C:\\apps\\c.exe"));
  c.standalone = true;
  c.masterElement = FirstChildElement(master.root(), L"Orvo");
  Add(catalog, L"D", kRequestNull, kCurrentlyNotInstalled, Link(L"D", L"C:\\apps\\d.exe"));
  Add(catalog, L"E", kRequestNull, kCurrentlyInstalled, Link(L"E", L"C:\\apps\\e.exe"));

  // Shortcuts left by earlier installations; B's and C's under other names.
  ShortcutList records;
  ReadShortcuts(*catalog.Find(L"B"), records);
  ShortcutRecord renamed = records[0];
  renamed.linkPath = links_ + L"renamed by the user.lnk";
  ShortcutRecord otherArguments = records[0];
  otherArguments.linkPath = links_ + L"other.lnk";
  otherArguments.arguments = L"-other";
  ReadShortcuts(*catalog.Find(L"C"), records);
  ShortcutRecord oldC = records[0];
  oldC.linkPath = links_ + L"old C.lnk";
  oldC.target = L"C:\\APPS\\C.EXE";
  for (const auto* record : {&renamed, &otherArguments, &oldC}) ASSERT_TRUE(CreateShortcut(*record));

  EXPECT_EQ(0u, ConfigureShortcuts(master, catalog, index));
  std::map<std::wstring, std::string> expected = {{L"A.lnk", ""}, {L"B always.lnk", ""}, {L"E.lnk", ""}, {L"other.lnk", ""}};
  auto files = ReadTree(links_);
  for (auto& file : files) file.second.clear();
  EXPECT_EQ(expected, files);
  EXPECT_EQ(L"C:\\apps\\a.exe|-a|C:\\apps\\|Ay|C:\\apps\\a.exe,1", ReadLink(links_ + L"A.lnk"));
  EXPECT_NE(std::wstring::npos, ReadLink(links_ + L"other.lnk").find(L"|-other|"));
  EXPECT_TRUE(master.changed());
  EXPECT_EQ(nullptr, c.masterElement->getParentNode()) << "a removed standalone Orvo leaves the master document";
  EXPECT_EQ(std::wstring(L"A"), AttributeText(FirstChildElement(master.root(), L"Orvo"), L"Name"));
  EXPECT_EQ(L"A;;D;E", AppIndex(index).GetIndexedProperty(code_, L"ORVO_SHORTCUT"));

  // A first installation without the list property offers every Orvo.
  InstallerSession::Instance().Classify(InstallTypeToText(IT_NEWINSTALL));
  catalog.Find(L"C")->request = kRequestNull;
  EXPECT_EQ(0u, ConfigureShortcuts(master, catalog, index));
  EXPECT_EQ(L"A;D;E;A;B;C;D;E", AppIndex(index).GetIndexedProperty(code_, L"ORVO_SHORTCUT"));
  EXPECT_TRUE(FileExists(links_ + L"C.lnk"));

  // The property decides when the condition holds; B, installed and no
  // longer wanted, keeps only its AlwaysInstall shortcut.
  Set(L"ORVO_SHORTCUT_0409182025", L"1");
  Set(L"ORVO_SHORTCUT", L"C");
  EXPECT_EQ(0u, ConfigureShortcuts(master, catalog, index));
  EXPECT_EQ(L"C", AppIndex(index).GetIndexedProperty(code_, L"ORVO_SHORTCUT"));
  EXPECT_FALSE(FileExists(links_ + L"B.lnk"));
  EXPECT_TRUE(FileExists(links_ + L"B always.lnk"));
}

TEST_F(ShortcutsTest, TheEntryPointLoadsTheInstalledCatalogueAndSavesARecordedRemoval) {
  std::wstring media = folder_ + L"media\\", installed = folder_ + L"installed\\";
  for (const auto& name : {L"A", L"R"}) {
    CreateDirectoryW(media.c_str(), nullptr);
    CreateDirectoryW((media + name).c_str(), nullptr);
    WriteFileBytes(media + name + L"\\pack.xml",
                   ToNarrow(L"<Pack><Identification/>" + Link(name, L"C:\\apps\\" + std::wstring(name) + L".exe") +
                            L"</Pack>"));
  }
  std::wstring masterPath = installed + L"master.xml";
  CreateDirectoryW(installed.c_str(), nullptr);
  WriteFileBytes(masterPath, ToNarrow(L"<Master><OrvoInstallRoot>" + installed + L"</OrvoInstallRoot><MediaRoot>" +
                                      media + L"</MediaRoot><MasterDocumentFolder>" + media +
                                      L"</MasterDocumentFolder><Orvo Name=\"A\" Action=\"install\"><MediaPath>"
                                      L"A\\pack.xml</MediaPath></Orvo><Orvo Name=\"R\" Action=\"remove\" "
                                      L"Installed=\"true\"><MediaPath>R\\pack.xml</MediaPath></Orvo></Master>"));
  Set(L"_ORVOGUID", L"_G");
  Set(L"orvo_CloneProfiles_G", masterPath);
  ShortcutRecord old;
  old.target = L"C:\\apps\\R.exe";
  old.linkPath = links_ + L"R, renamed.lnk";
  ASSERT_TRUE(CreateShortcut(old));
  std::string before = ReadFileBytes(masterPath);
  std::wstring log = CombinePath(TempFolder(), L"orvo_Install.log");

  Set(L"VEXA_SECONDARY_INSTALL", L"1");
  EXPECT_EQ(0u, OrvoShortcuts(session_.handle()));
  EXPECT_NE(std::wstring::npos, ReadUtf16File(log).rfind(L"OrvoShortcuts()\r\n"));
  EXPECT_EQ(L" => 2nd user install will not configure shortcuts", SplitLines(ReadUtf16File(log)).back());
  EXPECT_EQ(before, ReadFileBytes(masterPath));
  EXPECT_TRUE(FileExists(old.linkPath));

  Set(L"VEXA_SECONDARY_INSTALL", L"");
  EXPECT_EQ(0u, OrvoShortcuts(session_.handle()));
  EXPECT_EQ(L"C:\\apps\\A.exe||C:\\apps\\||,0", ReadLink(links_ + L"A.lnk"));
  EXPECT_FALSE(FileExists(old.linkPath));
  EXPECT_EQ("\xFF\xFE", ReadFileBytes(masterPath).substr(0, 2)) << "the removal is saved (first installation)";
}

}  // namespace
