// Loading the catalogue from media written by the tests: states and
// identification as the documents give them, cabinets in sequence order,
// unavailable and broken pack documents, hostile paths, and cabinets found
// on the media or downloaded.
#include <gtest/gtest.h>

#include "action/install_type.h"
#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "documents/paths.h"
#include "media/media_locator.h"
#include "media/media_support.h"
#include "support/media_tree.h"
#include "support/test_session.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class CatalogLoad : public ::testing::Test {
 protected:
  // One media root for the suite: the process's media locator keeps the
  // first it is given, as it does in an installation.
  static void SetUpTestSuite() {
    base_ = ScratchFolder(L"catload");
    media_ = base_ + L"media\\";
  }
  static void TearDownTestSuite() { RemoveTree(base_); }

  void SetUp() override {
    installRoot_ = ScratchFolder(L"catload_installed") + L"Orvos\\";
    ASSERT_TRUE(session_.Open(ParentFolder(installRoot_), L"CatalogLoad", L"orvo_catload_test.log"));
  }
  void TearDown() override {
    session_.Close();
    RemoveTree(ParentFolder(installRoot_));
  }
  void Orvo(const std::wstring& name, const std::wstring& mediaPath, const std::wstring& action = L"",
            const std::wstring& installed = L"") {
    MasterOrvoSpec orvo;
    orvo.name = name;
    orvo.display = L"true";
    orvo.mediaPath = mediaPath;
    orvo.action = action;
    orvo.installed = installed;
    master_.orvos.push_back(orvo);
  }
  // The installed master document as the initialization leaves it.
  XmlDocument& LoadMaster() {
    master_.extra = {{L"OrvoInstallRoot", installRoot_}, {L"MasterDocumentFolder", L"Content\\"}};
    master_.mediaRoot = media_;
    EXPECT_TRUE(WriteMasterDocument(installRoot_, master_));
    DomDocument* document = nullptr;
    EXPECT_TRUE(LoadDocument(document_, installRoot_ + L"master.xml", document, WriteToInstallLog));
    return document_;
  }
  std::wstring Log() { return session_.Log(); }

  static std::wstring base_, media_;
  std::wstring installRoot_;
  MasterDocumentSpec master_;
  XmlDocument document_;
  TestSession session_;
};

std::wstring CatalogLoad::base_, CatalogLoad::media_;

