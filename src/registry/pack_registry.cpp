#include "registry/pack_registry.h"

#include "catalog/orvo_model.h"

namespace orvo {

DomElement* LoadPackRegistry(const Orvo& orvo, XmlDocument& pack) {
  DomDocument* document = nullptr;
  if (!LoadDocument(pack, orvo.packDocumentPath, document, WriteToInstallLog) || !document) return nullptr;
  return FirstChildElement(pack.root(), L"Registry");
}

std::wstring TextContent(const DomElement* element) {
  const XMLCh* text = element ? element->getTextContent() : nullptr;
  return text ? std::wstring(text) : std::wstring();
}

bool HasAttribute(const DomElement* element, const wchar_t* name) {
  return element && element->getAttributeNode(name) != nullptr;
}

}  // namespace orvo
