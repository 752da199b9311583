// The registry-entry step of OrvoRegistry: raw entries and catalogue
// registrations of every Orvo that takes part, for the current user, the
// machine and every other user who has the product.
#pragma once
#include <functional>
#include <string>

namespace orvo {

class OrvoCatalog;

// Called after each other user's work, while HKEY_CURRENT_USER still stands
// for that user's hive.
using UserObserver = std::function<void(const std::wstring& userName)>;

int RegistryStep(OrvoCatalog& catalog, const UserObserver& afterUser = UserObserver());
// Removes the product's branch (ZIRBHOSTAPPREGROOT) from the hive that
// HKEY_CURRENT_USER stands for now; refuses a root of fewer than two names.
void RemoveUserBranch(const std::wstring& userName);

}  // namespace orvo
