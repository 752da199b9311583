// File installation inside one real installer session: the reference
// documents that extractions leave, the overwrite decisions, progress and
// cancellation, and the directory rules of the installation step on an
// application index and a catalogue built for the test.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <map>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "cab_writer.h"
#include "content_pack.h"
#include "catalog/orvo_model.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/deployment_state.h"
#include "deploy/install_files.h"
#include "deploy/install_handler.h"
#include "deploy/reference_document.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/message_recorder.h"
#include "support/msi_package.h"
#include "support/links.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kP1[] = L"{11111111-1111-1111-1111-111111111111}";
const wchar_t kP2[] = L"{22222222-2222-2222-2222-222222222222}";

std::string IndexLine(std::string key, const std::string& path) {
  key.resize(38, ' ');
  return key + path + "\r\n";
}

// A content cabinet: its IndexFile.dat first, then the files under keys.
void MakeContentCabinet(const std::wstring& path, const std::vector<std::pair<std::string, std::string>>& files) {
  std::string index;
  for (size_t i = 0; i < files.size(); ++i) index += IndexLine("k" + std::to_string(i), files[i].first);
  cab::CabinetWriter writer(ToNarrow(path), {});
  ASSERT_TRUE(writer.StartFolder(cab::Compression::Mszip())) << writer.error();
  ASSERT_TRUE(writer.AddFile({"IndexFile.dat"}, index.data(), index.size())) << writer.error();
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& data = files[i].second;
    ASSERT_TRUE(writer.AddFile({"k" + std::to_string(i)}, data.data(), data.size())) << writer.error();
  }
  ASSERT_TRUE(writer.Finish()) << writer.error();
}

// Every File element of a reference document, in document order, as
// "ExtractionPath|SubDirectory|Name=ref" lines.
std::wstring Recorded(const std::wstring& documentPath) {
  std::wstring out;
  XmlDocument document;
  if (!document.Load(documentPath)) return L"<unloadable>";
  DomNodeList* files = document.document()->getElementsByTagName(L"File");
  for (XMLSize_t i = 0; i < files->getLength(); ++i) {
    auto* file = static_cast<DomElement*>(files->item(i));
    auto* sub = static_cast<DomElement*>(file->getParentNode());
    out += AttributeText(static_cast<DomElement*>(sub->getParentNode()), L"Path") + L"|" + AttributeText(sub, L"Path") +
           L"|" + AttributeText(file, L"Name") + L"=" + AttributeText(file, L"ref") + L"\n";
  }
  return out;
}

// Sets (or, with an empty text, leaves) the hash of each named File element.
void SetHashes(const std::wstring& documentPath, const std::map<std::wstring, std::wstring>& hashes) {
  XmlDocument document;
  ASSERT_TRUE(document.Load(documentPath));
  DomNodeList* files = document.document()->getElementsByTagName(L"File");
  for (XMLSize_t i = 0; i < files->getLength(); ++i) {
    auto* file = static_cast<DomElement*>(files->item(i));
    auto found = hashes.find(AttributeText(file, L"Name"));
    if (found != hashes.end()) file->setAttribute(L"hash", found->second.c_str());
  }
  ASSERT_TRUE(document.Save());
}

class InstallSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    SetExtractDiagnostics(false);
    folder_ = ScratchFolder(L"install");
    {
      MsiPackage package(folder_ + L"p.msi");
      package.Commit();
    }
    recorder_ = std::make_unique<MessageRecorder>();
    session_ = OpenPackage(folder_ + L"p.msi");
    ASSERT_TRUE(session_);
    logPath_ = CombinePath(TempFolder(), L"orvo_install_test.log");
    DeleteFileW(logPath_.c_str());
    InstallerSession::Instance().Begin(session_.get(), L"InstallTest", L"orvo_install_test.log");
  }
  void TearDown() override {
    ResetState();
    session_.reset();
    recorder_.reset();
    RemoveTree(folder_);
  }
  static void ResetState() {
    DeploymentState& state = DeploymentState::Instance();
    state.abortRequested = false;
    state.noOverwrite = false;
    state.repairFiles = false;
    state.suppressRefCounts = false;
    state.extractionPathElement = nullptr;
    state.subDirectoryElement = nullptr;
  }
  void Classify(unsigned type) { InstallerSession::Instance().Classify(InstallTypeToText(type)); }
  std::wstring Log() { return ReadUtf16File(logPath_); }
  bool Logged(const std::wstring& line) {
    auto lines = SplitLines(Log());
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  size_t Sent(INSTALLMESSAGE type, const std::wstring& needle) {
    size_t n = 0;
    for (const auto& m : recorder_->Of(type)) n += m.text.find(needle) != std::wstring::npos;
    return n;
  }

  // One extraction as the installation step runs it: document loaded,
  // extraction located, cabinet extracted through the handler, document saved.
  int Extract(const std::wstring& cabinet, const std::wstring& target, const std::wstring& documentPath) {
    DeploymentState& state = DeploymentState::Instance();
    ProvideReferenceSchema(documentPath);
    XmlDocument document;
    DomDocument* loaded = nullptr;
    EXPECT_TRUE(LoadDocument(document, documentPath, loaded)) << document.LastError();
    state.targetFolder = target;
    EXPECT_TRUE(LocateExtractionPath(loaded, LastPathComponent(cabinet)));
    int result = ExtractCabinet(cabinet, target, InstallHandler);
    EXPECT_TRUE(document.Save());
    return result;
  }

  std::wstring folder_, logPath_;
  std::unique_ptr<MessageRecorder> recorder_;
  unique_msihandle session_;
};

