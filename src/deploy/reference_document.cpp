#include "deploy/reference_document.h"

#include <windows.h>
#include <msi.h>

#include "action/installer_session.h"
#include "deploy/deployment_state.h"
#include "deploy/reference_entries.h"
#include "documents/paths.h"

namespace orvo {
namespace {

DomElement* FindOrAppend(DomElement* parent, const std::wstring& tag, const std::wstring& attribute,
                         const std::wstring& value) {
  // Paths match as the file system matches them; a cabinet's name exactly.
  DomElement* found =
      tag == L"Cabinet" ? FindChildElement(parent, tag, attribute, value) : FindPathChild(parent, tag, attribute, value);
  if (found) return found;
  DomElement* created = parent->getOwnerDocument()->createElement(tag.c_str());
  created->setAttribute(attribute.c_str(), value.c_str());
  parent->appendChild(created);
  return created;
}

}  // namespace

bool LocateExtractionPath(DomDocument* document, const std::wstring& cabinet) {
  DeploymentState& state = DeploymentState::Instance();
  // Elements of an earlier document must never receive this extraction's files.
  state.extractionPathElement = nullptr;
  state.subDirectoryElement = nullptr;
  DomElement* root = document ? document->getDocumentElement() : nullptr;
  if (!root) return false;
  MergeSamePathEntries(root);
  DomElement* cabinets = FirstChildElement(root, L"Cabinets");
  if (!cabinets) {
    cabinets = document->createElement(L"Cabinets");
    root->appendChild(cabinets);
  }
  DomElement* cabinetElement = FindOrAppend(cabinets, L"Cabinet", L"Name", cabinet);
  state.extractionPathElement = FindOrAppend(cabinetElement, L"ExtractionPath", L"Path", state.targetFolder);
  return true;
}

void LocateSubDirectory(const std::wstring& relativeFolder) {
  DeploymentState& state = DeploymentState::Instance();
  if (state.suppressRefCounts) return;
  if (!state.extractionPathElement) {
    state.subDirectoryElement = nullptr;
    return;
  }
  std::wstring folder = relativeFolder;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  folder += L'\\';
  state.subDirectoryElement = FindOrAppend(state.extractionPathElement, L"SubDirectory", L"Path", folder);
}

bool DecideFileCopy(const std::wstring& filePath) {
  DeploymentState& state = DeploymentState::Instance();
  auto& session = InstallerSession::Instance();
  if (state.noOverwrite && PathExists(filePath)) {
    session.Log(L"   - Declining overwrite of %s", filePath);
    return false;
  }
  if (state.suppressRefCounts) return true;
  // Nothing to record into (a file outside the extraction folder, or no
  // document for this extraction): written, not recorded.
  if (!state.subDirectoryElement || filePath.empty()) return true;

  std::wstring name = LastPathComponent(filePath);
  DomElement* file = FindPathChild(state.subDirectoryElement, L"File", L"Name", name);
  if (!file) {
    file = state.subDirectoryElement->getOwnerDocument()->createElement(L"File");
    // "ref" is required: a File without it would make the document invalid.
    file->setAttribute(L"ref", L"");
    file->setAttribute(L"Name", name.c_str());
    state.subDirectoryElement->appendChild(file);
  }
  std::wstring refs = AttributeText(file, L"ref");
  if (!HasProductCode(refs, state.productCode)) {
    refs.insert(0, state.productCode);
    file->setAttribute(L"ref", refs.c_str());
  }
  if (!file->getAttributeNode(L"hash")) return true;
  if (FileHashMatches(file, filePath)) return false;
  if (!PathExists(filePath)) return true;
  // The file differs from what was installed: the user changed it.
  if (state.repairFiles) {
    if (session.SendInfo(L"orvo_Install: [1]", L"  Repairing file: %s", filePath) == IDCANCEL)
      state.abortRequested = true;
    return true;
  }
  return false;
}

std::wstring FileHashText(const std::wstring& filePath) {
  MSIFILEHASHINFO hash{};
  hash.dwFileHashInfoSize = sizeof hash;
  if (filePath.empty() || MsiGetFileHashW(filePath.c_str(), 0, &hash) != ERROR_SUCCESS) return std::wstring();
  return Format(L"%u;%u;%u;%u;", unsigned(hash.dwData[0]), unsigned(hash.dwData[1]), unsigned(hash.dwData[2]),
                unsigned(hash.dwData[3]));
}

bool FileHashMatches(const DomElement* file, const std::wstring& filePath) {
  if (!file || !file->getAttributeNode(L"hash")) return true;
  std::wstring actual = FileHashText(filePath);
  return !actual.empty() && actual == AttributeText(file, L"hash");
}

}  // namespace orvo
