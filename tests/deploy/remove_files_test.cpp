// File removal inside one real installer session, after the installation
// step put an Orvo's files into a user's folder: shared, user-modified and
// read-only files, folder pruning, cancellation, a forced complete removal,
// and a planted reference document that names folders of no installation.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/deployment_state.h"
#include "deploy/install_files.h"
#include "deploy/reference_document.h"
#include "deploy/remove_files.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/message_recorder.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kP1[] = L"{11111111-1111-1111-1111-111111111111}";
const wchar_t kP2[] = L"{22222222-2222-2222-2222-222222222222}";

// "SubDirectory|Name=ref" of every File element, in document order.
std::wstring Recorded(const std::wstring& documentPath) {
  XmlDocument document;
  if (!document.Load(documentPath)) return L"<unloadable>";
  std::wstring out;
  DomNodeList* files = document.document()->getElementsByTagName(L"File");
  for (XMLSize_t i = 0; i < files->getLength(); ++i) {
    auto* file = static_cast<DomElement*>(files->item(i));
    out += AttributeText(static_cast<DomElement*>(file->getParentNode()), L"Path") + L"|" +
           AttributeText(file, L"Name") + L"=" + AttributeText(file, L"ref") + L"\n";
  }
  return out;
}

void SetFileAttribute(const std::wstring& documentPath, const std::wstring& name, const wchar_t* attribute,
                      const std::wstring& value) {
  XmlDocument document;
  ASSERT_TRUE(document.Load(documentPath));
  DomElement* file = nullptr;
  DomNodeList* files = document.document()->getElementsByTagName(L"File");
  for (XMLSize_t i = 0; i < files->getLength() && !file; ++i) {
    auto* candidate = static_cast<DomElement*>(files->item(i));
    if (AttributeText(candidate, L"Name") == name) file = candidate;
  }
  ASSERT_TRUE(file) << ToNarrow(name);
  file->setAttribute(attribute, value.c_str());
  ASSERT_TRUE(document.Save());
}

class RemoveFilesStep : public ::testing::Test {
 protected:
  void SetUp() override {
    DeploymentState::Instance().abortRequested = false;
    SetExtractDiagnostics(false);
    folder_ = ScratchFolder(L"remove");
    {
      MsiPackage package(folder_ + L"p.msi");
      package.Commit();
    }
    Reopen();
    allUsersDocument_ = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\RemA_ref.xml");
    DeleteFileW(allUsersDocument_.c_str());
    WriteFileBytes(folder_ + L"master.xml", ToNarrow(L"<Master><ProductCode>" + std::wstring(kP1) + L"</ProductCode></Master>"));
    ASSERT_TRUE(master_.Load(folder_ + L"master.xml"));
  }
  void TearDown() override {
    DeploymentState::Instance().abortRequested = false;
    DeleteFileW(AppIndexPath().c_str());
    session_.reset();
    recorder_.reset();
    RemoveTree(folder_);
  }
  // A fresh recorder takes effect for sessions opened after it.
  void Reopen() {
    session_.reset();
    recorder_.reset();
    recorder_ = std::make_unique<MessageRecorder>();
    session_ = OpenPackage(folder_ + L"p.msi");
    ASSERT_TRUE(session_);
    logPath_ = CombinePath(TempFolder(), L"orvo_remove_test.log");
    DeleteFileW(logPath_.c_str());
    InstallerSession::Instance().Begin(session_.get(), L"RemoveTest", L"orvo_remove_test.log");
  }
  Orvo& AddOrvo(const std::wstring& name, int request) {
    auto orvo = std::make_unique<Orvo>();
    orvo->name = name;
    orvo->request = request;
    Orvo& added = *orvo;
    catalog_.orvos()[name] = std::move(orvo);
    return added;
  }
  unsigned Run(unsigned type) {
    InstallerSession::Instance().Classify(InstallTypeToText(type));
    return type & IT_NEWINSTALL ? InstallFiles(master_, catalog_) : RemoveFiles(master_, catalog_);
  }
  size_t Sent(INSTALLMESSAGE type, const std::wstring& needle) {
    auto messages = recorder_->Of(type);
    return std::count_if(messages.begin(), messages.end(),
                         [&](const RecordedMessage& m) { return m.text.find(needle) != std::wstring::npos; });
  }
  std::wstring Log() { return ReadUtf16File(logPath_); }

  std::wstring folder_, logPath_, allUsersDocument_;
  std::unique_ptr<MessageRecorder> recorder_;
  unique_msihandle session_;
  XmlDocument master_;
  OrvoCatalog catalog_;
};

