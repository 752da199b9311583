#include "deploy/reference_entries.h"

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
  auto list = Children(parent, tag);
  for (size_t i = 0; i < list.size(); ++i) {
    if (!list[i]) continue;
    std::wstring key = CombinePath(PathKey(AttributeText(list[i], attribute)));
    for (size_t j = i + 1; j < list.size(); ++j) {
      if (!list[j] || CombinePath(PathKey(AttributeText(list[j], attribute))) != key) continue;
      if (childTag) {
        while (DomNode* child = list[j]->getFirstChild()) list[i]->appendChild(list[j]->removeChild(child));
      } else {
        std::wstring refs = JoinedRefs(AttributeText(list[i], L"ref"), AttributeText(list[j], L"ref"));
        list[i]->setAttribute(L"ref", refs.c_str());
        if (!list[i]->getAttributeNode(L"hash") && list[j]->getAttributeNode(L"hash"))
          list[i]->setAttribute(L"hash", AttributeText(list[j], L"hash").c_str());
      }
      parent->removeChild(list[j]);
      list[j] = nullptr;
      changed = true;
    }
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
