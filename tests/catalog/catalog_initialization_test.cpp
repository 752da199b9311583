// The catalogue initialization inside one session: the master document
// found and installed, folder records, bypassed cabinets, the progress
// reservation, the hand-over properties and the second-call short path.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/catalog_initialization.h"
#include "catalog/hand_over_data.h"
#include "catalog/orvo_model.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/test_session.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

extern "C" UINT __stdcall OrvoInit(MSIHANDLE handle);

namespace {

// The hand-over up to its last field, the product's folders.
class CatalogInitialization : public ::testing::Test {
 protected:
  // One media tree for the suite: the process's media locator keeps the
  // first media root it is given, as it does in an installation.
  static void SetUpTestSuite() {
    media_ = ScratchFolder(L"catinit_media");
    MasterDocumentSpec master;
    for (const wchar_t* name : {L"X", L"Y", L"Z"}) {
      MasterOrvoSpec orvo;
      orvo.name = name;
      orvo.display = name == std::wstring(L"Y") ? L"false" : L"true";
      orvo.mediaPath = std::wstring(L"Packs\\") + name + L".xml";
      master.orvos.push_back(orvo);
      PackDocumentSpec pack;
      pack.orvoId = name;
      pack.inheritance = name == std::wstring(L"Y") ? L"X" : L"Y;";  // X and Y inherit each other
      std::wstring cost = name == std::wstring(L"X") ? L"7" : name == std::wstring(L"Y") ? L"8" : L"9";
      pack.cabinets.push_back({L"0", std::wstring(name) + L".cab", name == std::wstring(L"Z") ? L"NOSUCH" : L"",
                               cost, L"1", L"DATADIR", L""});
      ASSERT_TRUE(WritePackDocument(media_ + L"Content\\Packs\\" + name + L".xml", pack));
      ASSERT_TRUE(WriteContentCabinet(media_ + L"Content\\Packs\\" + std::wstring(name) + L".cab", {{L"f.txt", "f"}}));
    }
    ASSERT_TRUE(WriteMasterDocument(media_ + L"Content\\", master));
  }
  static void TearDownTestSuite() { RemoveTree(media_); }

  void SetUp() override {
    product_ = ScratchFolder(L"catinit_product");
    ASSERT_TRUE(session_.Open(media_, L"CatalogInitialization", L"orvo_catinit_test.log",
                              {{L"_ORVOGUID", L"_G"},
                               {L"ORVO_DOCUMENT", L"Content\\master.xml"},
                               {L"INSTALLDIR", product_},
                               {L"CD_LOCAL_FOLDERS", L"LOCALDIR"},
                               {L"CD_SHARED_FOLDERS", L"SHAREDDIR"},
                               {L"RCITEM_0", L"0;1;2;LOCALDIR;4;5;C:\\Local\\;D:\\Shared\\;8"},
                               {L"RCITEM_1", L"0;1;2;SHAREDDIR;4;5;C:\\Local2\\;D:\\Shared2\\;8"},
                               {L"RCITEM_2", L"0;1;2;OTHERDIR;4;5;C:\\Eight\\;D:\\Eight\\"},
                               {L"RCITEM_4", L"0;1;2;LATEDIR;4;5;C:\\Late\\;D:\\Late\\;8"},
                               {L"ORVO_SELECTED", L"X;Y;Z"},
                               {L"ZIRBHOSTAPPREGROOT", L"Software\\OrvoTests\\CatalogInitialization"}}));
    code_ = session_.productCode();
    session_.Type(IT_NEWINSTALL);
    if (!FileExists(AppIndexPath())) ASSERT_TRUE(WriteResourceFile(kEmptyAppIndex, AppIndexPath()));
    AppIndex index;
    ASSERT_TRUE(index.WriteProduct());
  }
  void TearDown() override {
    AppIndex index;
    if (index.Open()) index.RemoveProduct(code_);
    session_.Close();
    DeleteFileW(session_.packagePath().c_str());
    RemoveTree(product_);
  }
  std::wstring Get(const std::wstring& name) { return session_.Get(name); }
  void Set(const std::wstring& name, const std::wstring& value) { session_.Set(name, value); }
  std::wstring Indexed(const std::wstring& name) {
    AppIndex index;
    return index.GetIndexedProperty(code_, name);
  }
  std::wstring Log() { return session_.Log(); }