TEST_F(RemoveFilesStep, DeletesOnlyWhatNoProductOrUserStillHolds) {
  std::wstring local = folder_ + L"local\\", pu = folder_ + L"mine\\pu\\", outside = folder_ + L"outside\\";
  std::wstring user = CurrentUserName();
  EnsureFolder(ParentFolder(AppIndexPath()));
  ASSERT_TRUE(WriteFileBytes(
      AppIndexPath(),
      ToNarrow(L"<DocumentRoot><Product ProductCode=\"" + std::wstring(kP1) +
               L"\"><Properties/><Directories><Directory Name=\"PU\" Data=\"" + folder_ +
               L"nobody\\\" Flags=\"1\"/></Directories><Users><User Name=\"" + EscapeXml(user) +
               L"\"><Directories><Directory Name=\"LocalAppDataFolder\" Data=\"" + local +
               L"\"/><Directory Name=\"PU\" Data=\"" + pu + L"\" Flags=\"1\"/></Directories></User></Users></Product>"
               L"</DocumentRoot>")));
  // Extracted in name order: Sub\Deeper\ is recorded first, so "\" is visited first (top, shared, ro, modified).
  std::wstring cabinet = folder_ + L"A.cab";
  ASSERT_TRUE(WriteContentCabinet(cabinet, {{L"Sub\\Deeper\\deep.txt", "deep"}, {L"top.txt", "top"},
                                            {L"modified.txt", "original"}, {L"ro.txt", "ro"}, {L"shared.txt", "shared"}}));
  Orvo& alpha = AddOrvo(L"RemA", kRequestInstall);
  auto entry = std::make_unique<CabinetEntry>();
  entry->name = L"A.cab";
  entry->sourcePath = cabinet;
  entry->cachePath = folder_ + L"cache\\A.cab";
  entry->targetDirectories[L""] = {L"PU"};
  alpha.cabinets.push_back(std::move(entry));
  AddOrvo(L"RemIdle", kRequestNull);
  std::wstring document = local + L"Keltra\\Orvos\\RemA_ref.xml";
  auto prepare = [&](const std::wstring& sharedRefs) {
    alpha.request = kRequestInstall;
    ASSERT_EQ(0u, Run(IT_NEWINSTALL));
    ASSERT_EQ(5u, CountOf(Recorded(document), L"=")) << ToNarrow(Recorded(document));
    SetFileAttribute(document, L"shared.txt", L"ref", sharedRefs);
    SetFileAttribute(document, L"modified.txt", L"hash", FileHashText(pu + L"modified.txt"));
    WriteFileBytes(pu + L"modified.txt", "the user's");
    SetFileAttributesW((pu + L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    alpha.request = kRequestRemove;
  };
  prepare(std::wstring(kP2) + kP1);

  // Planted beside it: folders of no installation, and names that climb out.
  EnsureFolder(outside + L"empty\\");
  WriteFileBytes(outside + L"victim.txt", "keep");
  WriteFileBytes(folder_ + L"mine\\victim.txt", "keep");
  std::wstring ref = L"ref=\"" + std::wstring(kP1) + L"\" ";
  std::wstring planted = local + L"Keltra\\Orvos\\RemPlanted_ref.xml";
  WriteFileBytes(planted, ToNarrow(
      L"<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"./orvo_ref.xsd\">"
      L"<Cabinets><Cabinet Name=\"X.cab\"><ExtractionPath Path=\"" + outside + L"\"><SubDirectory Path=\"\\\"><File " + ref +
      L"Name=\"victim.txt\"/></SubDirectory></ExtractionPath><ExtractionPath Path=\"" + outside + L"empty\\\"/>"
      L"<ExtractionPath Path=\"" + pu + L"\"><SubDirectory Path=\"..\\\"><File " + ref + L"Name=\"victim.txt\"/></SubDirectory>"
      L"<SubDirectory Path=\"\\\"><File " + ref + L"Name=\"..\\victim.txt\"/></SubDirectory></ExtractionPath>"
      L"</Cabinet></Cabinets></DocumentRoot>"));
  AddOrvo(L"RemPlanted", kRequestRemove);

  // A cancel answer stops at once: later files stay, the document is not rewritten.
  std::string before = ReadFileBytes(document);
  DeleteFileW(logPath_.c_str());
  recorder_->CancelOn(INSTALLMESSAGE_INFO, L"referenced by another product");
  EXPECT_EQ(1602u, Run(IT_ADDREMOVE));
  EXPECT_EQ(before, ReadFileBytes(document));
  EXPECT_TRUE(FileExists(pu + L"ro.txt") && FileExists(pu + L"Sub\\Deeper\\deep.txt"));
  EXPECT_EQ(std::wstring::npos, Log().find(L"ticks added to progress bar"));

  Reopen();
  ASSERT_EQ(0u, Run(IT_ADDREMOVE));
  EXPECT_EQ(L"\\|shared.txt=" + std::wstring(kP2) + L"\n", Recorded(document)) << "the other product's code stays";
  EXPECT_EQ("shared", ReadFileBytes(pu + L"shared.txt"));
  EXPECT_EQ("the user's", ReadFileBytes(pu + L"modified.txt"));
  for (const wchar_t* gone : {L"ro.txt", L"top.txt", L"Sub\\Deeper\\deep.txt", L"Sub\\Deeper\\", L"Sub\\"})
    EXPECT_FALSE(PathExists(pu + gone)) << ToNarrow(gone);
  EXPECT_EQ(1u, Sent(INSTALLMESSAGE_INFO, L"orvo_Remove:  -> The following file is referenced by another product"));
  EXPECT_EQ(1u, Sent(INSTALLMESSAGE_INFO, L"orvo_Remove:  -> The following file is user-modified"));
  EXPECT_EQ(1u, Sent(INSTALLMESSAGE_ACTIONDATA, pu + L"ro.txt"));
  EXPECT_EQ(5u, recorder_->Of(INSTALLMESSAGE_ACTIONDATA).size());
  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L" => RemIdle not slated for uninstall\r\n"));
  EXPECT_NE(std::wstring::npos, log.find(L"  => Processing " + document + L"\r\n"));
  EXPECT_NE(std::wstring::npos, log.find(L" => 10000 ticks added to progress bar\r\n")) << "planted files count nothing";
  EXPECT_EQ(int(kCurrentlyNotInstalled), alpha.current);
  EXPECT_TRUE(master_.changed());
  EXPECT_EQ("keep", ReadFileBytes(outside + L"victim.txt"));
  EXPECT_EQ("keep", ReadFileBytes(folder_ + L"mine\\victim.txt"));
  EXPECT_TRUE(IsFolder(outside + L"empty\\")) << "an empty folder named by a planted document stays";
  EXPECT_EQ(3u, CountOf(Recorded(planted), L"=")) << "refused elements are left as they were";

  // Forced complete removal once the other product is gone: the emptied
  // document goes, and with the last document its schema and folder.
  DeleteFileW(planted.c_str());
  catalog_.orvos().erase(L"RemPlanted");
  prepare(kP1);
  MsiSetPropertyW(session_.get(), L"FORCE_FILE_DELETE_ON_UNINSTALL", L"1");
  ASSERT_EQ(0u, Run(IT_UNINSTALL));
  EXPECT_FALSE(PathExists(pu)) << "every file went, and the emptied extraction folder";
  EXPECT_FALSE(PathExists(local + L"Keltra\\Orvos\\"));
  EXPECT_TRUE(PathExists(local + L"Keltra\\"));
}

}  // namespace

