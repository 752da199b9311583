#include "catalog/catalog_initialization.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <set>

#include "action/installer_session.h"
#include "catalog/hand_over_data.h"
#include "catalog/untrusted_paths.h"
#include "catalog/initial_selection.h"
#include "documents/journal.h"
#include "catalog/product_folders.h"
#include "documents/paths.h"
#include "documents/text_lists.h"
#include "media/http_session.h"
#include "media/media_locator.h"

namespace orvo {
namespace {

const wchar_t kChangedSuffix[] = L"_0409182025";

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
  return !folder.empty() && path.size() >= folder.size() && FoldCase(path.substr(0, folder.size())) == FoldCase(folder);
}

bool ExecuteFlag() {
  auto& session = InstallerSession::Instance();
  std::wstring guid = session.GetProperty(L"_ORVOGUID", true);
  return session.EvaluateCondition(L"ORVO_KELTRAEXECUTEFLAG%s", guid);
}

void AddOnce(TextList& list, const std::wstring& name) {
  if (!ContainsText(list, name, true)) list.push_back(name);
}

// Every Orvo reached through inheritance, each once; a cycle ends where it
// meets a name already collected, and the Orvo itself is never its own base.
void CollectInherited(const OrvoCatalog& catalog, const Orvo& orvo, TextList& names) {
  std::set<std::wstring> seen{orvo.name};
  std::vector<const Orvo*> pending{&orvo};
  while (!pending.empty()) {
    const Orvo* current = pending.back();
    pending.pop_back();
    for (const auto& name : current->inherits) {
      if (!seen.insert(name).second) continue;
      names.push_back(name);
      if (const Orvo* base = catalog.Find(name)) pending.push_back(base);
    }
  }
}

std::wstring FoundIn(const std::wstring& start, const std::wstring& document) {
  auto& session = InstallerSession::Instance();
  for (std::wstring folder = start; !folder.empty(); folder = ParentFolder(folder)) {
    std::wstring candidate = CombinePath(folder, document);
    if (PathExists(candidate)) return folder;
    session.Log(L"  => %s not available", candidate);
  }
  return std::wstring();
}

}  // namespace

std::wstring InstalledMasterFolder() {
  auto& session = InstallerSession::Instance();
  if (ExecuteFlag()) return CombinePath(CombinePath(TempFolder(), L"OrvosFolder"));
  std::wstring rootName = session.GetProperty(L"ORVO_PRODUCTROOT");
  if (rootName.empty()) rootName = L"INSTALLDIR";
  return CombinePath(CombinePath(session.GetProperty(rootName), L"Orvos"));
}

std::wstring FindSetupFolder(const std::wstring& sourceFolder) {
  std::wstring temp = TempFolder();
  std::wstring relative = StartsWithFolder(sourceFolder, temp) ? sourceFolder.substr(temp.size()) : sourceFolder;
  size_t slash = relative.find(L'\\');
  relative = slash == std::wstring::npos ? std::wstring() : relative.substr(slash + 1);

  DWORD processes[1024];
  DWORD bytes = 0;
  if (!EnumProcesses(processes, sizeof processes, &bytes)) return std::wstring();
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    unique_handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processes[i]));
    if (!process) continue;
    wchar_t module[260] = {0};
    if (!GetModuleFileNameExW(process.get(), nullptr, module, 260)) continue;
    std::wstring path = FoldCase(module);
    if (path.find(L"SETUP.EXE") == std::wstring::npos) continue;
    std::wstring candidate = CombinePath(ParentFolder(path), relative);
    if (PathExists(candidate)) return candidate;
  }
  return std::wstring();
}

std::wstring ResolveMasterDocumentPath() {
  auto& session = InstallerSession::Instance();
  session.Log(L"  => Resolving path to master document");
  std::wstring document = session.GetProperty(L"ORVO_DOCUMENT");
  if (document.empty()) {
    session.Log(L"!=> Failed get property %s", L"ORVO_DOCUMENT");
    return std::wstring();
  }
  std::wstring source = session.SourceFolder();
  std::wstring folder = FoundIn(source, document);
  if (folder.empty() && ExecuteFlag() && StartsWithFolder(source, TempFolder())) {
    folder = FoundIn(FindSetupFolder(source), document);
  }
  if (folder.empty()) return std::wstring();
  if (session.GetProperty(L"KELTRA_SOURCE_ROOT").empty()) session.SetPropertyText(L"KELTRA_SOURCE_ROOT", folder);
  std::wstring path = CombinePath(folder, document);
  session.Log(L"Found %s", path);
  return path;
}