TEST_F(InstallSession, ReferenceDocumentsRecordOverwriteDecisionsProgressAndCancel) {
  DeploymentState& state = DeploymentState::Instance();
  std::wstring cabinet = folder_ + L"C.cab";
  MakeContentCabinet(cabinet, {{"top.txt", "top"}, {"Sub\\Deeper\\deep.txt", "deep"}, {"same.txt", "same"},
                               {"changed.txt", "original"}, {"missing.txt", "missing"}});
  std::wstring target = folder_ + L"target\\";
  std::wstring document = folder_ + L"Keltra\\Orvos\\X_ref.xml";
  std::wstring temporaryIndex = CombinePath(TempFolder(), L"IndexFile.dat");

  state.productCode = kP1;
  ASSERT_EQ(1, Extract(cabinet, target, document));
  ASSERT_EQ(1, Extract(cabinet, target, document)) << "the same product again";
  state.productCode = kP2;
  ASSERT_EQ(1, Extract(cabinet, target, document));
  std::wstring root = target + L"|\\|", both = std::wstring(kP2) + kP1 + L"\n";
  EXPECT_EQ(root + L"top.txt=" + both + root + L"same.txt=" + both + root + L"changed.txt=" + both + root +
                L"missing.txt=" + both + target + L"|Sub\\Deeper\\|deep.txt=" + both,
            Recorded(document))
      << "one code per product, the newest first; no IndexFile.dat, no folder outside the target";
  {
    XmlDocument validated;
    DomDocument* loaded = nullptr;
    EXPECT_TRUE(LoadDocument(validated, document, loaded)) << validated.LastError();
    EXPECT_EQ(2u, loaded->getElementsByTagName(L"SubDirectory")->getLength());
  }

  // same.txt is as recorded, changed.txt was changed by the user, missing.txt deleted.
  SetHashes(document, {{L"same.txt", FileHashText(target + L"same.txt")},
                       {L"changed.txt", FileHashText(target + L"changed.txt")},
                       {L"missing.txt", FileHashText(target + L"missing.txt")}});
  WriteFileBytes(target + L"changed.txt", "the user's version");
  DeleteFileW((target + L"missing.txt").c_str());
  recorder_->Clear();
  state.productCode = kP1;
  ASSERT_EQ(1, Extract(cabinet, target, document));
  EXPECT_EQ(0u, Sent(INSTALLMESSAGE_ACTIONDATA, L"same.txt")) << "equal hash: skipped";
  EXPECT_EQ("the user's version", ReadFileBytes(target + L"changed.txt")) << "a changed file is kept";
  EXPECT_EQ("missing", ReadFileBytes(target + L"missing.txt")) << "a recorded file that is gone comes back";

  state.repairFiles = true;
  recorder_->Clear();
  ASSERT_EQ(1, Extract(cabinet, target, document));
  EXPECT_EQ("original", ReadFileBytes(target + L"changed.txt")) << "a repair writes the changed file again";
  EXPECT_EQ(1u, Sent(INSTALLMESSAGE_INFO, L"orvo_Install:   Repairing file: " + target + L"changed.txt"));
  EXPECT_EQ(0u, Sent(INSTALLMESSAGE_ACTIONDATA, L"same.txt")) << "an equal hash is left alone even in a repair";

  // No overwrite, even in a repair; a leftover temporary index is still the
  // extractor's to write and remove.
  state.noOverwrite = true;
  WriteFileBytes(target + L"top.txt", "user top");
  DeleteFileW((target + L"Sub\\Deeper\\deep.txt").c_str());
  WriteFileBytes(temporaryIndex, "leftover");
  ASSERT_EQ(1, Extract(cabinet, target, document));
  EXPECT_EQ("user top", ReadFileBytes(target + L"top.txt"));
  EXPECT_EQ("deep", ReadFileBytes(target + L"Sub\\Deeper\\deep.txt"));
  EXPECT_TRUE(Logged(L"   - Declining overwrite of " + target + L"top.txt"));
  EXPECT_FALSE(FileExists(temporaryIndex));
  state.noOverwrite = false;
  state.repairFiles = false;

  // One tick per five bytes, the rest kept for the next write; ticks that
  // come quicker than the progress rate are held and sent by the flush.
  FlushProgress();
  unsigned ticks = state.ticksAdded;
  state.tickRemainder = 0;
  recorder_->Clear();
  FormatArg twelve(12), three(3);
  EXPECT_EQ(0, InstallHandler(EXTRACT_WRITTEN, L"%d", &twelve, 1));
  EXPECT_EQ(2u, state.tickRemainder);
  EXPECT_EQ(0, InstallHandler(EXTRACT_WRITTEN, L"%d", &three, 1));
  EXPECT_EQ(0u, state.tickRemainder);
  EXPECT_EQ(0u, recorder_->Of(INSTALLMESSAGE_PROGRESS).size());
  FlushProgress();
  EXPECT_EQ(ticks + 3, state.ticksAdded);
  auto progress = recorder_->Of(INSTALLMESSAGE_PROGRESS);
  ASSERT_EQ(1u, progress.size());
  EXPECT_NE(std::wstring::npos, progress[0].text.find(L"1: 2 2: 3 3: 0")) << progress[0].text;
  Sleep(60);
  FormatArg ten(10);
  EXPECT_EQ(0, InstallHandler(EXTRACT_WRITTEN, L"%d", &ten, 1));
  EXPECT_EQ(2u, recorder_->Of(INSTALLMESSAGE_PROGRESS).size()) << "sent at once after the interval";

  // A cancel answer to a file's action data: that file is still written,
  // nothing after it, and every later message is answered with 2.
  std::wstring fresh = folder_ + L"fresh\\";
  recorder_->CancelOn(INSTALLMESSAGE_ACTIONDATA, L"deep.txt");
  Extract(cabinet, fresh, document);
  EXPECT_TRUE(state.abortRequested);
  EXPECT_EQ("deep", ReadFileBytes(fresh + L"Sub\\Deeper\\deep.txt"));
  EXPECT_FALSE(FileExists(fresh + L"same.txt"));
  EXPECT_TRUE(Logged(L" !=> abort detected"));
  EXPECT_EQ(2, InstallHandler(EXTRACT_TEXT, L"later", nullptr, 0));
}