TEST_F(CatalogLoad, DocumentsBecomeTheCatalogueAndBadOnesStayOut) {
  std::wstring content = base_ + L"media\\Content\\";
  PackDocumentSpec lang;
  lang.orvoId = L"";
  lang.languages = {L"EN-US", L"en-us"};
  lang.regions = {L"us", L"GB"};
  lang.preferAnyRegion = L"1";
  lang.cabFolder = L"Cabs";
  lang.useIdAsCabFolder = L"yes";
  lang.cabinets = {{L"2", L"second.cab", L"", L"5", L"", L"DATA", L""},
                   {L"0", L"first.cab", L"", L"7", L"", L"DATA", L""},
                   {L"-1", L"negative.cab", L"", L"", L"", L"", L""},
                   {L"", L"unnumbered.cab", L"", L"", L"", L"", L""},
                   {L"0", L"again.cab", L"", L"", L"", L"", L""},
                   {L"3", L"..\\..\\outside.cab", L"", L"", L"", L"", L""},
                   {L"4", L"gone.cab", L"", L"", L"", L"", L""},
                   {L"5", base_ + L"absolute.cab", L"", L"", L"", L"", L""}};
  ASSERT_TRUE(WritePackDocument(content + L"Lang\\Lang.xml", lang));
  ASSERT_TRUE(WriteContentCabinet(content + L"Lang\\Cabs\\first.cab", {{L"a.txt", "a"}}));
  ASSERT_TRUE(WriteContentCabinet(content + L"Lang\\Cabs\\second.cab", {{L"b.txt", "b"}}));
  ASSERT_TRUE(WriteContentCabinet(base_ + L"absolute.cab", {{L"c.txt", "c"}}));
  PackDocumentSpec heir;
  heir.orvoId = L"Heir";
  heir.inheritance = L"Nobody;Lang;";
  ASSERT_TRUE(WritePackDocument(content + L"Heir.xml", heir));
  // A sequence that is no number fails the schema.
  PackDocumentSpec broken;
  broken.cabinets = {{L"first", L"x.cab", L"", L"", L"", L"", L""}};
  ASSERT_TRUE(WritePackDocument(content + L"Broken.xml", broken));

  // Its schema location reaches out of the pack folder: not copied.
  PackDocumentSpec sneaky;
  sneaky.orvoId = L"Sneaky";
  sneaky.schemaLocation = L"..\\..\\sneaky.xsd";
  ASSERT_TRUE(WritePackDocument(content + L"Sneaky.xml", sneaky));
  ASSERT_TRUE(WriteFileBytes(base_ + L"sneaky.xsd", "<x/>"));
  std::wstring sneakyTarget = ParentFolder(ParentFolder(installRoot_)) + L"sneaky.xsd";
  DeleteFileW(sneakyTarget.c_str());
  Orvo(L"Sneaky", L"Sneaky.xml");
  Orvo(L"Lang", L"Lang\\Lang.xml", L"Install", L"true");
  Orvo(L"Heir", L"Heir.xml", L"remove");
  Orvo(L"Broken", L"Broken.xml", L"install");
  Orvo(L"Missing", L"Missing.xml");
  Orvo(L"Escape", L"..\\..\\..\\escape.xml");
  Orvo(L"..\\Named", L"Heir.xml");
  // A full path, though the document is there.
  Orvo(L"Absolute", content + L"Heir.xml");
  MediaLocator::Instance().SetUp(media_, L"");

  OrvoCatalog catalog;
  EXPECT_EQ(3u, catalog.Load(LoadMaster(), true));
  orvo::Orvo* l = catalog.Find(L"Lang");
  orvo::Orvo* h = catalog.Find(L"Heir");
  ASSERT_TRUE(l && h);
  EXPECT_EQ(kRequestNull, l->request) << "Action values are compared exactly";
  EXPECT_EQ(kCurrentlyInstalled, l->current);
  EXPECT_EQ(kRequestRemove, h->request);
  EXPECT_EQ(TextList{L"en-us"}, l->languages);
  EXPECT_TRUE(l->preferAnyRegion);
  EXPECT_TRUE(l->regions.empty()) << "any region: the list is not read";
  EXPECT_EQ(L"Cabs", l->cabFolder) << "no OrvoId to use as the folder";
  EXPECT_EQ(TextList{L"Lang"}, h->inherits);
  ASSERT_EQ(3u, l->cabinets.size());
  EXPECT_EQ(L"first.cab", l->cabinets[0]->name);
  EXPECT_EQ(L"second.cab", l->cabinets[1]->name);
  EXPECT_EQ(L"gone.cab", l->cabinets[2]->name);
  EXPECT_TRUE(l->cabinets[0]->acquired);
  EXPECT_EQ(media_ + L"Content\\Lang\\Cabs\\first.cab", l->cabinets[0]->sourcePath);
  EXPECT_FALSE(l->cabinets[2]->acquired);
  EXPECT_EQ(installRoot_ + L"Lang\\Lang.xml", l->packDocumentPath);
  EXPECT_TRUE(FileExists(installRoot_ + L"Lang\\orvo_pack.xsd")) << "the schema comes with the pack document";
  EXPECT_FALSE(FileExists(ParentFolder(installRoot_) + L"escape.xml"));
  EXPECT_FALSE(FileExists(sneakyTarget));
  EXPECT_EQ((TextList{L"Missing", L"Escape", L"Absolute"}), catalog.unavailable());
  EXPECT_EQ(installRoot_ + L"Lang\\Lang.xml", ChildText(l->masterElement, L"InstallPath"));

  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Failed to load " + installRoot_ + L"Broken.xml"));
  EXPECT_NE(std::wstring::npos, log.find(L"    => The following Orvos are not available: Missing Escape Absolute"));
  EXPECT_NE(std::wstring::npos, log.find(L"   !=> Failed to resolve Content\\Lang\\Cabs\\gone.cab"));
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Refused cabinet ..\\..\\outside.cab of Lang"));
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Refused the name of ..\\Named"));
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Refused schema location ..\\..\\sneaky.xsd"));
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Refused cabinet " + base_ + L"absolute.cab of Lang"));
  EXPECT_EQ(std::wstring::npos, log.find(L"Downloaded")) << "found on the media: no message of its own";
  size_t heirLine = log.find(L"                                 Heir:");
  size_t langLine = log.find(L"                                 Lang:");
  EXPECT_TRUE(heirLine != std::wstring::npos && heirLine < langLine) << "status lines in name order";
}

