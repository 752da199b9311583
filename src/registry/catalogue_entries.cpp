#include "registry/catalogue_entries.h"

#include <cwchar>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "registry/auto_register_catalog.h"
#include "registry/pack_registry.h"
#include "registry/registry_key.h"
#include "registry/untrusted_keys.h"
#include "registry/value_text.h"

namespace orvo {
namespace {

const wchar_t kDatabases[] =
    L"Software\\[Manufacturer]\\[VEXAREGPRODUCTNAME]\\[VEXAVERSION]\\[VEXACOOKIE]\\STRUO\\[StruoModMajor]."
    L"[StruoModMinor]\\StruoRcpBase[StruoObjMajor][StruoObjMinor]\\Databases\\";
const wchar_t kBrovia[] = L"Software\\Keltra\\Keltra Brovia\\[StruoModMajor][StruoModMinor]\\";

InstallerSession& Session() { return InstallerSession::Instance(); }

// Every subkey name below comes from a pack document; an empty one would
// write into, or delete every registration below, the shared key.
bool AcceptedName(const std::wstring& name) {
  if (IsSafeKeyPath(name)) return true;
  Session().Log(L"     !=> Refused the registration key \"%s\"", name);
  return false;
}

void WriteAdditionalValues(HKEY key, const std::wstring& subkey, const DomElement* element) {
  for (DomElement* value : ElementsBelow(element, L"AdditionalValue")) {
    SetTypedValue(key, subkey, AttributeText(value, L"Name"), Session().FormatText(L"%s", TextContent(value)),
                  RegistryTypeFromName(AttributeText(value, L"Type")));
  }
}

class Registrar {
 public:
  Registrar(const std::wstring& userName, const std::wstring& productCode, bool install)
      : userName_(userName), productCode_(productCode), install_(install) {}

  void Databases(const DomElement* registry, bool keynotes) {
    std::vector<DomElement*> elements =
        ElementsBelow(registry, keynotes ? L"DetailsKeynotesDb" : L"DetailsComponentsDb");
    if (elements.empty()) return;
    auto& session = Session();
    std::wstring path = session.FormatText(L"%s%s", kDatabases, keynotes ? L"Keynotes" : L"Components");
    CRegistryDelete key;
    if (!key.Open(HKEY_CURRENT_USER, path)) {
      session.Log(L"     !=> Failed to open %s for registering %s catalogs", path,
                  keynotes ? L"Keynote" : L"Component");
      return;
    }
    for (DomElement* element : elements) {
      std::wstring fingerprint = AttributeText(element, L"Fingerprint");
      std::wstring location = Location(element);
      if (!AcceptedName(fingerprint)) continue;
      if (install_) {
        SetTypedValue(key.key(), fingerprint, L"DatabaseLocation", location, REG_SZ);
        WriteAdditionalValues(key.key(), fingerprint, element);
        if (keynotes) {
          session.Log(L"      => Registered Keynote database %s, %s", fingerprint, location);
        } else {
          session.Log(L"      => Registered Component database %s", location);
        }
      } else {
        bool deleted = key.DeleteKey(fingerprint);
        if (!keynotes) {
          session.Log(L"      => Unregistered Component database %s", location);
        } else if (deleted) {
          session.Log(L"      => Unregistered Keynote database %s, %s", fingerprint, location);
        } else {
          session.Log(L"      => Failed to unregister Keynote database %s, %s", fingerprint, location);
        }
      }
    }
  }

  void Catalogs(const DomElement* registry) {
    std::vector<DomElement*> elements = ElementsBelow(registry, L"BroviaCatalog");
    if (elements.empty()) return;
    auto& session = Session();
    std::wstring path = session.FormatText(L"%s%s", kBrovia, L"RegisteredCatalogs");
    CRegistryDelete key;
    if (!key.Open(HKEY_CURRENT_USER, path)) {
      session.Log(L"     !=> Failed to open %s for registering Brovia Catalogs", path);
      return;
    }
    for (DomElement* element : elements) {
      std::wstring subkey = session.FormatText(L"%s", AttributeText(element, L"Key"));
      std::wstring location = Location(element);
      if (!AcceptedName(subkey)) continue;
      if (!install_) {
        key.DeleteKey(subkey);
        session.Log(L"      => Unregistered Brovia catalog %s", location);
        continue;
      }
      std::wstring groupType = AttributeText(element, L"GroupType");
      std::wstring type = HasAttribute(element, L"Type") ? AttributeText(element, L"Type") : L"2";
      if (AttributeText(element, L"AutoRegister") == L"true") {
        if (!AutoRegisterCatalog(groupType, _wtoi(type.c_str()), key.key(), subkey, location))
          session.Log(L"     !=> Failed to autoregister %s", location);
      } else {
        SetTypedValue(key.key(), subkey, L"Url", location, REG_SZ);
        SetTypedValue(key.key(), subkey, L"GroupID", groupType, REG_SZ);
        SetTypedValue(key.key(), subkey, L"Type", type, REG_DWORD);
      }
      WriteAdditionalValues(key.key(), subkey, element);
      session.Log(L"      => Registered Brovia catalog %s", location);
    }
  }

  void Groups(const DomElement* registry) {
    std::vector<DomElement*> elements = ElementsBelow(registry, L"BroviaGroup");
    if (elements.empty()) return;
    auto& session = Session();
    std::wstring path = session.FormatText(L"%s%s", kBrovia, L"RegisteredGroups");
    CRegistryDelete key;
    if (!key.Open(HKEY_CURRENT_USER, path)) {
      session.Log(L"     !=> Failed to open %s for registering Brovia Groups", path);
      return;
    }
    for (DomElement* element : elements) {
      std::wstring subkey = AttributeText(element, L"Key");
      std::wstring name = TextContent(element);
      if (!AcceptedName(subkey)) continue;
      if (install_) {
        SetTypedValue(key.key(), subkey, L"ItemName", name, REG_SZ);
        SetTypedValue(key.key(), subkey, L"ItemID", AttributeText(element, L"Guid"), REG_SZ);
        session.Log(L"      => Added %s Brovia group", name);
      } else {
        key.DeleteKey(subkey);
        session.Log(L"      => Removed %s Brovia group", name);
      }
    }
  }

 private:
  // Each [NAME] as the user's folder of that directory, else the property.
  std::wstring Location(const DomElement* element) {
    std::wstring text = ElementText(element);
    index_.ResolveUserReferences(productCode_, userName_, text);
    return text;
  }

  std::wstring userName_, productCode_;
  bool install_;
  AppIndex index_;
};

}  // namespace

void ApplyCatalogueEntries(const std::wstring& userName, const std::wstring& productCode, const Orvo& orvo,
                           bool install) {
  auto& session = Session();
  if (session.installType() & IT_UNINSTALL) return;
  session.Log(L"   => Processing %s registry entries for %s", orvo.name, userName);
  XmlDocument pack;
  DomElement* registry = LoadPackRegistry(orvo, pack);
  if (!registry) return;
  Registrar registrar(userName, productCode, install);
  registrar.Databases(registry, true);
  registrar.Databases(registry, false);
  registrar.Catalogs(registry);
  registrar.Groups(registry);
}

}  // namespace orvo
