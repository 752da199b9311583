// The entry point that connects the content folders on network shares.
#include "action/frame.h"
#include "entry/entry_points.h"
#include "media/remote_folder_access.h"

// Always 0: a share that cannot be reached fails later, where its files are
// written, with the connection's failure already in the log.
extern "C" UINT __stdcall OrvoRemoteFolderAccess(MSIHANDLE handle) {
  orvo::GuardEntryPoint(L"OrvoRemoteFolderAccess", [&]() -> UINT {
    orvo::Frame frame(handle, L"OrvoRemoteFolderAccess");
    return orvo::RemoteFolderAccess();
  });
  return ERROR_SUCCESS;
}
