// The three entry points that keep the application index. Each returns 0
// whatever happens: failures are logged, never reported to the installer.
#include <string>

#include "action/frame.h"
#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/text_lists.h"

namespace {
const wchar_t kLogName[] = L"appIndex.log";
}

extern "C" UINT __stdcall AppIndexSetNoBackslashProps(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"AppIndexSetNoBackslashProps", [&]() -> UINT {
    auto& session = orvo::InstallerSession::Instance();
    session.Begin(handle, L"appIndexSetNoBackslashProps", kLogName);
    orvo::TextList names;
    orvo::SplitText(session.GetProperty(L"NOBACKSLASHPROPS"), L";", names, true);
    for (const auto& name : names) {
      std::wstring value = session.GetProperty(name);
      while (!value.empty() && value.back() == L'\\') value.pop_back();
      // SetPropertyText logs the record and passes the value unformatted;
      // it sets nothing while the session is not ready.
      session.SetPropertyText(L"NOSLASH_" + name, value);
    }
    return ERROR_SUCCESS;
  });
}

extern "C" UINT __stdcall AppIndexWrite(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"AppIndexWrite", [&]() -> UINT {
    orvo::Frame frame(handle, L"AppIndexWrite", kLogName);
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

extern "C" UINT __stdcall AppIndexUninstall(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"AppIndexUninstall", [&]() -> UINT {
    orvo::Frame frame(handle, L"AppIndexUninstall", kLogName);
    orvo::AppIndex index;
    index.RemoveProduct(std::wstring());
    return ERROR_SUCCESS;
  });
}