// Elements removed or added behind the handler's back within one document:
// each file still ends up in exactly one File of its own SubDirectory.
TEST_F(InstallSession, ReferenceEntriesFollowElementsRemovedOrAddedByOthers) {
  DeploymentState& state = DeploymentState::Instance();
  std::wstring cabinet = folder_ + L"C.cab";
  MakeContentCabinet(cabinet, {{"Sub\\b.txt", "b"}, {"Sub\\c.txt", "c"}});
  std::wstring target = folder_ + L"target\\", document = folder_ + L"Keltra\\Orvos\\R_ref.xml";
  state.productCode = kP1;
  ASSERT_EQ(1, Extract(cabinet, target, document));
  XmlDocument loaded;
  ASSERT_TRUE(loaded.Load(document));
  state.targetFolder = target;
  ASSERT_TRUE(LocateExtractionPath(loaded.document(), L"C.cab"));
  LocateSubDirectory(L"Sub");
  DomElement* sub = state.subDirectoryElement;
  ASSERT_TRUE(DecideFileCopy(target + L"Sub\\b.txt"));
  DomElement* b = FindChildElement(sub, L"File", L"Name", L"b.txt");
  ASSERT_TRUE(b);
  sub->removeChild(b);
  DomElement* d = loaded.document()->createElement(L"File");
  d->setAttribute(L"ref", kP2);
  d->setAttribute(L"Name", L"d.txt");
  sub->appendChild(d);
  EXPECT_TRUE(DecideFileCopy(target + L"Sub\\b.txt"));
  DomElement* again = FindChildElement(sub, L"File", L"Name", L"b.txt");
  EXPECT_TRUE(again && again != b) << "a removed File is not written to";
  EXPECT_TRUE(DecideFileCopy(target + L"Sub\\d.txt"));
  EXPECT_EQ(std::wstring(kP1) + kP2, AttributeText(d, L"ref")) << "the File added by another is found";
  state.extractionPathElement->removeChild(sub);
  LocateSubDirectory(L"Sub\\");
  EXPECT_NE(sub, state.subDirectoryElement);
  EXPECT_TRUE(DecideFileCopy(target + L"Sub\\c.txt"));
  ForgetExtractionElements();
  ASSERT_TRUE(loaded.Save());
  EXPECT_EQ(target + L"|Sub\\|c.txt=" + kP1 + L"\n", Recorded(document))
      << "recorded in the new SubDirectory, not in the removed one";
}

