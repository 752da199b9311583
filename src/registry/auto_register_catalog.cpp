#include "registry/auto_register_catalog.h"

#include "action/installer_session.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "registry/pack_registry.h"
#include "registry/registry_key.h"
#include "registry/resource_string.h"

namespace orvo {
namespace {

// The element's text, or its string resource when the text is empty.
std::wstring DisplayText(const DomElement* element) {
  std::wstring text = TextContent(element);
  return text.empty() ? ResourceString(element) : text;
}

// The attribute of the first descendant of that name, if both exist.
bool FirstDescendantAttribute(const DomElement* parent, const wchar_t* tag, const wchar_t* attribute,
                              std::wstring& value) {
  std::vector<DomElement*> found = ElementsBelow(parent, tag);
  if (found.empty() || !HasAttribute(found.front(), attribute)) return false;
  value = AttributeText(found.front(), attribute);
  return true;
}

// A path the document gives relative to its own folder.
std::wstring BesideDocument(const std::wstring& documentPath, const std::wstring& relative) {
  size_t start = relative.find_first_not_of(L".\\");
  return CombinePath(ParentFolder(documentPath), start == std::wstring::npos ? std::wstring() : relative.substr(start));
}

}  // namespace

bool AutoRegisterCatalog(const std::wstring& groupType, int typeNumber, HKEY key, const std::wstring& subkey,
                         const std::wstring& documentPath) {
  auto& session = InstallerSession::Instance();
  XmlDocument catalog;
  DomDocument* document = nullptr;
  if (!LoadDocument(catalog, documentPath, document, WriteToInstallLog) || !document) {
    session.Log(L"   !=> Failed to open document: %s", documentPath);
    return false;
  }
  CRegistryWrite target;
  if (!target.Open(key, subkey)) {
    session.Log(L"   !=> Failed to open key %s for the purpose of auto-registering %s", subkey, documentPath);
    return false;
  }
  session.Log(L"    => Auto-registering %s", documentPath);
  target.SetString(L"Url", documentPath);
  if (typeNumber != 0) target.SetDword(L"Type", static_cast<DWORD>(typeNumber));
  if (!groupType.empty()) target.SetString(L"GroupID", groupType);

  DomElement* root = catalog.root();
  DomElement* itemId = FirstChildElement(root, L"ItemID");
  if (HasAttribute(itemId, L"idValue")) target.SetString(L"ItemID", AttributeText(itemId, L"idValue"));

  if (DomElement* properties = FirstChildElement(root, L"Properties")) {
    if (DomElement* itemName = FirstChildElement(properties, L"ItemName")) {
      std::wstring text = DisplayText(itemName);
      if (!text.empty()) {
        target.SetString(L"DisplayName", text);
        target.SetString(L"ToolTip", text);
      }
    }
    if (DomElement* description = FirstChildElement(properties, L"Description")) {
      std::wstring text = DisplayText(description);
      if (!text.empty()) target.SetString(L"Description", text);
    }
    std::wstring image;
    if (FirstDescendantAttribute(FirstChildElement(properties, L"Images"), L"Image", L"src", image))
      target.SetString(L"Image", BesideDocument(documentPath, image));
  }
  if (DomElement* source = FirstChildElement(root, L"Source")) {
    std::wstring cover;
    if (FirstDescendantAttribute(FirstChildElement(source, L"ParentDocument"), L"Url", L"href", cover))
      target.SetString(L"CoverPage", BesideDocument(documentPath, cover));
    std::vector<DomElement*> publishers = ElementsBelow(FirstChildElement(source, L"Publisher"), L"PublisherName");
    if (!publishers.empty()) target.SetString(L"Publisher", TextContent(publishers.front()));
  }
  target.Close();
  return true;
}

}  // namespace orvo
