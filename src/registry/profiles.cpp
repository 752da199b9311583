#include "registry/profiles.h"

#include "action/database_view.h"
#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "documents/xml_document.h"
#include "registry/pack_registry.h"
#include "registry/registry_key.h"
#include "registry/value_text.h"

namespace orvo {
namespace {

const wchar_t kDefaultProfileKey[] =
    L"Software\\[Manufacturer]\\[VEXAREGPRODUCTNAME]\\[VEXAVERSION]\\[VEXACOOKIE]\\Profiles\\[VEXADEFAULTPROFILENAME]";

InstallerSession& Session() { return InstallerSession::Instance(); }
bool Has(unsigned bits) { return (Session().installType() & bits) != 0; }

std::wstring QuietRoot() { return Session().GetProperty(L"ZIRBHOSTAPPREGROOT", true); }

std::wstring ProfilesPath(const std::wstring& root) { return CombinePath(root, L"Profiles"); }

void AddPlaceholders(MacroSet& macros, const std::wstring& data) {
  for (const auto& name : PlaceholderNames(data)) macros.insert(name);
}

enum class UserRules { kCurrent, kOther };

// The profiles of each Orvo cloned, removed or left, for the user that
// HKEY_CURRENT_USER stands for now.
void PerUserPass(OrvoCatalog& catalog, UserRules rules, const TextList& superseded, const TextList& search,
                 const TextList& replace) {
  bool current = rules == UserRules::kCurrent;
  for (auto& [key, orvo] : catalog.orvos()) {
    TextList profiles;
    orvo->VisibleProfiles(profiles);
    bool install = orvo->request == kRequestInstall;
    bool installed = orvo->current == kCurrentlyInstalled;
    unsigned keepers = IT_REPAIRREG | IT_SECONDARY | (current ? IT_NEWUSER : 0);
    bool clone = (Has(IT_NEWINSTALL | IT_ADDREMOVE) && install) || (Has(keepers) && installed);
    if (clone) {
      bool skip = Has(IT_ADDREMOVE) && !install && !(current && Has(IT_NEWUSER));
      if (!skip) {
        for (const auto& profile : profiles) CloneProfile(profile, search, replace);
      }
    } else if (Has(IT_ADDREMOVE) && orvo->request == kRequestRemove) {
      if (ContainsText(superseded, orvo->name, true)) {
        Session().Log(L"    => %s is superceded. Profiles will not be removed.", orvo->name);
      } else {
        for (const auto& profile : profiles) DeleteProfile(profile);
      }
    }
  }
}

}  // namespace

int InitProfiles(OrvoCatalog& catalog) {
  Session().Log(L"\n_initprofiles");
  MacroSet macros;
  for (auto& [key, orvo] : catalog.orvos()) CreateMachineProfiles(*orvo, macros, !orvo->supersedes.empty());
  SeedDefaultProfile(macros);
  StoreMacros(HKEY_LOCAL_MACHINE, macros);
  return 0;
}

void CreateMachineProfiles(const Orvo& orvo, MacroSet& macros, bool overwrite) {
  auto& session = Session();
  session.Log(L"  => Create HKLM profiles for %s", orvo.name);
  XmlDocument pack;
  DomDocument* document = nullptr;
  if (!LoadDocument(pack, orvo.packDocumentPath, document, WriteToInstallLog)) return;
  DomElement* registry = FirstChildElement(pack.root(), L"Registry");
  if (!registry) return;

  std::wstring root = session.GetProperty(L"ZIRBHOSTAPPREGROOT");
  CRegistryWrite rootKey;
  if (!rootKey.Open(HKEY_LOCAL_MACHINE, root)) {
    session.Log(L" !=> Failed to open %s", root);
    return;
  }
  CRegistryWrite profilesKey;
  if (!profilesKey.Open(rootKey.key(), L"Profiles")) {
    session.Log(L" !=> Failed to open %s", L"Profiles");
    return;
  }
  for (DomElement* profile : ElementsBelow(registry, L"Profile")) {
    std::wstring name = session.FormatText(L"%s", AttributeText(profile, L"Name"));
    // An empty name would write into the key that holds every profile.
    if (name.empty()) continue;
    CRegistry existing;
    if (!Has(IT_PATCH) && !overwrite && existing.Open(profilesKey.key(), name)) {
      session.Log(L"%s already exists.", name);
      continue;
    }
    CRegistryWrite profileKey;
    if (!profileKey.Open(profilesKey.key(), name)) {
      session.Log(L" !=> Failed to open %s", name);
      return;
    }
    profileKey.SetString(L"BaseData", session.FormatText(L"%s", ChildText(profile, L"Inheritance")));
    for (DomElement* entry : ElementsBelow(profile, L"ProfileEntry")) {
      std::wstring subkey = session.FormatText(L"%s", AttributeText(entry, L"Subkey"));
      std::wstring valueName = session.FormatText(L"%s", AttributeText(entry, L"Name"));
      std::wstring typeText = AttributeText(entry, L"Type");
      std::wstring flags = AttributeText(entry, L"Flags");
      // As written: leading and trailing spaces are part of the value.
      std::wstring data = ToPlaceholders(TextContent(entry));
      DWORD type = RegistryTypeFromName(typeText);
      if ((type == REG_DWORD || type == REG_QWORD) && !IsNumberText(data)) {
        session.Log(L" !=> Error: %s profile key %s, value %s, data %s listed as type %s. Setting type to REG_SZ!",
                    name, subkey, valueName, data, typeText);
        type = REG_SZ;
      }
      if (!flags.empty()) {
        SetTypedValue(profileKey.key(), subkey, valueName + L".ProfileEntryFlags", flags, REG_DWORD);
      }
      SetTypedValue(profileKey.key(), subkey, valueName, data, type);
      AddPlaceholders(macros, data);
    }
  }
}

void SeedDefaultProfile(MacroSet& macros) {
  auto& session = Session();
  DatabaseView view;
  if (view.Open(session.handle(),
                L"SELECT `Key`,`Name`,`Value`,`Component_` FROM `Registry` WHERE "
                L"`Component_`='PerUser_Component' OR `Component_`='PerUser_Component_Findra'") &&
      view.Execute()) {
    for (unique_msihandle row = view.Fetch(); row; row = view.Fetch()) {
      std::wstring storedKey = session.RecordString(row.get(), 1);
      if (storedKey.find(kDefaultProfileKey) == std::wstring::npos) continue;
      if (session.RecordString(row.get(), 4) == L"PerUser_Component_Findra" &&
          !session.EvaluateCondition(L"&KeltraFindra=3")) {
        continue;
      }
      std::wstring key = session.FormatText(L"%s", storedKey);
      std::wstring name = session.FormatText(L"%s", session.RecordString(row.get(), 2));
      std::wstring data = ToPlaceholders(session.RecordString(row.get(), 3));
      CRegistryWrite target;
      if (!target.Open(HKEY_LOCAL_MACHINE, key)) {
        session.Log(L" !=> Failed to open HKLM\\%s", key);
        return;
      }
      SetValueText(target.key(), std::wstring(), name, data);
      AddPlaceholders(macros, data);
    }
  }
  std::wstring path = CombinePath(QuietRoot(), L"struoProfile");
  CRegistryWrite store;
  if (!store.Open(HKEY_LOCAL_MACHINE, path)) {
    session.Log(L" !=> Failed to open %s key", path);
    return;
  }
  store.SetDword(L"CreateAsVexaProfile", session.EvaluateCondition(L"KELTRA_DESKTOPSHORTCUT_3=\"1\"") ? 1 : 0);
  store.SetString(L"VEXADEFAULTPROFILENAME", session.GetProperty(L"VEXADEFAULTPROFILENAME"));
}

int CloneProfiles(OrvoCatalog& catalog) {
  auto& session = Session();
  if (Has(IT_UNINSTALL)) return 0;
  if (Has(IT_PATCH)) {
    session.Log(L" => Patching. Will not overwrite profiles.");
    return 0;
  }
  if (Has(IT_PATCHREMOVE)) {
    session.Log(L" => Removing patch. Will not overwrite profiles.");
    return 0;
  }
  session.Log(L"\n_cloneprofiles");
  std::wstring productCode = session.GetProperty(L"ProductCode");
  AppIndex index;
  index.Open();
  TextList superseded;
  SplitText(index.GetIndexedProperty(productCode, L"ORVO_SUPERCEDED"), L";", superseded, true);
  UserHiveTable users = UserTable(productCode);
  if (Has(IT_SECONDARY | IT_REPAIRREG | IT_NEWINSTALL | IT_ADDREMOVE | IT_NEWUSER)) InitUserMacros();
  std::wstring defaultProfile = session.GetProperty(L"VEXADEFAULTPROFILENAME");
  bool keepDefault;
  if (Has(IT_NEWINSTALL)) {
    index.SetIndexedProperty(productCode, L"CREATE_VEXA_PROFILE", session.GetProperty(L"CREATE_VEXA_PROFILE"));
    keepDefault = session.EvaluateCondition(L"CREATE_VEXA_PROFILE=\"1\"");
  } else {
    keepDefault = !index.GetIndexedProperty(productCode, L"CREATE_VEXA_PROFILE").empty();
  }
  TextList search, replace;
  LoadMacroTable(search, replace);

  session.Log(L"  => Update current user");
  PerUserPass(catalog, UserRules::kCurrent, superseded, search, replace);
  if (keepDefault) {
    BackupForReset(defaultProfile);
  } else {
    DeleteProfile(defaultProfile);
  }

  if (Has(IT_NEWINSTALL | IT_SECONDARY)) {
    session.Log(L"  => Secondary install. Will not update other users.");
  } else if (Has(IT_NEWUSER) && !Has(IT_ADDREMOVE)) {
    session.Log(L"  => IT_NEWUSER reinstall. Will not update other users.");
  } else {
    OtherUserPass(
        users,
        [&](const std::wstring& user) {
          TextList userSearch, userReplace;
          if (!LoadMacroTable(userSearch, userReplace)) {
            session.Log(L"  !=> Macros not defined for user %s", user);
            return;
          }
          PerUserPass(catalog, UserRules::kOther, superseded, userSearch, userReplace);
          if (!keepDefault) DeleteProfile(defaultProfile);
        },
        L"   => Updating HKCU from %s");
  }
  return 0;
}

bool CloneProfile(const std::wstring& profile, const TextList& search, const TextList& replace) {
  auto& session = Session();
  session.Log(L"   => Clone profile: %s", profile);
  std::wstring profilesPath = ProfilesPath(QuietRoot());
  CRegistry masters;
  if (!masters.Open(HKEY_LOCAL_MACHINE, profilesPath)) {
    session.Log(L"  !=> Failed to open profiles key %s", profilesPath);
    return true;
  }
  CRegistry master;
  if (profile.empty() || !master.Open(masters.key(), profile)) {
    session.Log(L"  !=> Failed to open source profile key %s", profile);
    return true;
  }
  std::wstring targetPath = CombinePath(profilesPath, profile);
  CRegistryWrite target;
  if (!target.Open(HKEY_CURRENT_USER, targetPath)) {
    session.Log(L"  !=> Failed to open target profile key %s", targetPath);
    return true;
  }
  TextList bases;
  SplitFields(master.GetString(L"BaseData"), L';', bases);
  for (const auto& base : bases) {
    // An empty name opens the key of all profiles, which would copy every
    // master copy into this one.
    if (base.empty()) continue;
    CRegistry baseKey;
    if (baseKey.Open(masters.key(), base)) CopyKeyTree(baseKey.key(), target.key(), &search, &replace);
  }
  bool copied = CopyKeyTree(master.key(), target.key(), &search, &replace);
  target.Close();
  master.Close();
  masters.Close();
  if (copied) BackupForReset(profile);
  return true;
}

void BackupForReset(const std::wstring& profile) {
  auto& session = Session();
  if (profile.empty()) return;
  std::wstring root = QuietRoot();
  std::wstring sourcePath = CombinePath(ProfilesPath(root), profile);
  std::wstring backupPath = CombinePath(CombinePath(CombinePath(root, L"struoProfile"), L"Default"), profile);
  CRegistry source;
  if (!source.Open(HKEY_CURRENT_USER, sourcePath)) {
    session.Log(L"   !=> Creating backup for profile reset of %s failed. Error opening source key.", profile);
    return;
  }
  CRegistry existing;
  if (existing.Open(HKEY_CURRENT_USER, backupPath)) {
    session.Log(L"    => Backup for profile reset of %s already exists", profile);
    return;
  }
  CRegistryWrite backup;
  if (!backup.Open(HKEY_CURRENT_USER, backupPath)) {
    session.Log(L"   !=> Creating backup for profile reset of %s failed. Error creating key.", profile);
    return;
  }
  session.Log(L"    => Creating backup for profile reset of %s", profile);
  if (!CopyKeyTree(source.key(), backup.key(), nullptr, nullptr)) {
    session.Log(L"   !=> Creating backup for profile reset of %s failed. Clone error.", profile);
  }
}

bool DeleteProfile(const std::wstring& profile) {
  auto& session = Session();
  session.Log(L"  => Attempting to delete profile %s", profile);
  std::wstring path = ProfilesPath(QuietRoot());
  CRegistryDelete profiles;
  if (!profiles.Open(HKEY_CURRENT_USER, path)) {
    session.Log(L" !=> Failed to open %s", path);
    return false;
  }
  // An empty name would take every user copy with it.
  if (!profile.empty()) profiles.DeleteKey(profile);
  return true;
}

void RemoveMachineProfiles() {
  auto& session = InstallerSession::Instance();
  session.Log(L"  => Clean up HKLM");
  std::wstring root = session.GetProperty(L"ZIRBHOSTAPPREGROOT");
  // No root names no branch of ours; a missing one is not created only to be emptied.
  if (root.empty()) return;
  {
    CRegistry existing;
    if (!existing.Open(HKEY_LOCAL_MACHINE, root)) return;
  }
  CRegistryDelete key;
  if (!key.Open(HKEY_LOCAL_MACHINE, root)) return;
  key.DeleteKey(L"struoProfile");
  key.DeleteKey(L"Profiles");
}

}  // namespace orvo
