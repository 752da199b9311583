// The twelve exported entry points, as src/entry/orvo_Action.def exports
// them undecorated. Each takes the installer session handle and returns a
// Windows Installer error code; no exception leaves one.
#pragma once
#include <windows.h>
// After windows.h, whose types it uses.
#include <msi.h>

extern "C" {
UINT __stdcall OrvoInit(MSIHANDLE handle);
UINT __stdcall OrvoInstall(MSIHANDLE handle);
UINT __stdcall OrvoRemove(MSIHANDLE handle);
UINT __stdcall OrvoCleanup(MSIHANDLE handle);
UINT __stdcall OrvoPatch(MSIHANDLE handle);
UINT __stdcall OrvoRegistry(MSIHANDLE handle);
UINT __stdcall OrvoShortcuts(MSIHANDLE handle);
UINT __stdcall OrvoRemoteFolderAccess(MSIHANDLE handle);
UINT __stdcall OrvoRollback(MSIHANDLE handle);
UINT __stdcall AppIndexWrite(MSIHANDLE handle);
UINT __stdcall AppIndexUninstall(MSIHANDLE handle);
UINT __stdcall AppIndexSetNoBackslashProps(MSIHANDLE handle);
}
