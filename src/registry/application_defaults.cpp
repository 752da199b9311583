#include "registry/application_defaults.h"

#include <cwchar>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "documents/text_lists.h"
#include "documents/xml_document.h"

namespace orvo {
namespace {

bool PresentAfterInstallation(const Orvo& orvo) {
  if (orvo.current == kCurrentlyInstalled) return orvo.request != kRequestRemove;
  return orvo.request == kRequestInstall;
}

// The first Orvo, walking from the last to the first, that is present and
// has exactly that name.
Orvo* PresentNamed(OrvoCatalog& catalog, const std::wstring& name) {
  for (auto it = catalog.orvos().rbegin(); it != catalog.orvos().rend(); ++it) {
    if (it->second->name == name && PresentAfterInstallation(*it->second)) return it->second.get();
  }
  return nullptr;
}

// The library's own hand-over and the properties that name its registry
// root: OrvoInit set them, and a pack document must not steer them.
bool IsReservedProperty(const std::wstring& name) {
  for (const wchar_t* prefix : {L"orvo_Install", L"orvo_Remove", L"orvo_CloneProfiles", L"orvo_Patch"}) {
    if (name.compare(0, wcslen(prefix), prefix) == 0) return true;
  }
  return name == L"ZIRBHOSTAPPREGROOT";
}

}  // namespace

bool ApplyApplicationDefaults(const Orvo& orvo) {
  auto& session = InstallerSession::Instance();
  XmlDocument pack;
  DomDocument* document = nullptr;
  if (!LoadDocument(pack, orvo.packDocumentPath, document, WriteToInstallLog)) return false;
  DomElement* defaults = FirstChildElement(pack.root(), L"ApplicationDefaults");
  if (!defaults) return false;
  DomNodeList* properties = defaults->getElementsByTagName(L"Property");
  for (XMLSize_t i = 0; i < properties->getLength(); ++i) {
    auto* property = static_cast<DomElement*>(properties->item(i));
    std::wstring name = AttributeText(property, L"Name");
    if (name.empty()) continue;  // the installer refuses an unnamed property anyway
    if (IsReservedProperty(name)) {
      session.Log(L"  !-> Refused property %s: the library's own", name);
      continue;
    }
    session.SetPropertyText(name, session.FormatText(L"%s", AttributeText(property, L"Value")));
  }
  return true;
}

int SetApplicationDefaults(OrvoCatalog& catalog) {
  auto& session = InstallerSession::Instance();
  session.Log(L"\n_setappdefaults");
  std::wstring imperial;
  if (session.EvaluateCondition(L"SETIMPERIALDEFAULTS")) imperial = session.GetProperty(L"IMPERIALPACK");
  std::wstring preferred = session.GetProperty(L"ORVO_PREFERENCE");
  if (preferred.empty() && session.GetProperty(L"IMPERIALPACK").empty()) {
    AppIndex index;
    if (index.Open()) preferred = index.GetIndexedProperty(std::wstring(), L"ORVO_PREFERENCE");
  }

  auto& orvos = catalog.orvos();
  for (auto it = orvos.rbegin(); it != orvos.rend(); ++it) {
    const Orvo& orvo = *it->second;
    if (orvo.request == kRequestRemove || orvo.request == kRequestNull) {
      session.Log(L" - Set props for removal - %s", orvo.name);
      ApplyApplicationDefaults(orvo);
    }
  }
  for (auto it = orvos.rbegin(); it != orvos.rend(); ++it) {
    const Orvo& orvo = *it->second;
    if (PresentAfterInstallation(orvo) && orvo.name != imperial) {
      session.Log(L" - Set ApplicationDefaults - %s", orvo.name);
      ApplyApplicationDefaults(orvo);
    }
  }
  if (!imperial.empty()) {
    if (Orvo* orvo = PresentNamed(catalog, imperial)) {
      session.Log(L" - Set Imperial pack - %s", orvo->name);
      ApplyApplicationDefaults(*orvo);
    }
  }
  if (!preferred.empty()) {
    if (Orvo* orvo = PresentNamed(catalog, preferred)) {
      TextList inheritance;
      SplitText(orvo->InheritanceText(), L";", inheritance, true);
      for (const auto& name : inheritance) {
        // A name that is no Orvo of the catalogue has nothing to apply.
        if (Orvo* base = catalog.Find(name)) {
          session.Log(L" - Set preferred pack inheritance - %s", base->name);
          ApplyApplicationDefaults(*base);
        }
      }
      session.Log(L" - Set preferred pack - %s", orvo->name);
      ApplyApplicationDefaults(*orvo);
    }
  }
  return 0;
}

}  // namespace orvo
