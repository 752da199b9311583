// OrvoInit through msiexec on media with three Orvos: a first installation
// with a selection, a change of Orvos and a removal. The installer reports
// a custom action that did not run as success, so every step asserts what
// the action left: the installed master document, the application index,
// registry values formatted from the properties it set, and the machine's
// profile master copies and macro store.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "action/installer_session.h"
#include "catalog/hand_over_data.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

// The hand-over up to its last field, the product's folders.
const wchar_t kRoot[] = L"Software\\OrvoTests\\OrvoInitE2E";
const wchar_t kHandover[] = L"Software\\OrvoTests\\OrvoInitE2E\\Handover";

std::wstring RegistryText(const std::wstring& key, const std::wstring& name) {
  wchar_t buffer[2048] = {0};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, buffer,
                   &size) != 0)
    return L"<missing>";
  return buffer;
}

DWORD RegistryDword(const std::wstring& key, const std::wstring& name) {
  DWORD value = 0xFFFFFFFF, size = sizeof value;
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

// The Orvos' states as the installed master document holds them.
struct MasterView {
  explicit MasterView(const std::wstring& path) { root = document.Load(path) ? document.root() : nullptr; }
  std::wstring Attribute(const std::wstring& orvo, const std::wstring& name) {
    DomElement* element = FindChildElement(FirstChildElement(root, L"Orvos"), L"Orvo", L"Name", orvo);
    return element ? AttributeText(element, name) : L"<no Orvo>";
  }
  std::wstring Actions() { return Attribute(L"A", L"Action") + L"," + Attribute(L"B", L"Action") + L"," + Attribute(L"C", L"Action"); }
  XmlDocument document;
  DomElement* root = nullptr;
};

// What the deferred file step does to the document once it has run.
void MarkInstalled(const std::wstring& path, const std::vector<std::wstring>& installed) {
  XmlDocument document;
  ASSERT_TRUE(document.Load(path));
  DomElement* orvos = FirstChildElement(document.root(), L"Orvos");
  for (const wchar_t* name : {L"A", L"B", L"C"}) {
    DomElement* element = FindChildElement(orvos, L"Orvo", L"Name", name);
    ASSERT_TRUE(element);
    bool is = std::find(installed.begin(), installed.end(), name) != installed.end();
    element->setAttribute(L"Installed", is ? L"true" : L"false");
  }
  ASSERT_TRUE(document.Save());
}

class OrvoInitEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"orvoinit_media");
    logPath_ = CombinePath(TempFolder(), L"orvo_Install.log");
    DeleteFileW(logPath_.c_str());
    installDir_ = CombinePath(PackageFolder(L"ProgramFilesFolder"), L"OrvoInitE2E\\");
    RemoveTree(installDir_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
  }
  void TearDown() override {
    if (!code_.empty()) RunMsiexec(L"/x " + code_ + L" /qn");
    RemoveTree(media_);
    RemoveTree(installDir_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot);
  }

  // A: a profile with a macro and an application default; B: a cabinet
  // whose condition is false; C: supersedes A. All three are displayed.
  void WriteMedia() {
    MasterDocumentSpec master;
    for (const wchar_t* name : {L"A", L"B", L"C"}) {
      MasterOrvoSpec orvo;
      orvo.name = name;
      orvo.display = L"true";
      orvo.mediaPath = std::wstring(L"Packs\\") + name + L"\\" + name + L".xml";
      master.orvos.push_back(orvo);
    }
    WriteMasterDocument(media_ + L"Content\\", master);

    PackDocumentSpec a;
    a.orvoId = L"A";
    a.cabinets.push_back({L"0", L"A1.cab", L"", L"12", L"3", L"ORVODATA", L""});
    ProfileSpec profile;
    profile.name = L"ProfA";
    profile.visible = L"true";
    profile.inheritance = L"Base";
    profile.entries.push_back({L"Paths", L"Support", L"REG_SZ", L"", L"[ORVODATA]Support"});
    profile.entries.push_back({L"", L"Count", L"REG_DWORD", L"0x9", L"7"});
    a.profiles.push_back(profile);
    a.applicationDefaults.push_back({L"E2E_COLOR", L"red [ProductName]"});
    WritePackDocument(media_ + L"Content\\Packs\\A\\A.xml", a);
    WriteContentCabinet(media_ + L"Content\\Packs\\A\\A1.cab", {{L"a.txt", "alpha"}});

    PackDocumentSpec b;
    b.orvoId = L"B";
    b.cabinets.push_back({L"0", L"B1.cab", L"NOSUCHPROPERTY", L"8", L"2", L"ORVODATA", L""});
    b.applicationDefaults.push_back({L"E2E_SHAPE", L"square"});
    WritePackDocument(media_ + L"Content\\Packs\\B\\B.xml", b);
    WriteContentCabinet(media_ + L"Content\\Packs\\B\\B1.cab", {{L"b.txt", "beta"}});

    PackDocumentSpec c;
    c.orvoId = L"C";
    c.supercedes = L"A";
    c.cabinets.push_back({L"0", L"C1.cab", L"", L"5", L"1", L"ORVODATA", L""});
    ProfileSpec profileC;
    profileC.name = L"ProfC";
    profileC.visible = L"true";
    profileC.entries.push_back({L"", L"Name", L"REG_SZ", L"", L"C"});
    c.profiles.push_back(profileC);
    c.applicationDefaults.push_back({L"E2E_COLOR", L"green"});
    WritePackDocument(media_ + L"Content\\Packs\\C\\C.xml", c);
    WriteContentCabinet(media_ + L"Content\\Packs\\C\\C1.cab", {{L"c.txt", "gamma"}});
  }

  void MakePackage() {
    OrvoProduct product;
    product.folderName = L"OrvoInitE2E";
    product.properties = {{L"ZIRBHOSTAPPREGROOT", kRoot}, {L"VEXADEFAULTPROFILENAME", L"Standard"},
                          {L"ORVO_SHORTCUT", L"Yes"}};
    product.entryPoints = {L"AppIndexWrite", L"OrvoInit"};
    MsiPackage package(media_ + L"orvoinit.msi");
    code_ = package.productCode();
    AddOrvoProduct(package, product);
    // The hand-over and the properties the action set, as the Registry table formats them.
    const wchar_t* values[][2] = {{L"Install", L"[orvo_Install_E2E]"}, {L"Remove", L"[orvo_Remove_E2E]"},
                                  {L"Clone", L"[orvo_CloneProfiles_E2E]"}, {L"Color", L"[E2E_COLOR]"},
                                  {L"Shape", L"[E2E_SHAPE]"}, {L"Selected", L"[ORVO_SELECTED]"}};
    for (const auto& value : values) package.Registry(value[0], 2, kHandover, value[0], value[1], L"MainComponent");
    package.Commit();
  }

  std::wstring IndexProperty(const std::wstring& name) {
    AppIndex index;
    return index.GetIndexedProperty(code_, name);
  }
  std::wstring Log() { return ReadUtf16File(logPath_); }

  std::wstring media_, logPath_, installDir_, code_;
};

