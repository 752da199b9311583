#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "catalog/untrusted_paths.h"
#include "documents/contained_path.h"
#include "documents/paths.h"
#include "inspect.h"
#include "media/media_locator.h"

// The catalogue's own load is not used: it refreshes pack documents from the
// media (copying and downloading) and rewrites InstallPath. The same rules
// are followed here on the documents as they are.
namespace orvo::inspect {
namespace {

std::wstring Shown(const DomElement* element, const wchar_t* attribute) {
  if (!element->getAttributeNode(attribute)) return L"(absent)";
  return L"\"" + AttributeText(element, attribute) + L"\"";
}

std::wstring OrNone(const std::wstring& text) { return text.empty() ? L"(none)" : text; }

void AddOnce(std::vector<std::wstring>& list, const std::wstring& entry) {
  if (std::find(list.begin(), list.end(), entry) == list.end()) list.push_back(entry);
}

// Where the locator looks for a name, and where it finds it without
// downloading; the places it would try on servers when it does not.
void ReportLookup(MediaLocator& locator, const std::wstring& indent, const std::wstring& name,
                  const std::wstring& extraFolder, const std::wstring& extraUrl) {
  std::wstring located = name;
  int result = locator.Locate(located, false, extraFolder, extraUrl);
  if (IsAbsolutePath(name)) Out(indent + L"Looks at: " + name);
  std::vector<std::wstring> local = locator.localFolders();
  if (!extraFolder.empty()) AddOnce(local, extraFolder);
  for (const auto& folder : locator.intranetFolders()) AddOnce(local, folder);
  for (const auto& folder : local) Out(indent + L"Looks in: " + CombinePath(folder, name));
  if (result == MediaLocator::kFound) {
    Out(indent + L"Found: " + located);
    return;
  }
  std::vector<std::wstring> remote = locator.remoteFolders();
  if (!extraUrl.empty()) AddOnce(remote, extraUrl);
  if (remote.empty()) {
    Out(indent + L"Not found, and no server to download from");
    return;
  }
  Out(indent + L"Not found locally; a download would try:");
  for (std::wstring base : remote) {
    while (!base.empty() && base.back() == L'/') base.pop_back();
    std::wstring url = CombinePath(base, name);
    std::replace(url.begin(), url.end(), L'\\', L'/');
    Out(indent + L"  " + url);
  }
}

struct MasterReport {
  MediaLocator locator;
  std::wstring installRoot, masterFolder, mediaRoot;
  bool failed = false;  // a pack document did not load

