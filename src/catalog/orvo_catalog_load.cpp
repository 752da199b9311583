#include <set>

#include "action/install_log.h"
#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "catalog/untrusted_paths.h"
#include "documents/contained_path.h"
#include "documents/paths.h"
#include "media/media_locator.h"

namespace orvo {

namespace {
int NumberAttribute(const DomElement* element, const wchar_t* name) {
  std::wstring text = AttributeText(element, name);
  return text.empty() ? 0 : int(wcstol(text.c_str(), nullptr, 10));
}

// Refreshes the pack document (and, from the media folder, its schema).
void RefreshPackDocument(const Orvo& orvo, const std::wstring& masterFolder) {
  std::wstring source = orvo.standalone ? orvo.standalonePath : CombinePath(masterFolder, orvo.mediaPath);
  if (MediaLocator::Instance().Locate(source, true, std::wstring(), std::wstring()) == MediaLocator::kNotFound ||
      !PathExists(source))
    return;
  EnsureFolder(orvo.packFolder);
  CopyPath(source, orvo.packDocumentPath, true);
  if (orvo.standalone) return;
  XmlDocument copy;
  DomDocument* document = copy.Load(orvo.packDocumentPath);
  if (!document) return;
  std::wstring schema = AttributeText(document->getDocumentElement(), L"xsi:noNamespaceSchemaLocation");
  if (schema.empty()) return;
  if (!IsSafeRelativeName(schema)) {
    InstallerSession::Instance().Log(L"  -> Refused schema location %s", schema);
    return;
  }
  CopyPath(CombinePath(ParentFolder(source), schema), CombinePath(orvo.packFolder, schema), true);
}

// Depth first through the inherited Orvos; visited ends cycles.
const Orvo* FindPublisher(const OrvoCatalog& catalog, const Orvo& orvo, const std::wstring& id,
                          std::set<std::wstring>& visited) {
  for (const auto& name : orvo.inherits) {
    if (!visited.insert(name).second) continue;
    const Orvo* inherited = catalog.Find(name);
    if (!inherited) continue;
    if (const Orvo* deeper = FindPublisher(catalog, *inherited, id, visited)) return deeper;
    if (inherited->publishedDirectories.count(id)) return inherited;
  }
  return nullptr;
}
}  // namespace

Orvo* OrvoCatalog::Find(const std::wstring& name) const {
  auto found = orvos_.find(name);
  return found == orvos_.end() ? nullptr : found->second.get();
}

bool OrvoCatalog::RemoveFromList(XmlDocument& master, const std::wstring& name) {
  auto& session = InstallerSession::Instance();
  DomDocument* document = master.document();
  if (document) {
    DomNodeList* list = document->getElementsByTagName(L"Orvo");
    for (XMLSize_t i = 0; i < list->getLength(); ++i) {
      auto* element = static_cast<DomElement*>(list->item(i));
      if (AttributeText(element, L"Name") != name) continue;
      element->getParentNode()->removeChild(element)->release();
      session.Log(L"  %s removed from Orvo list", name);
      return true;
    }
  }
  session.Log(L"  Failed to remove %s from Orvo list", name);
  return false;
}

size_t OrvoCatalog::Load(XmlDocument& master, bool downloads) {
  auto& session = InstallerSession::Instance();
  DomElement* root = master.root();
  if (!root) return orvos_.size();
  std::wstring installRoot = ChildText(root, L"OrvoInstallRoot");
  std::wstring masterFolder = ChildText(root, L"MasterDocumentFolder");
  std::wstring mediaRoot = ChildText(root, L"MediaRoot");
  // Moved paths would copy pack documents from and to wherever they name.
  if (!MasterPathsAgree(master)) {
    session.Log(L"  !=> Refused OrvoInstallRoot, MasterDocumentFolder and MediaRoot of %s: they do not agree with "
                L"the folder it was loaded from",
                master.path());
    installRoot.clear();
    masterFolder.clear();
    mediaRoot.clear();
  }
  if (installRoot.empty()) installRoot = ParentFolder(master.path());
  if (mediaRoot.empty()) mediaRoot = MediaLocator::Instance().mediaRoot();
  session.Log(L"  => Orvos:");
  DomNodeList* elements = master.document()->getElementsByTagName(L"Orvo");
  for (XMLSize_t i = 0; i < elements->getLength(); ++i) {
    auto* element = static_cast<DomElement*>(elements->item(i));
    auto orvo = std::make_unique<Orvo>();
    orvo->name = AttributeText(element, L"Name");
    // The name becomes the file name of the Orvo's reference documents.
    if (!IsPlainFileName(orvo->name)) {
      session.Log(L"  -> Refused the name of %s", orvo->name);
      continue;
    }
    orvo->mediaPath = ChildText(element, L"MediaPath");
    orvo->standalonePath = ChildText(element, L"StandalonePath");
    orvo->standalone = AttributeText(element, L"Standalone") == L"true";
    bool safe = orvo->standalone ? IsSafeMediaPath(orvo->standalonePath, mediaRoot) &&
                                       IsSafeRelativeName(LastPathComponent(orvo->standalonePath))
                                 : IsSafeRelativeName(orvo->mediaPath);
    if (!safe) {
      session.Log(L"  -> Refused the path of %s", orvo->name);
      unavailable_.push_back(orvo->name);
      continue;
    }
    std::wstring relative =
        orvo->standalone ? L"Standalone\\" + LastPathComponent(orvo->standalonePath) : orvo->mediaPath;
    orvo->packDocumentPath = CombinePath(installRoot, relative);
    orvo->packFolder = ParentFolder(orvo->packDocumentPath);
    orvo->standaloneFolder = ParentFolder(orvo->standalonePath);
    orvo->mediaFolder = ParentFolder(orvo->mediaPath);
    if (!orvo->standalone) orvo->sourceFolder = masterFolder;
    RefreshPackDocument(*orvo, masterFolder);
    if (!PathExists(orvo->packDocumentPath)) {
      unavailable_.push_back(orvo->name);
      continue;
    }
    SetChildText(element, L"InstallPath", orvo->packDocumentPath);
    orvo->masterElement = element;
    orvo->display = AttributeText(element, L"Display") == L"true";
    std::wstring action = AttributeText(element, L"Action");
    if (action == L"install") orvo->request = kRequestInstall;
    if (action == L"remove") orvo->request = kRequestRemove;
    orvo->current = AttributeText(element, L"Installed") == L"true" ? kCurrentlyInstalled : kCurrentlyNotInstalled;
    DomDocument* pack = nullptr;
    if (!LoadDocument(orvo->packDocument, orvo->packDocumentPath, pack, WriteToInstallLog) || !pack) {
      session.Log(L"  -> Failed to load %s", orvo->packDocumentPath);
      continue;
    }
    DomElement* identification = FirstChildElement(pack->getDocumentElement(), L"Identification");
    orvo->ReadIdentification(identification);
    if (!orvo->cabFolder.empty() && !IsSafeRelativeName(orvo->cabFolder)) {
      session.Log(L"  -> Refused CabFolder %s of %s", orvo->cabFolder, orvo->name);
      unavailable_.push_back(orvo->name);
      continue;
    }
    SplitText(ChildText(identification, L"Supercedes"), L";", orvo->supersedes, true);
    DomElement* published = SelectElement(pack->getDocumentElement(), L"Files/PublishedDirectories");
    for (DomElement* p = FirstChildElement(published, L"Publish"); p; p = p->getNextElementSibling()) {
      if (std::wstring(p->getTagName()) == L"Publish")
        orvo->publishedDirectories[AttributeText(p, L"Id")] = AttributeText(p, L"Directory");
    }
    DomNodeList* cabinets = pack->getElementsByTagName(L"Cabinet");
    bool acquireDownloads = orvo->request == kRequestInstall && downloads;
    for (XMLSize_t c = 0; c < cabinets->getLength(); ++c) {
      DomElement* cabinet = NextInSequence(cabinets, c == 0);
      if (!cabinet) continue;
      std::wstring cabName = AttributeText(cabinet, L"Name");
      if (!IsSafeRelativeName(cabName)) {
        session.Log(L"  -> Refused cabinet %s of %s", cabName, orvo->name);
        continue;
      }
      // The extractor opens the rest of a set beside the first: a name that
      // leads elsewhere could not be checked where it is read.
      std::vector<ContinuingCabinet> continuing;
      bool usable = true;
      for (DomElement* next = FirstChildElement(cabinet, L"Continuation"); next && usable;
           next = next->getNextElementSibling()) {
        if (std::wstring(next->getTagName()) != L"Continuation") continue;
        continuing.push_back({AttributeText(next, L"Name"), AttributeText(next, L"SHA256")});
        usable = IsPlainFileName(continuing.back().name);
      }
      if (!usable) {
        session.Log(L"  -> Refused cabinet %s of %s: its continuation \"%s\" is not a file name beside it", cabName,
                    orvo->name, continuing.back().name);
        continue;
      }
      auto entry = std::make_unique<CabinetEntry>();
      entry->continuing = std::move(continuing);
      entry->SetLogPath(session.logPath());
      entry->searchFolder = orvo->standaloneFolder;
      entry->url = orvo->url;
      entry->name = cabName;
      entry->subscriptions = AttributeText(cabinet, L"Subscribe");
      entry->condition = AttributeText(cabinet, L"Condition");
      entry->cost = NumberAttribute(cabinet, L"Cost");
      entry->fileCount = NumberAttribute(cabinet, L"FileCount");
      entry->digest = AttributeText(cabinet, L"SHA256");
      std::wstring directory = AttributeText(cabinet, L"Directory");
      if (!directory.empty()) entry->targetDirectories[L""].push_back(directory);
      entry->sourcePath = CombinePath(CombinePath(orvo->sourceFolder, orvo->mediaFolder),
                                      CombinePath(orvo->cabFolder, cabName));
      entry->cachePath = CombinePath(orvo->packFolder, CombinePath(orvo->cabFolder, cabName));
      entry->Acquire(acquireDownloads);
      orvo->cabinets.push_back(std::move(entry));
    }
    orvo->autoInstallShortcuts = element->getAttributeNode(L"AutoInstallShortcuts") == nullptr ||
                                 AttributeText(element, L"AutoInstallShortcuts") == L"true";
    std::wstring name = orvo->name;
    orvos_[name] = std::move(orvo);
  }
  if (!unavailable_.empty())
    session.Log(L"    => The following Orvos are not available: %s", JoinText(unavailable_, L" "));
  for (const auto& [name, orvo] : orvos_)
    session.Log(L"     %32s: %25s %25s", name, CurrentName(orvo->current), RequestName(orvo->request));
  for (auto& [name, orvo] : orvos_) {
    TextList pieces;
    SplitText(orvo->InheritanceText(), L";", pieces, true);
    orvo->inherits.clear();
    for (const auto& piece : pieces) {
      if (orvos_.count(piece)) orvo->inherits.push_back(piece);
    }
  }
  for (auto& [name, orvo] : orvos_) {
    for (auto& cabinet : orvo->cabinets) {
      if (cabinet->subscriptions.empty()) continue;
      TextList ids;
      SplitText(cabinet->subscriptions, L";", ids, true);
      for (const auto& id : ids) {
        std::set<std::wstring> visited{name};
        const Orvo* publisher = FindPublisher(*this, *orvo, id, visited);
        if (!publisher) continue;
        TextList& list = cabinet->targetDirectories[publisher->name];
        const std::wstring& directory = publisher->publishedDirectories.at(id);
        if (IndexOfText(list, directory) < 0) list.push_back(directory);
      }
    }
  }
  return orvos_.size();
}

}  // namespace orvo