// Subscriptions resolve through the inherited Orvos, the deepest publisher
// first; visible profiles are found at any depth; a standalone Orvo keeps its document below "Standalone" and finds
// its cabinets beside the document on the media.
TEST_F(CatalogLoad, SubscriptionsAndAStandaloneOrvo) {
  std::wstring content = media_ + L"Content\\";
  PackDocumentSpec base;
  base.orvoId = L"Base";
  base.published = {{L"SHARED", L"BASEDIR"}, {L"ONLY", L"ONLYDIR"}};
  base.profiles = {{L"Shown", L"true", L"", {}}, {L"Hidden", L"True", L"", {}}};
  base.registryXml = L"<Group><Profile Name=\"Deep [PROFILE_SUFFIX]\" Visible=\"true\"/></Group>";
  ASSERT_TRUE(WritePackDocument(content + L"Base.xml", base));
  PackDocumentSpec mid;
  mid.orvoId = L"Mid";
  mid.inheritance = L"Base";
  mid.published = {{L"SHARED", L"MIDDIR"}, {L"OWN", L"MIDOWN"}};
  ASSERT_TRUE(WritePackDocument(content + L"Mid.xml", mid));
  PackDocumentSpec top;
  top.orvoId = L"Top";
  top.inheritance = L"Mid";
  top.cabinets = {{L"0", L"top.cab", L"", L"5", L"2", L"TOPDIR", L"SHARED;OWN;NOBODY;SHARED"}};
  ASSERT_TRUE(WritePackDocument(content + L"Top.xml", top));
  std::wstring alone = content + L"Standalone\\Alone\\";
  PackDocumentSpec standalone;
  standalone.orvoId = L"Alone";
  standalone.cabinets = {{L"0", L"alone.cab", L"", L"", L"", L"", L""}};
  ASSERT_TRUE(WritePackDocument(alone + L"Alone.xml", standalone));
  ASSERT_TRUE(WriteContentCabinet(alone + L"alone.cab", {{L"s.txt", "s"}}));
  Orvo(L"Top", L"Top.xml");
  Orvo(L"Mid", L"Mid.xml", L"install");
  Orvo(L"Base", L"Base.xml");
  MasterOrvoSpec s;
  s.name = L"Alone";
  s.standalone = L"true";
  s.standalonePath = alone + L"Alone.xml";
  master_.orvos.push_back(s);
  MediaLocator::Instance().SetUp(media_, L"");

  OrvoCatalog catalog;
  ASSERT_EQ(4u, catalog.Load(LoadMaster(), false));
  session_.Set(L"PROFILE_SUFFIX", L"X");
  TextList visible;
  catalog.Find(L"Base")->VisibleProfiles(visible);
  EXPECT_EQ((TextList{L"Shown", L"Deep X"}), visible) << "any depth below Registry, Visible exactly \"true\"";
  const CabinetEntry& cab = *catalog.Find(L"Top")->cabinets.at(0);
  std::map<std::wstring, TextList> expected{{L"", {L"TOPDIR"}}, {L"Base", {L"BASEDIR"}}, {L"Mid", {L"MIDOWN"}}};
  EXPECT_EQ(expected, cab.targetDirectories);

  // Progress weights: the own directory unless named in the skip text (also
  // as part of a longer name), a publisher's only while it takes part.
  orvo::Orvo* t = catalog.Find(L"Top");
  session_.Type(IT_NEWINSTALL);
  t->SetRequest(kRequestInstall);
  t->SetCurrent(kCurrentlyInstalled);
  EXPECT_EQ(10u, t->TickEstimate(L"", catalog));
  EXPECT_EQ(5u, t->TickEstimate(L"X;TOPDIRS", catalog));
  t->SetRequest(kRequestRemove);
  EXPECT_EQ(4u, t->TickEstimate(L"", catalog));
  EXPECT_EQ(L"remove", AttributeText(t->masterElement, L"Action"));
  EXPECT_EQ(L"true", AttributeText(t->masterElement, L"Installed"));
  EXPECT_NE(std::wstring::npos, Log().find(L" => Base not slated for install"));
  session_.Type(IT_REINSTALL);
  EXPECT_FALSE(t->TakesPart());
  EXPECT_NE(std::wstring::npos, Log().find(L" => Top slated for uninstall"));
  EXPECT_TRUE(catalog.RemoveFromList(document_, L"Top"));
  EXPECT_EQ(nullptr, FindChildElement(FirstChildElement(document_.root(), L"Orvos"), L"Orvo", L"Name", L"Top"));
  EXPECT_FALSE(catalog.RemoveFromList(document_, L"Top"));
  EXPECT_NE(std::wstring::npos, Log().find(L"  Failed to remove Top from Orvo list"));

  orvo::Orvo* a = catalog.Find(L"Alone");
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->standalone);
  EXPECT_EQ(installRoot_ + L"Standalone\\Alone.xml", a->packDocumentPath);
  EXPECT_TRUE(a->sourceFolder.empty());
  ASSERT_EQ(1u, a->cabinets.size());
  EXPECT_TRUE(a->cabinets[0]->acquired);
  EXPECT_EQ(alone + L"alone.cab", a->cabinets[0]->sourcePath);
  EXPECT_EQ(installRoot_ + L"Standalone\\alone.cab", a->cabinets[0]->cachePath);
}

