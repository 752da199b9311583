#include "deploy/remove_files.h"

#include <windows.h>

#include <vector>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/contained_path.h"
#include "documents/journal.h"
#include "deploy/deployment_state.h"
#include "deploy/reference_document.h"
#include "deploy/reference_entries.h"
#include "deploy/trusted_folders.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"

namespace orvo {
namespace {

const wchar_t kSchemaName[] = L"orvo_ref.xsd";

// Folders compare as the file system does: without regard to case, one
// trailing backslash.
std::wstring FolderKey(const std::wstring& path) { return CombinePath(PathKey(path)); }

// A link on the way would lead the deletion somewhere else entirely.
bool RefusedForLink(const std::wstring& path, const std::wstring& link) {
  if (link.empty()) return false;
  InstallerSession::Instance().Log(L"  !-> Refused %s: %s is a link", path, link);
  return true;
}

std::vector<DomElement*> Descendants(DomElement* parent, const wchar_t* tag) {
  std::vector<DomElement*> list;
  DomNodeList* nodes = parent->getElementsByTagName(tag);
  for (XMLSize_t i = 0; i < nodes->getLength(); ++i) list.push_back(static_cast<DomElement*>(nodes->item(i)));
  return list;
}

bool HasElementChild(const DomNode* node) {
  for (DomNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() == DomNode::ELEMENT_NODE) return true;
  }
  return false;
}

// Taken out of the tree; the document keeps owning it, so no element still
// to be visited can point into freed memory.
void Detach(DomElement* element) {
  if (DomNode* parent = element->getParentNode()) parent->removeChild(element);
}

// Deleting first: a plain file, nearly every one, costs one call; only a
// refused deletion asks what stands there (a folder, or a read-only file).
void DeleteEntry(const std::wstring& path) {
  // Journaled: moved aside with its attributes, for a rollback.
  if (Journal::Active().MoveAside(path)) return;
  if (DeleteFileW(path.c_str())) return;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    DeleteFileW(path.c_str());
  }
}

// The schema is shared by every document in its folder: it goes only with
// the last of them, and the folder with it.
void RemoveSchema(const std::wstring& schemaPath) {
  std::wstring folder = ParentFolder(schemaPath);
  for (const auto& entry : ListFolder(folder, kListAll, false)) {
    if (FolderKey(entry) != FolderKey(schemaPath)) return;
  }
  DeletePath(schemaPath, true, false);
  RemoveDirectoryW(folder.c_str());
}

class RemovalRun {
 public:
  std::wstring productCode;
  bool forced = false;
  unsigned ticks = 0;
  TextList schemas;
  // The way to the folder whose files are being removed, checked once and
  // held while they go.
  PinnedFolders pins;

  // False when the user cancelled.
  bool WalkCabinets(DomElement* cabinets, const std::vector<std::wstring>& folders, bool& handled);

 private:
  // Journaled, a folder whose files all go is moved aside in one rename
  // rather than one per file.
  bool movedAside_ = false;

  bool WalkExtraction(DomElement* extraction, bool& handled);
  bool AllGo(const std::vector<DomElement*>& files, std::vector<std::wstring>& names) const;
  bool RemoveFile(DomElement* file, const std::wstring& folder, bool& handled);
};

bool RemovalRun::WalkCabinets(DomElement* cabinets, const std::vector<std::wstring>& folders, bool& handled) {
  auto& session = InstallerSession::Instance();
  auto cabinetList = Descendants(cabinets, L"Cabinet");
  for (size_t c = cabinetList.size(); c-- > 0;) {
    DomElement* cabinet = cabinetList[c];
    auto extractions = Descendants(cabinet, L"ExtractionPath");
    for (size_t e = extractions.size(); e-- > 0;) {
      DomElement* extraction = extractions[e];
      std::wstring path = AttributeText(extraction, L"Path");
      // Only a folder this product extracts into for this owner: a document
      // naming any other folder is not one the installation wrote.
      bool trusted = false;
      if (IsAbsolutePath(path)) {
        for (const auto& folder : folders) trusted = trusted || FolderKey(folder) == FolderKey(path);
      }
      if (!trusted && HasElementChild(extraction))
        session.Log(L"  !-> Refused %s: not a folder of this product", path);
      if (trusted && !WalkExtraction(extraction, handled)) return false;
      if (!HasElementChild(extraction)) {
        Detach(extraction);
        pins.Clear();
        if (trusted && IsFolder(path) && !RefusedForLink(path, LinkOnTheWay(path))) RemoveDirectoryW(path.c_str());
      }
    }
    if (!HasElementChild(cabinet)) Detach(cabinet);
  }
  return true;
}

