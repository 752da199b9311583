// OrvoCleanup: removes what a removed product leaves of its content (its
// "Orvos" folder, emptied folders, the machine-wide profiles), or, in any
// other installation, the Orvos that installed ones supersede.
#include "action/frame.h"
#include "action/installer_session.h"
#include "deploy/product_cleanup.h"
#include "entry/entry_points.h"
#include "registry/profiles.h"

extern "C" UINT __stdcall OrvoCleanup(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoCleanup", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoCleanup");
    if (InstallerSession::Instance().installType() & IT_UNINSTALL) {
      RemoveProductFolders();
      RemoveMachineProfiles();
    } else {
      RemoveSupersededOrvos();
    }
    return ERROR_SUCCESS;
  });
}