namespace {

// Emptied folders go up to the extraction folder; a file standing where a
// recorded folder was, a folder still holding something and a folder
// outside stay.
TEST(PruneFolderChain, RemovesOnlyEmptiedFoldersInside) {
  std::wstring root = ScratchFolder(L"prune"), extraction = root + L"x\\";
  EnsureFolder(extraction + L"A\\B\\");
  WriteFileBytes(extraction + L"C", "a file where a folder was");
  EnsureFolder(extraction + L"D\\E\\");
  WriteFileBytes(extraction + L"D\\kept.txt", "kept");
  PruneFolderChain(extraction, L"A\\B\\");
  EXPECT_FALSE(PathExists(extraction + L"A\\"));
  PruneFolderChain(extraction, L"C\\");
  EXPECT_EQ("a file where a folder was", ReadFileBytes(extraction + L"C"));
  PruneFolderChain(extraction, L"D\\E\\");
  EXPECT_FALSE(PathExists(extraction + L"D\\E\\"));
  EXPECT_EQ("kept", ReadFileBytes(extraction + L"D\\kept.txt"));
  EnsureFolder(root + L"outside\\");
  PruneFolderChain(extraction, L"..\\outside\\");
  EXPECT_TRUE(IsFolder(root + L"outside\\"));
  EXPECT_TRUE(IsFolder(extraction));
  // Held folders are let go to be removed; the extraction folder stays held.
  PinnedFolders pins;
  EnsureFolder(extraction + L"F\\G\\");
  ASSERT_EQ(L"", pins.Pin(extraction + L"F\\G\\"));
  PruneFolderChains(extraction, {L"F\\G\\"}, pins);
  EXPECT_FALSE(PathExists(extraction + L"F\\"));
  EXPECT_TRUE(pins.Holds(extraction));
  pins.Clear();
  RemoveTree(root);
}

}  // namespace
