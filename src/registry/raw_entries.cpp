#include "registry/raw_entries.h"

#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "registry/pack_registry.h"
#include "registry/registry_key.h"
#include "registry/untrusted_keys.h"
#include "registry/value_text.h"

namespace orvo {
namespace {

struct Hive {
  HKEY root;
  const wchar_t* tag;
  bool perUser;
};

const Hive kHives[] = {
    {HKEY_CLASSES_ROOT, L"HKCR", false},
    {HKEY_CURRENT_USER, L"HKCU", true},
    {HKEY_LOCAL_MACHINE, L"HKLM", false},
};

}  // namespace

void ApplyRawEntries(const std::wstring& userName, const Orvo& orvo, bool install, bool userPass) {
  auto& session = InstallerSession::Instance();
  XmlDocument pack;
  DomElement* registry = LoadPackRegistry(orvo, pack);
  if (!registry) return;
  session.Log(L"   => Processing %s raw registry entries%s%s", orvo.name, userPass ? L" for " : L"",
              userPass ? userName : std::wstring());
  for (const Hive& hive : kHives) {
    if (hive.perUser != userPass) continue;
    for (DomElement* entry : ElementsBelow(registry, hive.tag)) {
      std::wstring subkey = session.FormatText(L"%s", AttributeText(entry, L"Subkey"));
      std::wstring name = session.FormatText(L"%s", AttributeText(entry, L"Name"));
      // An empty or malformed path would put the value on the hive itself
      // and let the removal prune from there.
      if (!IsSafeKeyPath(subkey)) {
        session.Log(L"   !=> Refused the key \"%s\" of a %s entry", subkey, hive.tag);
        continue;
      }
      CRegistryDelete key;
      if (!key.Open(hive.root, subkey)) {
        session.Log(L"   !=> Failed to open %s for write", subkey);
        continue;
      }
      if (install) {
        SetTypedValue(key.key(), std::wstring(), name, TextContent(entry),
                      RegistryTypeFromName(AttributeText(entry, L"Type")));
      } else {
        RegDeleteValueW(key.key(), name.c_str());
        key.Close();
        PruneEmptyKeys(hive.root, subkey);
      }
    }
  }
}

}  // namespace orvo
