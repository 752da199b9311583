// The entry point that creates and deletes the Orvos' shortcuts.
#include "action/frame.h"
#include "catalog/orvo_model.h"
#include "catalog/untrusted_paths.h"
#include "entry/entry_points.h"
#include "media/media_locator.h"
#include "shortcuts/configure_shortcuts.h"

extern "C" UINT __stdcall OrvoShortcuts(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoShortcuts", [&]() -> UINT {
    orvo::Frame frame(handle, L"OrvoShortcuts");
    auto& session = orvo::InstallerSession::Instance();
    if (session.installType() & orvo::IT_SECONDARY) {
      session.Log(L" => 2nd user install will not configure shortcuts");
      return ERROR_SUCCESS;
    }
    orvo::XmlDocument master;
    orvo::DomDocument* document = nullptr;
    if (!orvo::LoadDocument(master, orvo::InstalledMasterDocumentPath(), document) || !document)
      return ERROR_SUCCESS;
    orvo::MediaLocator::Instance().SetUp(orvo::TrustedMediaRoot(master),
                                         orvo::ChildText(master.root(), L"URL"));
    orvo::MediaLocator::Instance().SetTransferLimits(session.GetProperty(L"ORVO_DOWNLOAD_DEADLINE"),
                                                     session.GetProperty(L"ORVO_DOWNLOAD_STALL"));
    orvo::OrvoCatalog catalog;
    catalog.Load(master, true);
    UINT result = orvo::ConfigureShortcuts(master, catalog);
    if (result != ERROR_SUCCESS) {
      session.Log(L"!=> configureshortcuts returning %d", result);
      return result;
    }
    if (master.changed()) master.Save(L"UTF-16", L"\r\n");
    return ERROR_SUCCESS;
  });
}
