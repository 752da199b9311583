// AppIndexUninstall: removes the product's record from the application
// index. Returns 0 always.
#include "action/frame.h"
#include "appindex/app_index.h"
#include "entry/entry_points.h"

extern "C" UINT __stdcall AppIndexUninstall(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"AppIndexUninstall", [&]() -> UINT {
    orvo::Frame frame(handle, L"AppIndexUninstall", orvo::kAppIndexLogName);
    orvo::AppIndex index;
    index.RemoveProduct(std::wstring());
    return ERROR_SUCCESS;
  });
}
