// AppIndexSetNoBackslashProps: the properties named in "NOBACKSLASHPROPS"
// again as "NOSLASH_<name>", without trailing backslashes. Returns 0 always.
#include "action/frame.h"
#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/text_lists.h"
#include "entry/entry_points.h"

extern "C" UINT __stdcall AppIndexSetNoBackslashProps(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"AppIndexSetNoBackslashProps", [&]() -> UINT {
    orvo::Frame frame(handle, L"appIndexSetNoBackslashProps", orvo::kAppIndexLogName);
    auto& session = orvo::InstallerSession::Instance();
    orvo::TextList names;
    orvo::SplitText(session.GetProperty(L"NOBACKSLASHPROPS"), L";", names, true);
    for (const auto& name : names) {
      std::wstring value = session.GetProperty(name);
      orvo::StripTrailingBackslashes(value);
      // SetPropertyText logs the record and passes the value unformatted;
      // it sets nothing while the session is not ready.
      session.SetPropertyText(L"NOSLASH_" + name, value);
    }
    return ERROR_SUCCESS;
  });
}
