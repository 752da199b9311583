// OrvoInit: decides what the installation does with each Orvo and hands it
// over, prepares the patch cabinets, then sets the properties the chosen
// Orvos define and writes the master profiles.
#include "action/frame.h"
#include "action/installer_session.h"
#include "catalog/catalog_initialization.h"
#include "catalog/orvo_model.h"
#include "deploy/patch_streams.h"
#include "entry/entry_points.h"
#include "media/media_locator.h"
#include "registry/application_defaults.h"
#include "registry/profiles.h"

extern "C" UINT __stdcall OrvoInit(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoInit", [&]() -> UINT {
    orvo::Frame frame(handle, L"OrvoInit");
    auto& session = orvo::InstallerSession::Instance();
    orvo::MediaLocator::Instance().SetLogPath(L"orvo_Install.log");
    orvo::MediaLocator::Instance().SetTransferLimits(session.GetProperty(L"ORVO_DOWNLOAD_DEADLINE"),
                                                     session.GetProperty(L"ORVO_DOWNLOAD_STALL"));

    orvo::OrvoCatalog catalog;
    // The patch data is published with the hand-over.
    int result = orvo::InitializeCatalog(catalog, [&] {
      if (session.EvaluateCondition(L"ORVO_PATCHSEQUENCE")) orvo::ExtractPatchStreams();
    });
    if (result != 0) return static_cast<UINT>(result);

    std::wstring guid = session.GetProperty(L"_ORVOGUID", true);
    std::wstring flag = L"ORVO_KELTRAEXECUTEFLAG" + guid;
    if (session.EvaluateCondition(L"%s", flag)) {
      session.SetPropertyText(flag, std::wstring());
      return ERROR_SUCCESS;
    }
    result = orvo::SetApplicationDefaults(catalog);
    if (result != 0) return static_cast<UINT>(result);
    if (session.installType() & orvo::IT_SECONDARY) return ERROR_SUCCESS;
    return static_cast<UINT>(orvo::InitProfiles(catalog));
  });
}
