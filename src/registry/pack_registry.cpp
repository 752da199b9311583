#include "registry/pack_registry.h"

#include "catalog/orvo_model.h"

namespace orvo {

DomElement* LoadPackRegistry(const Orvo& orvo, XmlDocument& pack) {
  DomDocument* document = nullptr;
  if (!LoadDocument(pack, orvo.packDocumentPath, document, WriteToInstallLog) || !document) return nullptr;
  return FirstChildElement(pack.root(), L"Registry");
}

std::vector<DomElement*> RegistryElements(const DomElement* parent, const wchar_t* tag) {
  std::vector<DomElement*> found;
  if (!parent) return found;
  DomNodeList* list = parent->getElementsByTagName(tag);
  for (XMLSize_t i = 0; i < list->getLength(); ++i) found.push_back(static_cast<DomElement*>(list->item(i)));
  return found;
}

std::wstring TextContent(const DomElement* element) {
  const XMLCh* text = element ? element->getTextContent() : nullptr;
  return text ? std::wstring(text) : std::wstring();
}

bool HasAttribute(const DomElement* element, const wchar_t* name) {
  return element && element->getAttributeNode(name) != nullptr;
}

}  // namespace orvo