// The machine's application index and a catalogue built in memory.
class InstallFilesStep : public InstallSession {
 protected:
  void SetUp() override {
    InstallSession::SetUp();
    indexPath_ = AppIndexPath();
    user_ = CurrentUserName();
    master_ = folder_ + L"master.xml";
    WriteFileBytes(master_, ToNarrow(L"<Master><ProductCode>" + std::wstring(kP1) + L"</ProductCode></Master>"));
    ASSERT_TRUE(masterDocument_.Load(master_));
  }
  void TearDown() override {
    DeleteFileW(indexPath_.c_str());
    DeleteFileW(CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\Alpha_ref.xml").c_str());
    InstallSession::TearDown();
  }
  void WriteIndex(const std::wstring& properties, const std::wstring& directories, const std::wstring& users) {
    std::wstring text = L"<DocumentRoot><Product ProductCode=\"" + std::wstring(kP1) + L"\"><Properties>" +
                        properties + L"</Properties><Directories>" + directories + L"</Directories><Users>" + users +
                        L"</Users></Product></DocumentRoot>";
    EnsureFolder(ParentFolder(indexPath_));
    ASSERT_TRUE(WriteFileBytes(indexPath_, ToNarrow(text)));
  }
  static std::wstring Entry(const wchar_t* tag, const std::wstring& name, const std::wstring& data,
                            const std::wstring& flags = L"") {
    return std::wstring(L"<") + tag + L" Name=\"" + name + L"\" Data=\"" + data + L"\"" +
           (flags.empty() ? L"" : L" Flags=\"" + flags + L"\"") + L"/>";
  }
  Orvo& AddOrvo(const std::wstring& name, const std::wstring& cabinet, const TextList& directories) {
    auto orvo = std::make_unique<Orvo>();
    orvo->name = name;
    orvo->request = kRequestInstall;
    auto entry = std::make_unique<CabinetEntry>();
    entry->name = LastPathComponent(cabinet);
    entry->sourcePath = cabinet;
    entry->cachePath = folder_ + L"cache\\" + name + L"\\" + entry->name;
    entry->targetDirectories[L""] = directories;
    orvo->cabinets.push_back(std::move(entry));
    Orvo& added = *orvo;
    catalog_.orvos()[name] = std::move(orvo);
    return added;
  }

  std::wstring indexPath_, user_, master_;
  XmlDocument masterDocument_;
  OrvoCatalog catalog_;
};

TEST_F(InstallFilesStep, DirectoryRulesPerUserExtractionAndCancel) {
  std::wstring cabinet = folder_ + L"media\\A.cab";
  EnsureFolder(folder_ + L"media\\");
  MakeContentCabinet(cabinet, {{"a.txt", "alpha"}, {"Sub\\b.txt", "beta"}});
  std::wstring ro = folder_ + L"ro\\", shared = folder_ + L"shared\\";
  // The other user's folders lie in a profile folder the system records for them.
  std::wstring mine = folder_ + L"mine\\", theirs = folder_ + L"zz other\\Local\\";
  ASSERT_TRUE(RecordProfile(L"zz other", folder_ + L"zz other\\"));
  DeploymentState::Instance().productFolders = {ro, shared, folder_ + L"nobody\\"};
  WriteIndex(Entry(L"Property", L"CD_READONLY", L"RO") + Entry(L"Property", L"CD_SHARED_FOLDERS", L"RO;SH"),
             Entry(L"Directory", L"RO", ro) + Entry(L"Directory", L"SH", shared, L"1") +
                 Entry(L"Directory", L"PU", folder_ + L"nobody\\", L"1"),
             L"<User Name=\"" + user_ + L"\"><Directories>" + Entry(L"Directory", L"LocalAppDataFolder", mine) +
                 Entry(L"Directory", L"PU", mine + L"pu", L"1") + L"</Directories></User>" +
                 L"<User Name=\"zz other\"><Directories>" + Entry(L"Directory", L"LocalAppDataFolder", theirs) +
                 Entry(L"Directory", L"PU", theirs + L"pu\\\\", L"1") + L"</Directories></User>" +
                 L"<User Name=\"aa nodir\"><Directories>" +
                 Entry(L"Directory", L"LocalAppDataFolder", folder_ + L"nodir\\") + L"</Directories></User>");
  Orvo& alpha = AddOrvo(L"Alpha", cabinet, {L"RO", L"SH", L"PU"});
  Orvo& beta = AddOrvo(L"Beta", cabinet, {L"SH"});
  beta.request = kRequestNull;  // does not take part in a new installation

  Classify(IT_NEWINSTALL);
  ASSERT_EQ(0u, InstallFiles(masterDocument_, catalog_));
  EXPECT_TRUE(Logged(L"    -> Readonly flag set on directory RO"));
  EXPECT_FALSE(Logged(L"    -> RO installed as Shared. Suppressing ref counts.")) << "read-only wins over shared";
  EXPECT_TRUE(Logged(L"    -> SH installed as Shared. Switching off per-user flag."));
  EXPECT_TRUE(Logged(L"    -> SH installed as Shared. Suppressing ref counts."));
  EXPECT_TRUE(Logged(L"    -> Restoring ref counts."));
  EXPECT_TRUE(Logged(L"   !-> Directory PU is not defined for user aa nodir"));
  EXPECT_TRUE(Logged(L"  -> Extracting " + cabinet + L" to " + shared));
  std::wstring cache = alpha.cabinets[0]->cachePath;
  EXPECT_TRUE(Logged(L"  -> Extracting " + cache + L" to " + theirs + L"pu\\")) << "from the cached copy";
  EXPECT_FALSE(Logged(L" => Installing Beta"));
  EXPECT_FALSE(FileExists(ro + L"a.txt"));
  EXPECT_EQ("alpha", ReadFileBytes(shared + L"a.txt"));
  EXPECT_EQ("beta", ReadFileBytes(mine + L"pu\\Sub\\b.txt"));
  EXPECT_EQ("beta", ReadFileBytes(theirs + L"pu\\Sub\\b.txt"));
  for (const std::wstring& owner : {mine, theirs}) {
    EXPECT_EQ(owner + L"pu\\|\\|a.txt=" + kP1 + L"\n" + owner + L"pu\\|Sub\\|b.txt=" + kP1 + L"\n",
              Recorded(owner + L"Keltra\\Orvos\\Alpha_ref.xml"));
  }
  std::wstring allUsers = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\Alpha_ref.xml");
  EXPECT_EQ(std::wstring::npos, Recorded(allUsers).find(shared)) << "a shared directory is not reference counted";
  EXPECT_EQ(int(kCurrentlyInstalled), alpha.current);
  EXPECT_TRUE(masterDocument_.changed());

  // A cancel in the first Orvo: it is still marked installed, the next one
  // does not start, and the step ends with 1602.
  beta.request = kRequestInstall;
  alpha.current = kCurrentlyNotInstalled;
  RemoveTree(shared);
  recorder_->CancelOn(INSTALLMESSAGE_ACTIONDATA, L"a.txt");
  DeleteFileW(logPath_.c_str());
  EXPECT_EQ(1602u, InstallFiles(masterDocument_, catalog_));
  EXPECT_EQ(int(kCurrentlyInstalled), alpha.current);
  EXPECT_FALSE(Logged(L" => Installing Beta"));
  EXPECT_FALSE(FileExists(shared + L"Sub\\b.txt"));
  EXPECT_NE(std::wstring::npos, Log().find(L" => Elapsed time: 00:00:"));
}

// A split set is cached whole: another user's extraction from the cached
// copy needs the continuing cabinet too.
TEST_F(InstallFilesStep, ASplitSetIsCachedWhole) {
  EnsureFolder(folder_ + L"media\\");
  std::vector<cab::PackItem> items(2);
  items[0].relativePath = "a.txt";
  items[0].bytes.assign(3000, 'a');
  items[1].relativePath = "Sub\\b.txt";
  items[1].bytes.assign(3000, 'b');
  cab::PackOptions options;
  options.compression = cab::Compression::Stored();
  options.set.maxCabinetSize = 2500;
  cab::PackResult packed;
  std::string error;
  ASSERT_TRUE(cab::PackItems(ToNarrow(folder_ + L"media\\S.cab"), items, options, &packed, &error)) << error;
  ASSERT_GE(packed.cabinets.size(), 2u);
  std::wstring mine = folder_ + L"mine\\", theirs = folder_ + L"zz other\\Local\\";
  ASSERT_TRUE(RecordProfile(L"zz other", folder_ + L"zz other\\"));
  WriteIndex(L"", Entry(L"Directory", L"PU", folder_ + L"nobody\\", L"1"),
             L"<User Name=\"" + user_ + L"\"><Directories>" + Entry(L"Directory", L"LocalAppDataFolder", mine) +
                 Entry(L"Directory", L"PU", mine + L"pu\\", L"1") + L"</Directories></User>" +
                 L"<User Name=\"zz other\"><Directories>" + Entry(L"Directory", L"LocalAppDataFolder", theirs) +
                 Entry(L"Directory", L"PU", theirs + L"pu\\", L"1") + L"</Directories></User>");
  Orvo& alpha = AddOrvo(L"Alpha", folder_ + L"media\\S.cab", {L"PU"});
  for (size_t i = 1; i < packed.cabinets.size(); ++i)
    alpha.cabinets[0]->continuing.push_back({LastPathComponent(ToWide(packed.cabinets[i])), L""});

  Classify(IT_NEWINSTALL);
  ASSERT_EQ(0u, InstallFiles(masterDocument_, catalog_));
  for (const std::wstring& owner : {mine, theirs}) {
    EXPECT_EQ(std::string(3000, 'a'), ReadFileBytes(owner + L"pu\\a.txt"));
    EXPECT_EQ(std::string(3000, 'b'), ReadFileBytes(owner + L"pu\\Sub\\b.txt"));
  }
}

}  // namespace
