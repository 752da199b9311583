#include "deploy/reference_document.h"

#include <windows.h>
#include <msi.h>

#include <cwchar>
#include <unordered_map>

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

bool HasValue(const DomElement* element, const wchar_t* attribute, const std::wstring& value) {
  const xercesc::DOMAttr* found = element->getAttributeNode(attribute);
  return found && found->getValue() && SamePathKey(value, found->getValue());
}

// One parent's children of a tag by an attribute's value, a path matched as
// the file system matches it (PathKey), so that each
// extracted file finds its SubDirectory and File without a scan of its
// siblings (a scan per file made large folders quadratic). The first of
// equal values wins, as with FindChildElement. It rebuilds itself when the
// tree changed behind it: a child found must still be the parent's with
// that value, and a value missing is trusted only while the parent's last
// child is the one it last saw.
class ChildIndex {
 public:
  // The child with that value, or none.
  DomElement* Find(DomElement* parent, const wchar_t* tag, const wchar_t* attribute, const std::wstring& value) {
    if (parent != parent_ || parent->getLastChild() != lastChild_) Build(parent, tag, attribute);
    std::wstring key = PathKey(value);
    auto found = children_.find(key);
    if (found != children_.end() &&
        (found->second->getParentNode() != parent || !HasValue(found->second, attribute, value))) {
      Build(parent, tag, attribute);
      found = children_.find(key);
    }
    return found == children_.end() ? nullptr : found->second;
  }
  // A child the caller has just appended to the parent of the last Find.
  void Appended(DomElement* child, const std::wstring& value) {
    children_.emplace(PathKey(value), child);
    lastChild_ = child;
  }

 private:
  void Build(DomElement* parent, const wchar_t* tag, const wchar_t* attribute) {
    parent_ = parent;
    lastChild_ = parent->getLastChild();
    children_.clear();
    for (DomNode* child = parent->getFirstChild(); child; child = child->getNextSibling()) {
      if (child->getNodeType() != DomNode::ELEMENT_NODE || std::wcscmp(child->getNodeName(), tag) != 0) continue;
      auto* element = static_cast<DomElement*>(child);
      const xercesc::DOMAttr* value = element->getAttributeNode(attribute);
      if (value && value->getValue()) children_.emplace(PathKey(value->getValue()), element);
    }
  }

  DomElement* parent_ = nullptr;
  DomNode* lastChild_ = nullptr;
  std::unordered_map<std::wstring, DomElement*> children_;
};

// The indexes of the running extraction; they point into its document and
// are dropped whenever an extraction is located or forgotten.
struct ExtractionIndex {
  ChildIndex subDirectories;
  std::unordered_map<DomElement*, ChildIndex> files;
};

ExtractionIndex& Index() {
  static ExtractionIndex index;
  return index;
}

}  // namespace

void ForgetExtractionElements() {
  DeploymentState& state = DeploymentState::Instance();
  state.extractionPathElement = nullptr;
  state.subDirectoryElement = nullptr;
  Index() = ExtractionIndex();
}

bool LocateExtractionPath(DomDocument* document, const std::wstring& cabinet) {
  DeploymentState& state = DeploymentState::Instance();
  // Elements of an earlier document must never receive this extraction's files.
  ForgetExtractionElements();
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
  ChildIndex& index = Index().subDirectories;
  DomElement* found = index.Find(state.extractionPathElement, L"SubDirectory", L"Path", folder);
  if (!found) {
    found = state.extractionPathElement->getOwnerDocument()->createElement(L"SubDirectory");
    found->setAttribute(L"Path", folder.c_str());
    state.extractionPathElement->appendChild(found);
    index.Appended(found, folder);
  }
  state.subDirectoryElement = found;
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
  ChildIndex& index = Index().files[state.subDirectoryElement];
  DomElement* file = index.Find(state.subDirectoryElement, L"File", L"Name", name);
  if (!file) {
    file = state.subDirectoryElement->getOwnerDocument()->createElement(L"File");
    // "ref" is required: a File without it would make the document invalid.
    file->setAttribute(L"ref", L"");
    file->setAttribute(L"Name", name.c_str());
    state.subDirectoryElement->appendChild(file);
    index.Appended(file, name);
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