TEST_F(CatalogLoad, ACabinetMissingFromTheMediaIsDownloaded) {
  ASSERT_NE(0, NginxPort()) << "nginx is not running";
  std::wstring served = NginxFile(L"media\\catalog\\Content\\remote.cab");
  ASSERT_TRUE(WriteContentCabinet(served, {{L"r.txt", "remote"}}));
  PackDocumentSpec pack;
  pack.orvoId = L"Remote";
  pack.url = NginxUrl(L"/media/catalog/");
  pack.cabinets = {{L"0", L"remote.cab", L"", L"1", L"", L"DATA", L""}};
  ASSERT_TRUE(WritePackDocument(media_ + L"Content\\Remote.xml", pack));
  Orvo(L"Remote", L"Remote.xml", L"install");
  // Served too, but a file in the way of its folder keeps it from being written.
  std::wstring blockedServed = NginxFile(L"media\\catalog\\Content\\Blocked\\blocked.cab");
  ASSERT_TRUE(WriteContentCabinet(blockedServed, {{L"b.txt", "blocked"}}));
  std::wstring inTheWay = CombinePath(TempFolder(), L"KeltraTempMedia\\Content\\Blocked");
  EnsureFolder(ParentFolder(inTheWay));
  ASSERT_TRUE(WriteFileBytes(inTheWay, "a file, not a folder"));
  PackDocumentSpec blocked = pack;
  blocked.orvoId = L"Blocked";
  blocked.cabFolder = L"Blocked";
  blocked.cabinets = {{L"0", L"blocked.cab", L"", L"1", L"", L"DATA", L""}};
  ASSERT_TRUE(WritePackDocument(media_ + L"Content\\Blocked.xml", blocked));
  Orvo(L"Blocked", L"Blocked.xml", L"install");
  MediaLocator::Instance().SetUp(media_, L"");

  OrvoCatalog catalog;
  ASSERT_EQ(2u, catalog.Load(LoadMaster(), true));
  const CabinetEntry& entry = *catalog.Find(L"Remote")->cabinets.at(0);
  EXPECT_TRUE(entry.acquired);
  EXPECT_EQ(ReadFileBytes(served), ReadFileBytes(entry.sourcePath));
  EXPECT_NE(std::wstring::npos, Log().find(L"    => Downloaded " + entry.sourcePath));
  const CabinetEntry& notWritten = *catalog.Find(L"Blocked")->cabinets.at(0);
  EXPECT_FALSE(notWritten.acquired) << "a download that could not be written is no download";
  EXPECT_NE(std::wstring::npos, Log().find(L"   !=> Failed to download " + notWritten.sourcePath));
  EXPECT_EQ(std::wstring::npos, Log().find(L"    => Downloaded " + notWritten.sourcePath));
  DeleteFileW(entry.sourcePath.c_str());
  DeleteFileW(served.c_str());
  DeleteFileW(blockedServed.c_str());
  DeleteFileW(inTheWay.c_str());
  EXPECT_EQ(CombinePath(TempFolder(), L"KeltraTempMedia\\Content\\remote.cab"), entry.sourcePath);
}

}  // namespace