bool MergeDeploymentDocument(XmlDocument& master) {
  auto& session = InstallerSession::Instance();
  bool deployment = (session.installType() & IT_NEWINSTALL) && session.EvaluateCondition(L"ORVO_DEPLOYMENTNAME");
  std::wstring standaloneRoot = CombinePath(session.GetProperty(L"KELTRA_SOURCE_ROOT"), L"Content\\Standalone");
  std::wstring path = deployment
                          ? CombinePath(CombinePath(standaloneRoot, session.GetProperty(L"ORVO_DEPLOYMENTNAME")),
                                        L"KeltraContent.xml")
                          : CombinePath(TempFolder(), L"KeltraContent.xml");
  if (!PathExists(path)) return false;

  XmlDocument content;
  DomDocument* document = nullptr;
  if (!LoadDocument(content, path, document, WriteToInstallLog)) return false;
  DomElement* offered = FindChildElement(content.root(), L"Orvos", L"ProductCode", session.GetProperty(L"ProductCode"));
  DomElement* orvos = FirstChildElement(master.root(), L"Orvos");
  if (!offered || !orvos) return false;

  bool added = false;
  for (DomNode* node = offered->getFirstChild(); node; node = node->getNextSibling()) {
    if (node->getNodeType() != DomNode::ELEMENT_NODE || std::wstring(node->getNodeName()) != L"Orvo") continue;
    auto* element = static_cast<DomElement*>(node);
    if (FindChildElement(orvos, L"Orvo", L"Name", AttributeText(element, L"Name"))) continue;
    DomElement* copy = CopyElement(master.document(), element);
    if (!copy) continue;
    if (deployment) SetChildText(copy, L"StandalonePath", CombinePath(standaloneRoot, ChildText(element, L"StandalonePath")));
    orvos->appendChild(copy);
    added = true;
  }
  offered->getParentNode()->removeChild(offered)->release();
  if (!deployment) content.Save();
  return added;
}

bool IsNewUser(AppIndex& index) {
  auto& session = InstallerSession::Instance();
  TextList users;
  index.ListUsers(session.GetProperty(L"ProductCode"), users);
  if (ContainsText(users, CurrentUserName(), false)) return false;
  session.Log(L"  !=> Unknown user. Executing install of per-user content.");
  session.SetPropertyText(L"THISUSERHASNOTRUNTHEPRODUTCYET", L"true");
  return true;
}

void RegisterDirectories(const Orvo& orvo, AppIndex& index) {
  static TextList handled;  // for the life of the library
  auto record = [&](const std::wstring& name) {
    if (name.empty() || ContainsText(handled, name, true)) return;
    handled.push_back(name);
    if (!index.WriteDirectory(std::wstring(), name, false))
      InstallerSession::Instance().Log(L" !=> Error writing folder %s to appIndex.xml", name);
  };
  for (const auto& cabinet : orvo.cabinets) {
    for (const auto& entry : cabinet->targetDirectories) {
      for (const auto& name : entry.second) record(name);
    }
  }
  for (const auto& published : orvo.publishedDirectories) record(published.second);
}