  void ReportOrvo(DomElement* element);
  void ReportCabinets(const Orvo& orvo, DomDocument* pack);
};

void MasterReport::ReportOrvo(DomElement* element) {
  Orvo orvo;
  orvo.name = AttributeText(element, L"Name");
  Out(L"");
  Out(L"Orvo " + orvo.name);
  Out(L"  Display: " + Shown(element, L"Display"));
  Out(L"  Action: " + Shown(element, L"Action"));
  Out(L"  Installed: " + Shown(element, L"Installed"));
  if (!IsPlainFileName(orvo.name)) {
    Out(L"  Refused: the name cannot name a reference document; the Orvo is left out");
    return;
  }
  orvo.mediaPath = ChildText(element, L"MediaPath");
  orvo.standalonePath = ChildText(element, L"StandalonePath");
  orvo.standalone = AttributeText(element, L"Standalone") == L"true";
  if (orvo.standalone) Out(L"  Standalone: " + orvo.standalonePath);
  bool safe = orvo.standalone ? IsSafeMediaPath(orvo.standalonePath, mediaRoot) &&
                                    IsSafeRelativeName(LastPathComponent(orvo.standalonePath))
                              : IsSafeRelativeName(orvo.mediaPath);
  if (!safe) {
    Out(L"  Refused: the pack document's path leaves its folder; the Orvo is unavailable");
    return;
  }
  std::wstring relative = orvo.standalone ? L"Standalone\\" + LastPathComponent(orvo.standalonePath) : orvo.mediaPath;
  orvo.packDocumentPath = CombinePath(installRoot, relative);
  orvo.packFolder = ParentFolder(orvo.packDocumentPath);
  orvo.standaloneFolder = ParentFolder(orvo.standalonePath);
  orvo.mediaFolder = ParentFolder(orvo.mediaPath);
  if (!orvo.standalone) orvo.sourceFolder = masterFolder;

  std::wstring source = orvo.standalone ? orvo.standalonePath : CombinePath(masterFolder, orvo.mediaPath);
  Out(L"  Pack document on the media: " + source);
  ReportLookup(locator, L"    ", source, std::wstring(), std::wstring());
  if (!PathExists(orvo.packDocumentPath)) {
    Out(L"  Pack document: " + orvo.packDocumentPath + L" (missing: unavailable unless the media supply it)");
    return;
  }
  DomDocument* pack = orvo.packDocument.Load(orvo.packDocumentPath, FullValidation());
  if (!pack) {
    Out(L"  Pack document: " + orvo.packDocumentPath + L" (does not load, the Orvo is left out: " +
        OneLine(orvo.packDocument.LastError()) + L")");
    failed = true;
    return;
  }
  Out(L"  Pack document: " + orvo.packDocumentPath);
  orvo.ReadIdentification(FirstChildElement(pack->getDocumentElement(), L"Identification"));
  if (!orvo.cabFolder.empty() && !IsSafeRelativeName(orvo.cabFolder)) {
    Out(L"  Refused: CabFolder " + orvo.cabFolder + L" leaves its folder; the Orvo is unavailable");
    return;
  }
  ReportCabinets(orvo, pack);
}

void MasterReport::ReportCabinets(const Orvo& orvo, DomDocument* pack) {
  DomNodeList* cabinets = pack->getElementsByTagName(L"Cabinet");
  std::set<DomElement*> read;
  if (!cabinets->getLength()) Out(L"  Cabinets: (none)");
  for (XMLSize_t c = 0; c < cabinets->getLength(); ++c) {
    DomElement* cabinet = NextInSequence(cabinets, c == 0);
    if (!cabinet) continue;
    read.insert(cabinet);
    std::wstring name = AttributeText(cabinet, L"Name");
    Out(L"  Cabinet " + AttributeText(cabinet, L"Sequence") + L": " + name);
    if (!IsSafeRelativeName(name)) {
      Out(L"    Refused: the name leaves the cabinet folder");
      continue;
    }
    Out(L"    Directory: " + OrNone(AttributeText(cabinet, L"Directory")));
    Out(L"    Condition: " + OrNone(AttributeText(cabinet, L"Condition")));
    std::wstring subscriptions = AttributeText(cabinet, L"Subscribe");
    if (!subscriptions.empty()) Out(L"    Subscribe: " + subscriptions);
    std::wstring sourcePath =
        CombinePath(CombinePath(orvo.sourceFolder, orvo.mediaFolder), CombinePath(orvo.cabFolder, name));
    Out(L"    Source path: " + sourcePath);
    Out(L"    Per-user copy: " + CombinePath(orvo.packFolder, CombinePath(orvo.cabFolder, name)));
    ReportLookup(locator, L"    ", sourcePath, orvo.standaloneFolder, orvo.url);
  }
  for (XMLSize_t c = 0; c < cabinets->getLength(); ++c) {
    auto* cabinet = static_cast<DomElement*>(cabinets->item(c));
    if (read.count(cabinet)) continue;
    Out(L"  Cabinet " + AttributeText(cabinet, L"Name") + L" is never read: its Sequence " + Shown(cabinet, L"Sequence") +
        L" is missing, negative or repeated");
  }
}

}  // namespace

int ReportMaster(const std::wstring& path) {
  std::wstring masterPath = FullPath(path);
  if (!PathExists(masterPath) || IsFolder(masterPath)) {
    Problem(L"master document " + masterPath + L" does not exist");
    return kNotFound;
  }
  XmlDocument master;
  // Validated, as the entry points load it.
  if (!master.Load(masterPath, FullValidation()) || !master.root()) {
    Problem(L"master document " + masterPath + L" does not load: " + OneLine(master.LastError()));
    return kNotFound;
  }
  MasterReport report;
  DomElement* root = master.root();
  report.installRoot = ChildText(root, L"OrvoInstallRoot");
  report.masterFolder = ChildText(root, L"MasterDocumentFolder");
  report.mediaRoot = ChildText(root, L"MediaRoot");
  std::wstring url = ChildText(root, L"URL");
  Out(L"Master document: " + masterPath);
  Out(L"  MediaRoot: " + OrNone(report.mediaRoot));
  Out(L"  URL: " + OrNone(url));
  if (report.installRoot.empty()) {
    // Not installed yet: the packs lie beside the master document.
    report.installRoot = ParentFolder(masterPath);
    Out(L"  OrvoInstallRoot: (absent, the master's folder is used: " + report.installRoot + L")");
  } else {
    Out(L"  OrvoInstallRoot: " + report.installRoot);
  }
  Out(L"  MasterDocumentFolder: " + OrNone(report.masterFolder));
  Out(L"  ProductCode: " + OrNone(ChildText(root, L"ProductCode")));
  report.locator.SetUp(report.mediaRoot, url);
  DomNodeList* orvos = master.document()->getElementsByTagName(L"Orvo");
  if (!orvos->getLength()) Out(L"No Orvo is listed.");
  for (XMLSize_t i = 0; i < orvos->getLength(); ++i) report.ReportOrvo(static_cast<DomElement*>(orvos->item(i)));
  return report.failed ? kNotFound : kOk;
}

}  // namespace orvo::inspect
