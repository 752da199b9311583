#include <windows.h>

#include "action/installer_session.h"

// The library keeps no per-thread state; thread notifications are not needed.
// At FreeLibrary (reserved is null) the session's cached installer records
// are closed; at process exit nothing is, as msi.dll may be gone already.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) orvo::InstallerSession::Instance().CloseCachedRecords();
  return TRUE;
}
