// What OrvoRegistry runs: the profile step, then the registry-entry step.
#pragma once
#include <functional>

#include "registry/registry_step.h"

namespace orvo {

class OrvoCatalog;

// The profile step, and the registry step only when it returned 0; the
// first non-zero result.
int RunRegistrySteps(OrvoCatalog& catalog, const std::function<int(OrvoCatalog&)>& profileStep,
                     const UserObserver& afterUser = UserObserver());

}  // namespace orvo