bool RemovalRun::WalkExtraction(DomElement* extraction, bool& handled) {
  auto& session = InstallerSession::Instance();
  std::wstring path = AttributeText(extraction, L"Path");
  auto subDirectories = Descendants(extraction, L"SubDirectory");
  // Emptied folders are pruned after the walk, each once: a parent shared
  // by many is then neither let go nor tried after each of them.
  std::vector<std::wstring> emptied;
  bool finished = true;
  for (size_t s = subDirectories.size(); finished && s-- > 0;) {
    DomElement* subDirectory = subDirectories[s];
    std::wstring relative = AttributeText(subDirectory, L"Path");
    if (!IsContainedRelativeFolder(relative)) {
      session.Log(L"  !-> Refused %s: it could leave %s", relative, path);
      continue;
    }
    std::wstring folder = CombinePath(path, relative);
    if (RefusedForLink(folder, pins.Pin(folder))) continue;
    auto files = Descendants(subDirectory, L"File");
    // A held folder cannot be renamed: it is let go for the move, which
    // looks at it again itself, and held again if the files go one by one.
    std::vector<std::wstring> names;
    std::wstring aside;
    movedAside_ = AllGo(files, names);
    if (movedAside_) {
      pins.Release(folder);
      movedAside_ = Journal::Active().MoveFolderAside(folder, names, aside);
      if (!movedAside_ && RefusedForLink(folder, pins.Pin(folder))) continue;
    }
    size_t f = files.size();
    while (finished && f-- > 0) finished = RemoveFile(files[f], folder, handled);
    // Cancelled: the files not reached yet stay, as they do file by file.
    if (!finished && movedAside_ && Journal::Active().MoveFolderBack(folder, aside) &&
        !RefusedForLink(folder, pins.Pin(folder))) {
      for (; f < files.size(); ++f) DeleteEntry(CombinePath(folder, names[f]));
    }
    movedAside_ = false;
    if (finished && !HasElementChild(subDirectory)) {
      Detach(subDirectory);
      emptied.push_back(relative);
    }
  }
  // Also after a cancellation: the folders emptied so far go as before.
  PruneFolderChains(path, emptied, pins);
  return finished;
}

// Whether the file procedure deletes every one of the files: each is this
// product's alone, has a plain name, and needs no look at its content.
bool RemovalRun::AllGo(const std::vector<DomElement*>& files, std::vector<std::wstring>& names) const {
  if (files.empty() || !Journal::Active().active()) return false;
  for (const DomElement* file : files) {
    std::wstring refs = AttributeText(file, L"ref"), name = AttributeText(file, L"Name");
    if (!HasProductCode(refs, productCode) || !WithoutProductCode(refs, productCode).empty() ||
        !IsPlainFileName(name) || (!forced && file->getAttributeNode(L"hash")))
      return false;
    names.push_back(name);
  }
  return true;
}

bool RemovalRun::RemoveFile(DomElement* file, const std::wstring& folder, bool& handled) {
  auto& session = InstallerSession::Instance();
  std::wstring refs = AttributeText(file, L"ref");
  if (!HasProductCode(refs, productCode)) return true;
  std::wstring name = AttributeText(file, L"Name");
  if (!IsPlainFileName(name)) {
    session.Log(L"  !-> Refused %s: it could leave %s", name, folder);
    return true;
  }
  refs = WithoutProductCode(refs, productCode);
  std::wstring fullPath = CombinePath(folder, name);
  int answer = 0;
  if (!refs.empty()) {
    file->setAttribute(L"ref", refs.c_str());
    answer = session.SendInfo(L"orvo_Remove: [1]",
                              L" -> The following file is referenced by another product and will not be removed");
  } else if (!forced && !FileHashMatches(file, fullPath)) {
    answer = session.SendInfo(L"orvo_Remove: [1]", L" -> The following file is user-modified and will not be removed");
    Detach(file);
  } else {
    // Through a held folder; a link in the file's own place goes alone,
    // its target untouched.
    if (!movedAside_) DeleteEntry(fullPath);
    Detach(file);
  }
  handled = true;
  if (answer == IDCANCEL) return false;
  if (session.SendActionData(fullPath, L"") == IDCANCEL) return false;
  ticks += 2000;
  return true;
}