TEST_F(OrvoInitEndToEnd, InstallChangeAndRemoveDecideEachOrvo) {
  WriteMedia();
  MakePackage();
  std::wstring orvos = installDir_ + L"Orvos\\";
  std::wstring master = orvos + L"master.xml";

  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"orvoinit.msi\" /qn ORVO_SELECTED=A;B"));
  ASSERT_TRUE(FileExists(master)) << "OrvoInit did not run";
  EXPECT_TRUE(FileExists(orvos + L"master.xsd"));
  EXPECT_TRUE(FileExists(orvos + L"Packs\\A\\A.xml")) << "pack documents are refreshed beside the master";
  {
    MasterView view(master);
    ASSERT_TRUE(view.root);
    EXPECT_EQ(media_, ChildText(view.root, L"MediaRoot"));
    EXPECT_EQ(orvos, ChildText(view.root, L"OrvoInstallRoot"));
    EXPECT_EQ(L"Content\\", ChildText(view.root, L"MasterDocumentFolder"));
    EXPECT_EQ(code_, ChildText(view.root, L"ProductCode"));
    EXPECT_EQ(L"install,install,install", view.Actions()) << "C supersedes the selected A: it comes with it";
    EXPECT_EQ(L"A;B", ChildText(view.root, L"InitialSelection")) << "a choice of content is recorded in the document";
    EXPECT_EQ(orvos + L"Packs\\A\\A.xml",
              ChildText(FindChildElement(FirstChildElement(view.root, L"Orvos"), L"Orvo", L"Name", L"A"), L"InstallPath"));
  }
  std::wstring type = InstallTypeToText(IT_NEWINSTALL);
  // The three first fields in their places (an empty window title keeps its
  // own), then what a deferred action cannot learn itself.
  std::wstring handOver = RegistryText(kHandover, L"Install");
  EXPECT_EQ(0u, handOver.find(type + L";" + master + L";;")) << ToNarrow(handOver);
  HandOverData data = HandOverData::Decode(handOver);
  EXPECT_FALSE(data.userName.empty());
  EXPECT_FALSE(data.forceDelete);
  EXPECT_EQ(32u, data.transaction.size());
  EXPECT_EQ(L"3600", data.downloadDeadline) << "the download limits, the defaults here";
  EXPECT_EQ(L"60", data.downloadStall);
  EXPECT_EQ(0u, data.productFolders.find(ParentFolder(ParentFolder(master)))) << "field 5 starts with the product's folder";
  EXPECT_EQ(handOver, RegistryText(kHandover, L"Remove"));
  EXPECT_EQ(master, RegistryText(kHandover, L"Clone"));
  EXPECT_EQ(L"red Orvo Test Product", RegistryText(kHandover, L"Color")) << "A's application default, formatted";
  EXPECT_EQ(L"square", RegistryText(kHandover, L"Shape"));
  EXPECT_EQ(master, IndexProperty(L"ORVO_INSTALLED_MASTER_DOCUMENT"));
  EXPECT_EQ(L"B:B1.cab", IndexProperty(L"ORVO_BYPASS_CABINETS"));
  EXPECT_EQ(L"A;B", IndexProperty(L"ORVO_SELECTED"));
  EXPECT_EQ(L"Yes", IndexProperty(L"ORVO_SHORTCUT"));
  // Machine-wide master copies of every Orvo's profiles, and the macros they use.
  std::wstring profiles = std::wstring(kRoot) + L"\\Profiles\\";
  EXPECT_EQ(L"Base", RegistryText(profiles + L"ProfA", L"BaseData"));
  EXPECT_EQ(L"%ORVODATA%Support", RegistryText(profiles + L"ProfA\\Paths", L"Support"));
  EXPECT_EQ(7u, RegistryDword(profiles + L"ProfA", L"Count"));
  EXPECT_EQ(9u, RegistryDword(profiles + L"ProfA", L"Count.ProfileEntryFlags"));
  EXPECT_EQ(L"C", RegistryText(profiles + L"ProfC", L"Name")) << "master copies of Orvos not selected too";
  EXPECT_EQ(installDir_ + L"Data\\", RegistryText(std::wstring(kRoot) + L"\\struoProfile\\Macros", L"ORVODATA"));
  EXPECT_EQ(L"Standard", RegistryText(std::wstring(kRoot) + L"\\struoProfile", L"VEXADEFAULTPROFILENAME"));
  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"  => Reserving 4 ticks on the progress bar. Actual value: 4"))
      << "A: 12 / 5 = 2, B: 8 / 5 = 1, C: 5 / 5 = 1; a false condition does not change the estimate";
  EXPECT_NE(std::wstring::npos, log.find(L"  => Evaluating condition on B:B1.cab"));

  // The file step would have installed them; then B and C are chosen.
  MarkInstalled(master, {L"A", L"B", L"C"});
  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"orvoinit.msi\" /qn ORVO_ADDREMOVE=1 ORVO_SELECTED=B;C "
                           L"REINSTALL=ALL REINSTALLMODE=os"));
  {
    MasterView view(master);
    EXPECT_EQ(L"remove,null,null", view.Actions()) << "A superseded and deselected; B and C stay";
    EXPECT_EQ(L"B;C", ChildText(view.root, L"InitialSelection"));
  }
  EXPECT_EQ(L"A", IndexProperty(L"ORVO_SUPERCEDED"));
  EXPECT_EQ(L"B;C", IndexProperty(L"ORVO_SELECTED"));
  EXPECT_EQ(0u, RegistryText(kHandover, L"Install").find(InstallTypeToText(IT_REINSTALL | IT_ADDREMOVE) + L";" + master + L";;"));
  EXPECT_EQ(L"green", RegistryText(kHandover, L"Color")) << "C present, A leaving: C's value wins";

  // Removal: every displayed, installed Orvo goes.
  MarkInstalled(master, {L"B", L"C"});
  ASSERT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
  {
    MasterView view(master);
    EXPECT_EQ(L"null,remove,remove", view.Actions());
  }
}

}  // namespace