int InitializeCatalog(OrvoCatalog& catalog, const std::function<void()>& afterHandOver) {
  auto& session = InstallerSession::Instance();
  const unsigned type = session.installType();
  const bool firstInstall = (type & IT_NEWINSTALL) != 0;
  const bool choice = (type & (IT_NEWINSTALL | IT_ADDREMOVE)) != 0;
  const bool secondaryOrPatch = (type & (IT_SECONDARY | IT_PATCH)) != 0;

  const bool executeFlag = ExecuteFlag();
  std::wstring installedFolder = InstalledMasterFolder();
  std::wstring installedPath = CombinePath(installedFolder, L"master.xml");

  std::wstring sourcePath;
  if (firstInstall) {
    sourcePath = ResolveMasterDocumentPath();
    if (sourcePath.empty()) {
      session.Log(L" !=> Failed to locate master document");
      return 1608;
    }
    EnsureFolder(installedFolder);
    CopyPath(sourcePath, installedPath, true);
    CopyPath(CombinePath(ParentFolder(sourcePath), L"master.xsd"), CombinePath(installedFolder, L"master.xsd"), true);
  }

  XmlDocument master;
  DomDocument* document = nullptr;
  if (!LoadDocument(master, installedPath, document, WriteToInstallLog)) return 0;
  DomElement* root = master.root();

  if (firstInstall) {
    session.GetProperty(L"ORVO_DOCUMENT");
    std::wstring mediaRoot = session.GetProperty(L"KELTRA_SOURCE_ROOT");
    SetChildText(root, L"MediaRoot", mediaRoot);
    SetChildText(root, L"OrvoInstallRoot", ParentFolder(installedPath));
    SetChildText(root, L"MasterDocumentFolder", StripPrefix(ParentFolder(sourcePath), mediaRoot));
    master.Save();
  }

  MediaLocator::Instance().SetUp(TrustedMediaRoot(master), ChildText(root, L"URL"));
  if (!secondaryOrPatch) MergeDeploymentDocument(master);

  catalog.Load(master, (type & IT_SECONDARY) == 0);
  if (executeFlag) {
    session.SetPropertyText(L"ORVO_EXECSEQDOWNLOADCOMPLETE", L"1");
    session.Log(L"  UI initialization complete");
    return 0;
  }
  if (!secondaryOrPatch) master.Save();

  AppIndex index;
  index.SetIndexedProperty(std::wstring(), L"ORVO_INSTALLED_MASTER_DOCUMENT", installedPath);

  std::wstring skip = session.GetProperty(L"CD_SKIP");
  SetChildText(root, L"ProductCode", session.GetProperty(L"ProductCode"));
  SetChildText(root, L"SkipFolders", skip);

  for (const wchar_t* list : {L"CD_LOCAL_FOLDERS", L"CD_SHARED_FOLDERS", L"CD_NO_OVERWRITE", L"CD_READONLY"}) {
    if (session.EvaluateCondition(L"%s%s", list, kChangedSuffix) || firstInstall) {
      index.SetIndexedProperty(std::wstring(), list, session.GetProperty(list));
    } else {
      session.SetPropertyText(list, index.GetIndexedProperty(std::wstring(), list));
    }
  }

  // Folder records: field 3 names a directory, 6 its local and 7 its shared folder.
  TextList local, shared;
  SplitFields(session.GetProperty(L"CD_LOCAL_FOLDERS"), L';', local);
  SplitFields(session.GetProperty(L"CD_SHARED_FOLDERS"), L';', shared);
  for (int n = 0;; ++n) {
    std::wstring record = session.GetProperty(Format(L"RCITEM_%d", n));
    if (record.empty()) break;
    TextList fields;
    SplitFields(record, L';', fields);
    if (fields.size() < 9) continue;
    const std::wstring& directory = fields[3];
    std::wstring folder;
    if (ContainsText(local, directory, true)) {
      folder = firstInstall ? fields[6] : index.GetIndexedDirectory(std::wstring(), directory);
    } else if (ContainsText(shared, directory, true)) {
      folder = firstInstall ? fields[7] : index.GetIndexedDirectory(std::wstring(), directory);
    }
    if (folder.empty()) continue;
    session.SetPropertyText(directory, folder);
    if (firstInstall) session.SetTargetPath(directory, folder);
  }

  std::wstring selection = InitialSelection(root, catalog);

  if (choice) {
    index.SetIndexedProperty(std::wstring(), L"ORVO_SHORTCUT", session.GetProperty(L"ORVO_SHORTCUT"));
    session.SetPropertyText(std::wstring(L"ORVO_SHORTCUT") + kChangedSuffix, L"Yes");
  } else {
    session.SetPropertyText(L"ORVO_SHORTCUT", index.GetIndexedProperty(std::wstring(), L"ORVO_SHORTCUT"));
  }

  // A complete removal keeps nothing, whatever was recorded.
  if (type & IT_UNINSTALL) selection.clear();
  TextList selected, superseded, keep, drop, excluded;
  SplitText(selection, L";", selected, true);
  bool sourceNeeded = false;

  session.Log(L"  => Set install states and resolve directories");
  if (IsNewUser(index)) {
    session.Classify(InstallTypeToText(session.installType() | IT_NEWUSER));
    index.WriteProduct();
  }
  const unsigned current = session.installType();
  const bool secondary = (current & IT_SECONDARY) != 0;
  const bool newUser = (current & IT_NEWUSER) != 0;

  for (auto& entry : catalog.orvos()) {
    Orvo& orvo = *entry.second;
    for (const auto& cabinet : orvo.cabinets) {
      if (cabinet->condition.empty()) continue;
      std::wstring label = Format(L"%s:%s", orvo.name, cabinet->name);
      session.Log(L"  => Evaluating condition on %s", label);
      if (!session.EvaluateConditionText(cabinet->condition, false)) excluded.push_back(label);
    }
    if (secondary || newUser) RegisterDirectories(orvo, index);
    if (secondary && !newUser) continue;
    if (!newUser) orvo.SetRequest(kRequestNull);
    RegisterDirectories(orvo, index);

    for (const auto& name : orvo.supersedes) {
      session.Log(L"  => %s supercedes %s", orvo.name, name);
      AddOnce(superseded, name);
      if (ContainsText(selected, name, true)) AddOnce(selected, orvo.name);
      if (ContainsText(keep, name, true)) AddOnce(keep, orvo.name);
      if (ContainsText(drop, name, true)) AddOnce(drop, orvo.name);
    }

    bool isSelected = ContainsText(selected, orvo.name, true);
    if (isSelected && orvo.current == kCurrentlyNotInstalled) {
      orvo.SetRequest(kRequestInstall);
      if (!orvo.standalone) sourceNeeded = true;
    } else if (orvo.display && !isSelected && orvo.current == kCurrentlyInstalled) {
      orvo.SetRequest(kRequestRemove);
    }
    CollectInherited(catalog, orvo, isSelected ? keep : drop);
  }

  MarkIdAttribute(master.document(), L"Orvo", L"Name");
  TextList keepOnce, dropOnce;
  for (const auto& name : keep) AddOnce(keepOnce, name);
  for (const auto& name : drop) {
    if (!ContainsText(keepOnce, name, true)) AddOnce(dropOnce, name);
  }
  auto installedElement = [&](const std::wstring& name) -> Orvo* {
    DomElement* element = master.document()->getElementById(name.c_str());
    Orvo* orvo = catalog.Find(name);
    return element && orvo && AttributeText(element, L"Installed") == L"true" ? orvo : nullptr;
  };
  for (const auto& name : keepOnce) {
    if (Orvo* orvo = installedElement(name)) orvo->SetRequest(kRequestInstall);
  }
  for (const auto& name : dropOnce) {
    if (ContainsText(selected, name, true)) continue;
    if (Orvo* orvo = installedElement(name)) orvo->SetRequest(kRequestRemove);
  }
  for (const auto& name : superseded) {
    if (Orvo* orvo = installedElement(name)) orvo->SetRequest(kRequestRemove);
  }

  uint64_t ticks = 0;
  for (const auto& entry : catalog.orvos()) {
    const Orvo& orvo = *entry.second;
    if (orvo.request == kRequestInstall) ticks += orvo.TickEstimate(skip, catalog) / 5;
    else if (orvo.request == kRequestRemove) ticks += orvo.TickEstimate(skip, catalog) * 10000 / 5;
  }
  unsigned low = static_cast<unsigned>(ticks);
  session.Log(L"  => Reserving %d ticks on the progress bar. Actual value: %u", static_cast<int>(low), low);
  session.ReportProgress(3, static_cast<int>(low), 0);

  if (sourceNeeded && (current & (IT_REPAIRFIL | IT_NEWINSTALL | IT_ADDREMOVE)) && !session.SourceFolder().empty())
    ResolveMasterDocumentPath();

  if (!secondaryOrPatch) master.Save();

  std::wstring guid = session.GetProperty(L"_ORVOGUID", true);
  HandOverData data;
  data.installType = session.installTypeText();
  data.masterDocument = installedPath;
  data.windowTitle = session.GetProperty(L"ORVO_DOWNLOADDIALOG");
  data.userName = CurrentUserName();
  data.forceDelete = session.EvaluateCondition(L"FORCE_FILE_DELETE_ON_UNINSTALL");
  data.transaction = NewTransactionName();
  // The deferred actions read no properties: the download limits travel along.
  data.downloadDeadline = std::to_wstring(MediaLocator::Instance().deadline());
  data.downloadStall = std::to_wstring(HttpSession::timeout() / 1000);
  data.SetProductFolders(ResolveProductFolders(catalog));
  std::wstring handOver = data.Encode();
  session.SetPropertyText(L"orvo_Install" + guid, handOver);
  session.SetPropertyText(L"orvo_Remove" + guid, handOver);
  session.SetPropertyText(L"orvo_CloneProfiles" + guid, installedPath);
  // The rollback action undoes, and the commit action forgets, the journals
  // the deferred file actions of this installation keep.
  std::wstring journals = RollbackData{JournalFolder(installedPath), data.transaction}.Encode();
  session.SetPropertyText(L"orvo_Rollback" + guid, journals);
  session.SetPropertyText(L"orvo_Commit" + guid, journals);
  if (afterHandOver) afterHandOver();

  index.SetIndexedProperty(std::wstring(), L"ORVO_BYPASS_CABINETS", JoinText(excluded, L";"));
  if (!selection.empty()) {
    for (const wchar_t* name : {L"ORVO_SELECTED", L"ORVO_SHORTCUT", L"ORVO_PREFERENCE"})
      index.SetIndexedProperty(std::wstring(), name, session.GetProperty(name));
  }
  if (!superseded.empty()) index.SetIndexedProperty(std::wstring(), L"ORVO_SUPERCEDED", JoinText(superseded, L";"));
  return 0;
}

}  // namespace orvo