// The folders an owner's files were extracted into: the product's own
// directories for all users, that user's directories for a user.
std::vector<std::wstring> OwnerFolders(const std::wstring& owner, const DirectoryTable& product,
                                      const UserDirectoryTables& users) {
  std::vector<std::wstring> folders;
  const DirectoryTable* table = &product;
  if (owner != kAllUsers) {
    auto found = users.find(owner);
    if (found == users.end()) return folders;
    table = &found->second;
  }
  for (const auto& [name, entry] : *table) {
    if (IsAbsolutePath(entry.path)) folders.push_back(entry.path);
  }
  return folders;
}

}  // namespace

unsigned RemoveFiles(XmlDocument& master, OrvoCatalog& catalog, std::optional<bool> forced) {
  auto& session = InstallerSession::Instance();
  KeptLog keptLog;
  RemovalRun run;
  run.productCode = ChildText(master.root(), L"ProductCode");
  // An empty code is found in every reference list: nothing could be told apart.
  if (run.productCode.empty()) {
    session.Log(L" !=> No product code in the master document: no file is removed");
    return ERROR_SUCCESS;
  }
  AppIndex index;
  DirectoryTable product;
  UserDirectoryTables users;
  index.CollectDirectories(run.productCode, product, users);
  KeepTrustedFolders(DeploymentState::Instance().productFolders, product, users);
  session.ReportProgress(1, 2000, 1);
  run.forced = forced ? *forced : session.EvaluateCondition(L"FORCE_FILE_DELETE_ON_UNINSTALL");
  unsigned type = session.installType();

  for (auto& [orvoName, orvoPointer] : catalog.orvos()) {
    Orvo& orvo = *orvoPointer;
    if (orvo.request != kRequestRemove) {
      session.Log(L" => %s not slated for uninstall", orvo.name);
      continue;
    }
    session.Log(L" => Uninstalling %s", orvo.name);
    if (!IsPlainFileName(orvo.name)) {
      session.Log(L"   !-> Refused the name of %s: it cannot name a reference document", orvo.name);
      continue;
    }
    orvo.ReferenceDocumentPaths(users);
    for (const auto& [owner, path] : orvo.referenceDocuments) {
      if (!PathExists(path)) continue;
      std::wstring schema = CombinePath(ParentFolder(path), kSchemaName);
      if (!ContainsText(run.schemas, schema, true)) run.schemas.push_back(schema);
      XmlDocument document;
      DomDocument* loaded = nullptr;
      if (!LoadDocument(document, path, loaded) || !loaded || !document.root() ||
          std::wstring(document.root()->getTagName()) != L"DocumentRoot") {
        session.Log(L" !=> Failed to load %s", path);
        continue;
      }
      session.Log(L"  => Processing %s", path);
      DomElement* cabinets = FirstChildElement(document.root(), L"Cabinets");
      // Entries that name one file in another case are one reference list.
      bool handled = MergeSamePathEntries(document.root());
      if (cabinets && !run.WalkCabinets(cabinets, OwnerFolders(owner, product, users), handled))
        return ERROR_INSTALL_USEREXIT;
      if (handled) document.Save(L"UTF-16", L"\r\n");
      // A document without cabinets (also the empty template) records nothing.
      if (!cabinets || !HasElementChild(cabinets)) {
        if (cabinets) Detach(cabinets);
        DeletePath(path, false, false);
      }
    }
    if (type & (IT_NEWINSTALL | IT_ADDREMOVE)) {
      master.SetChanged();
      orvo.SetCurrent(kCurrentlyNotInstalled);
    }
    if (type & IT_UNINSTALL) {
      for (const auto& schema : run.schemas) RemoveSchema(schema);
    }
  }
  session.Log(L" => %d ticks added to progress bar", run.ticks);
  return ERROR_SUCCESS;
}

}  // namespace orvo
