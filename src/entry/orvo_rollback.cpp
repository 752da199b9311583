// OrvoRollback: a rolled-back installation leaves its trace in the log.
#include "action/frame.h"
#include "entry/entry_points.h"

// Does nothing but the frame: the banner and run modes reach the log.
extern "C" UINT __stdcall OrvoRollback(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoRollback", [&]() -> UINT {
    orvo::Frame frame(handle, L"OrvoRollback");
    return ERROR_SUCCESS;
  });
}
