#include "registry/registry_steps.h"

#include "action/installer_session.h"

namespace orvo {

int RunRegistrySteps(OrvoCatalog& catalog, const std::function<int(OrvoCatalog&)>& profileStep,
                     const UserObserver& afterUser) {
  auto& session = InstallerSession::Instance();
  int result = profileStep(catalog);
  if (result != 0) {
    session.Log(L"!=> cloneprofiles returning %d", result);
    return result;
  }
  result = RegistryStep(catalog, afterUser);
  if (result != 0) {
    session.Log(L"!=> registry returning %d", result);
    return result;
  }
  return 0;
}

}  // namespace orvo
