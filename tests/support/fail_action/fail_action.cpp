// A custom action that fails: a package schedules it after the file
// actions to make an installation roll back.
#include <windows.h>
#include <msi.h>

extern "C" __declspec(dllexport) UINT __stdcall FailAction(MSIHANDLE) { return ERROR_INSTALL_FAILURE; }
