#include "registry/registry_step.h"

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "documents/paths.h"
#include "registry/catalogue_entries.h"
#include "registry/raw_entries.h"
#include "registry/registry_key.h"
#include "registry/untrusted_keys.h"
#include "registry/user_hives.h"

namespace orvo {
namespace {

InstallerSession& Session() { return InstallerSession::Instance(); }
bool Has(unsigned bits) { return (Session().installType() & bits) != 0; }

bool Installing(const Orvo& orvo) { return orvo.request != kRequestRemove; }
bool Installed(const Orvo& orvo) { return orvo.current == kCurrentlyInstalled; }
bool NoAction(const Orvo& orvo) { return orvo.request == kRequestNull; }

bool SkipForCurrentUser(const Orvo& orvo) {
  if (Has(IT_NEWINSTALL | IT_ADDREMOVE) && NoAction(orvo) && !Has(IT_NEWUSER)) return true;
  // A removal never writes: an Orvo this product does not have is left alone.
  if (Has(IT_UNINSTALL) && !Installed(orvo) && NoAction(orvo)) return true;
  return Has(IT_REPAIRREG | IT_SECONDARY) && !Installed(orvo) && orvo.request != kRequestRemove;
}

bool SkipForMachine(const Orvo& orvo) {
  if (Has(IT_NEWINSTALL | IT_ADDREMOVE) && NoAction(orvo)) return true;
  return Has(IT_UNINSTALL | IT_REPAIRREG) && !Installed(orvo) && NoAction(orvo);
}

}  // namespace

void RemoveUserBranch(const std::wstring& userName) {
  auto& session = Session();
  session.Log(L" => Deleting HKCU for user %s", userName);
  std::wstring root = session.GetProperty(L"ZIRBHOSTAPPREGROOT");
  // The branch goes below its parent: a root of one name (or none) would
  // take a whole top-level key, or the hive, from every user.
  if (!IsRemovableBranch(root)) {
    session.Log(L" !=> Refused to delete HKCU\\%s for user %s: the root needs at least two key names", root, userName);
    return;
  }
  std::wstring parent = ParentFolder(root);
  StripTrailingBackslashes(parent);
  CRegistryDelete branchParent;
  if (branchParent.Open(HKEY_CURRENT_USER, parent)) branchParent.DeleteKey(LastPathComponent(root));
}

int RegistryStep(OrvoCatalog& catalog, const UserObserver& afterUser) {
  auto& session = Session();
  session.Log(L"\n_registry");
  std::wstring productCode = session.GetProperty(L"ProductCode");
  UserHiveTable users = UserTable(productCode);
  std::wstring currentUser = CurrentUserName();

  session.Log(L"  => Update current user");
  for (auto& [name, orvo] : catalog.orvos()) {
    if (SkipForCurrentUser(*orvo)) continue;
    ApplyRawEntries(currentUser, *orvo, Installing(*orvo), true);
    ApplyCatalogueEntries(currentUser, productCode, *orvo, Installing(*orvo));
  }

  if (!Has(IT_NEWUSER | IT_SECONDARY)) {
    for (auto& [name, orvo] : catalog.orvos()) {
      if (SkipForMachine(*orvo)) continue;
      ApplyRawEntries(currentUser, *orvo, Installing(*orvo), false);
    }
  }

  if (Has(IT_NEWINSTALL | IT_SECONDARY) || (Has(IT_NEWUSER) && !Has(IT_ADDREMOVE))) {
    session.Log(L"  => Complete");
    return 0;
  }
  OtherUserPass(
      users,
      [&](const std::wstring& user) {
        for (auto& [name, orvo] : catalog.orvos()) {
          if (NoAction(*orvo) && !Installed(*orvo)) continue;
          ApplyRawEntries(user, *orvo, Installing(*orvo), true);
          ApplyCatalogueEntries(user, productCode, *orvo, Installing(*orvo));
        }
        if (Has(IT_UNINSTALL)) RemoveUserBranch(user);
        if (afterUser) afterUser(user);
      },
      L"   => Updating HKCU for %s");
  return 0;
}

}  // namespace orvo
