// The entry point that gives every user the Orvos' profiles and registry
// entries: the profile step, then the registry-entry step.
#pragma once
#include <windows.h>
// After windows.h, whose types it uses.
#include <msi.h>

#include <functional>

#include "registry/registry_step.h"

extern "C" UINT __stdcall OrvoRegistry(MSIHANDLE handle);

namespace orvo {

class OrvoCatalog;

// The profile step, and the registry step only when it returned 0; the
// first non-zero result.
int RunRegistrySteps(OrvoCatalog& catalog, const std::function<int(OrvoCatalog&)>& profileStep,
                     const UserObserver& afterUser = UserObserver());

}  // namespace orvo