  static std::wstring media_;
  std::wstring product_, code_;
  TestSession session_;
};

std::wstring CatalogInitialization::media_;

TEST_F(CatalogInitialization, FirstInstallationInstallsTheMasterAndHandsOver) {
  OrvoCatalog catalog;
  ASSERT_EQ(0, InitializeCatalog(catalog));
  std::wstring master = product_ + L"Orvos\\master.xml";
  ASSERT_TRUE(FileExists(master));
  EXPECT_TRUE(FileExists(product_ + L"Orvos\\master.xsd"));
  XmlDocument installed;
  ASSERT_TRUE(installed.Load(master));
  EXPECT_EQ(media_, ChildText(installed.root(), L"MediaRoot"));
  EXPECT_EQ(product_ + L"Orvos\\", ChildText(installed.root(), L"OrvoInstallRoot"));
  EXPECT_EQ(L"Content\\", ChildText(installed.root(), L"MasterDocumentFolder"));
  EXPECT_EQ(code_, ChildText(installed.root(), L"ProductCode"));
  EXPECT_EQ(media_, Get(L"KELTRA_SOURCE_ROOT"));

  // Folder records: 9 fields read, 8 ignored, the loop ends at the first gap.
  EXPECT_EQ(L"C:\\Local\\", Get(L"LOCALDIR"));
  EXPECT_EQ(L"D:\\Shared2\\", Get(L"SHAREDDIR"));
  EXPECT_EQ(L"", Get(L"OTHERDIR"));
  EXPECT_EQ(L"", Get(L"LATEDIR"));
  EXPECT_EQ(L"LOCALDIR", Indexed(L"CD_LOCAL_FOLDERS"));

  for (const wchar_t* name : {L"X", L"Y", L"Z"}) EXPECT_EQ(kRequestInstall, catalog.Find(name)->request) << name;
  std::wstring type = InstallTypeToText(IT_NEWINSTALL);
  // An empty window title keeps its field; the download limits follow, as
  // the deferred action reads no properties.
  HandOverData handOver = HandOverData::Decode(Get(L"orvo_Install_G"));
  EXPECT_EQ(0u, Get(L"orvo_Install_G").find(type + L";" + master + L";;"));
  EXPECT_EQ(L"3600", handOver.downloadDeadline);
  EXPECT_EQ(L"60", handOver.downloadStall);
  EXPECT_EQ(Get(L"orvo_Install_G"), Get(L"orvo_Remove_G"));
  EXPECT_EQ(master, Get(L"orvo_CloneProfiles_G"));
  EXPECT_EQ(L"Z:Z.cab", Indexed(L"ORVO_BYPASS_CABINETS"));
  EXPECT_EQ(L"X;Y;Z", Indexed(L"ORVO_SELECTED"));
  EXPECT_EQ(master, Indexed(L"ORVO_INSTALLED_MASTER_DOCUMENT"));
  EXPECT_NE(std::wstring::npos, Log().find(L"  => Reserving 3 ticks on the progress bar. Actual value: 3"))
      << "7, 8 and 9 each divided by 5 on their own";

  // A second call of the same installation only loads the catalogue.
  Set(L"ORVO_KELTRAEXECUTEFLAG_G", L"1");
  EnsureFolder(CombinePath(TempFolder(), L"OrvosFolder"));
  ASSERT_TRUE(CopyPath(master, CombinePath(TempFolder(), L"OrvosFolder\\master.xml"), true));
  CopyPath(product_ + L"Orvos\\master.xsd", CombinePath(TempFolder(), L"OrvosFolder\\master.xsd"), true);
  Set(L"ORVO_SELECTED", L"X");
  Set(L"orvo_Install_G", L"");
  OrvoCatalog again;
  ASSERT_EQ(0, InitializeCatalog(again));
  EXPECT_EQ(L"1", Get(L"ORVO_EXECSEQDOWNLOADCOMPLETE"));
  EXPECT_EQ(L"", Get(L"orvo_Install_G")) << "nothing handed over again";
  EXPECT_NE(std::wstring::npos, Log().find(L"  UI initialization complete"));
  RemoveTree(CombinePath(TempFolder(), L"OrvosFolder\\"));
}

// Y is not displayed; X and Y inherit each other, Z inherits Y.
TEST_F(CatalogInitialization, InheritedOrvosStayWhileASelectedOrvoNeedsThem) {
  OrvoCatalog first;
  ASSERT_EQ(0, InitializeCatalog(first));
  std::wstring master = product_ + L"Orvos\\master.xml";
  {
    XmlDocument installed;
    ASSERT_TRUE(installed.Load(master));
    DomNodeList* orvos = installed.document()->getElementsByTagName(L"Orvo");
    for (XMLSize_t i = 0; i < orvos->getLength(); ++i)
      static_cast<DomElement*>(orvos->item(i))->setAttribute(L"Installed", L"true");
    ASSERT_TRUE(installed.Save());
  }
  auto requests = [](const OrvoCatalog& catalog) {
    std::wstring text;
    for (const auto& [name, orvo] : catalog.orvos()) text += name + L"=" + RequestName(orvo->request) + L" ";
    return text;
  };
  session_.Type(IT_REINSTALL | IT_ADDREMOVE);
  Set(L"ORVO_SELECTED", L"Z");
  OrvoCatalog change;
  ASSERT_EQ(0, InitializeCatalog(change));
  EXPECT_EQ(3u, change.size());
  EXPECT_EQ(L"X=kRequestInstall Y=kRequestInstall Z=kRequestNull ", requests(change))
      << "X, deselected, stays: the selected Z inherits it through Y (and the cycle ends)";

  session_.Type(IT_UNINSTALL);
  OrvoCatalog removal;
  ASSERT_EQ(0, InitializeCatalog(removal));
  EXPECT_EQ(L"X=kRequestRemove Y=kRequestRemove Z=kRequestRemove ", requests(removal))
      << "a complete removal selects nothing and drops what the leaving Orvos inherit";
}

TEST_F(CatalogInitialization, TheInitActionRunsItsLaterStepsOnlyOnTheFirstCall) {
  std::wstring actionLog = CombinePath(TempFolder(), L"orvo_Install.log");
  DeleteFileW(actionLog.c_str());
  EXPECT_EQ(0u, OrvoInit(session_.handle()));
  std::wstring log = ReadUtf16File(actionLog);
  EXPECT_EQ(1u, CountOf(log, L"\n_setappdefaults"));
  EXPECT_EQ(1u, CountOf(log, L"\n_initprofiles"));

  std::wstring temporary = CombinePath(TempFolder(), L"OrvosFolder\\");
  ASSERT_TRUE(CopyPath(product_ + L"Orvos\\", temporary, true));
  Set(L"ORVO_KELTRAEXECUTEFLAG_G", L"1");
  EXPECT_EQ(0u, OrvoInit(session_.handle()));
  RemoveTree(temporary);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\OrvoTests\\CatalogInitialization");
  EXPECT_EQ(L"", Get(L"ORVO_KELTRAEXECUTEFLAG_G")) << "the flag is spent";
  EXPECT_EQ(L"1", Get(L"ORVO_EXECSEQDOWNLOADCOMPLETE"));
  log = ReadUtf16File(actionLog);
  EXPECT_EQ(1u, CountOf(log, L"\n_setappdefaults")) << "no second application-defaults step";
  EXPECT_EQ(1u, CountOf(log, L"\n_initprofiles"));
}

TEST_F(CatalogInitialization, AFirstInstallationWithoutMasterDocumentStops) {
  std::wstring path = media_ + L"Content\\master.xml";
  ASSERT_TRUE(MoveFileW(path.c_str(), (path + L".away").c_str()));
  OrvoCatalog catalog;
  EXPECT_EQ(1608, InitializeCatalog(catalog));
  MoveFileW((path + L".away").c_str(), path.c_str());
  EXPECT_NE(std::wstring::npos, Log().find(L" !=> Failed to locate master document"));
  EXPECT_FALSE(FileExists(product_ + L"Orvos\\master.xml"));
  EXPECT_EQ(0u, catalog.size());
}

}  // namespace
