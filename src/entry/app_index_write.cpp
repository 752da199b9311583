// AppIndexWrite: records the product in the application index, creating
// the index on first use. Returns 0 always: failures are logged, never
// reported to the installer.
#include "action/frame.h"
#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/xml_document.h"
#include "documents/paths.h"
#include "documents/text_lists.h"
#include "entry/entry_points.h"

extern "C" UINT __stdcall AppIndexWrite(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"AppIndexWrite", [&]() -> UINT {
    orvo::Frame frame(handle, L"AppIndexWrite", orvo::kAppIndexLogName);
    auto& session = orvo::InstallerSession::Instance();
    orvo::AppIndex index;
    std::wstring path = orvo::AppIndexPath();
    if (!orvo::PathExists(path)) {
      session.Log(L"  - Creating appIndex.xml");
      orvo::WriteResourceFile(orvo::kEmptyAppIndex, path);
      session.Log(L"  - Granting authenticated users GENERIC_ALL access to %s", path);
      unsigned long error = orvo::GrantAuthenticatedUsers(path);
      if (error != 0) session.Log(L" !=> Failed to grant access, error: %s", orvo::SystemErrorText(error));
      if (!orvo::PathExists(path)) session.Log(L" !=> Document does not exist: %s", path);
    }
    std::wstring schema = path;
    orvo::ChangeExtension(schema, L".xsd", false);
    orvo::WriteResourceFile(orvo::kAppIndexSchema, schema);
    session.SetProperty(L"AppIndexWrite_executed", L"1");
    index.WriteProduct();
    return ERROR_SUCCESS;
  });
}
