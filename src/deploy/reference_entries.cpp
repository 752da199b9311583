#include "deploy/reference_entries.h"

#include <unordered_map>

#include "action/installer_session.h"
#include "documents/paths.h"

namespace orvo {

namespace {

std::vector<DomElement*> Children(const DomNode* parent, const wchar_t* tag) {
  std::vector<DomElement*> list;
  for (DomNode* node = parent ? parent->getFirstChild() : nullptr; node; node = node->getNextSibling()) {
    if (node->getNodeType() != DomNode::ELEMENT_NODE) continue;
    auto* element = static_cast<DomElement*>(node);
    if (std::wstring(element->getTagName()) == tag) list.push_back(element);
  }
  return list;
}

bool SameCode(const std::wstring& a, const std::wstring& b) { return FoldCase(a) == FoldCase(b); }

std::wstring JoinedRefs(const std::wstring& first, const std::wstring& second) {
  std::wstring refs = first;
  for (const auto& code : ProductCodes(second)) {
    if (!HasProductCode(refs, code)) refs += code;
  }
  return refs;
}

// Moves the children of the later duplicates into the first element with
// the same path, then merges one level down.
bool MergeLevel(DomElement* parent, const wchar_t* tag, const wchar_t* attribute, const wchar_t* childTag) {
  bool changed = false;
  // Each key once, and the first element of a key found by it: a folder of
  // 20 000 entries would otherwise compare every pair.
  std::unordered_map<std::wstring, DomElement*> first;
  for (DomElement* later : Children(parent, tag)) {
    auto [found, isNew] = first.emplace(CombinePath(PathKey(AttributeText(later, attribute))), later);
    if (isNew) continue;
    DomElement* kept = found->second;
    if (childTag) {
      while (DomNode* child = later->getFirstChild()) kept->appendChild(later->removeChild(child));
    } else {
      std::wstring refs = JoinedRefs(AttributeText(kept, L"ref"), AttributeText(later, L"ref"));
      kept->setAttribute(L"ref", refs.c_str());
      if (!kept->getAttributeNode(L"hash") && later->getAttributeNode(L"hash"))
        kept->setAttribute(L"hash", AttributeText(later, L"hash").c_str());
    }
    parent->removeChild(later);
    changed = true;
  }
  return changed;
}

}  // namespace

TextList ProductCodes(const std::wstring& refs) {
  TextList codes;
  size_t at = 0;
  while (at < refs.size()) {
    size_t open = refs.find(L'{', at);
    if (open != at) {
      codes.push_back(refs.substr(at, open == std::wstring::npos ? std::wstring::npos : open - at));
      if (open == std::wstring::npos) break;
    }
    size_t close = refs.find(L'}', open);
    size_t end = close == std::wstring::npos ? refs.size() : close + 1;
    codes.push_back(refs.substr(open, end - open));
    at = end;
  }
  return codes;
}

bool HasProductCode(const std::wstring& refs, const std::wstring& productCode) {
  if (productCode.empty()) return false;
  for (const auto& code : ProductCodes(refs)) {
    if (SameCode(code, productCode)) return true;
  }
  return false;
}

std::wstring WithoutProductCode(const std::wstring& refs, const std::wstring& productCode) {
  std::wstring rest;
  for (const auto& code : ProductCodes(refs)) {
    if (!SameCode(code, productCode)) rest += code;
  }
  return rest;
}

DomElement* FindPathChild(const DomNode* parent, const std::wstring& tag, const std::wstring& attribute,
                          const std::wstring& path) {
  std::wstring key = CombinePath(PathKey(path));
  for (DomElement* element : Children(parent, tag.c_str())) {
    if (CombinePath(PathKey(AttributeText(element, attribute))) == key) return element;
  }
  return nullptr;
}

bool MergeSamePathEntries(DomElement* root) {
  bool changed = false;
  for (DomElement* cabinets : Children(root, L"Cabinets")) {
    for (DomElement* cabinet : Children(cabinets, L"Cabinet")) {
      changed = MergeLevel(cabinet, L"ExtractionPath", L"Path", L"SubDirectory") || changed;
      for (DomElement* extraction : Children(cabinet, L"ExtractionPath")) {
        changed = MergeLevel(extraction, L"SubDirectory", L"Path", L"File") || changed;
        for (DomElement* sub : Children(extraction, L"SubDirectory"))
          changed = MergeLevel(sub, L"File", L"Name", nullptr) || changed;
      }
    }
  }
  return changed;
}

}  // namespace orvo
