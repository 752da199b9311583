// OrvoInstall: the deferred action that installs the files of the chosen
// Orvos from their cabinets.
#include "action/frame.h"
#include "action/installer_session.h"
#include "catalog/hand_over_data.h"
#include "catalog/orvo_model.h"
#include "catalog/untrusted_paths.h"
#include "deploy/deployment_state.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/install_files.h"
#include "deploy/progress_window.h"
#include "documents/journal.h"
#include "documents/xml_document.h"
#include "entry/entry_points.h"
#include "media/media_locator.h"

extern "C" UINT __stdcall OrvoInstall(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoInstall", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoInstall");
    // Inside the installer no one reads the extractor's console lines, and
    // writing and flushing one per file costs more than the extraction.
    SetExtractDiagnostics(false);
    auto& session = InstallerSession::Instance();
    MediaLocator::Instance().SetLogPath(L"orvo_Install.log");

    HandOverData data = HandOverData::Decode(session.GetProperty(L"CustomActionData"));
    session.Classify(data.installType);
    DeploymentState::Instance().productFolders = data.ProductFolders();
    ShownWindow window(data.windowTitle);
    MediaLocator::Instance().SetTransferLimits(data.downloadDeadline, data.downloadStall);
    unsigned type = session.installType();
    if (type & IT_UNINSTALL) {
      session.Log(L" => Nothing to do!");
      return ERROR_SUCCESS;
    }

    XmlDocument master;
    DomDocument* document = nullptr;
    if (!LoadDocument(master, data.masterDocument, document, WriteToInstallLog) || !document) return ERROR_SUCCESS;
    MediaLocator::Instance().SetUp(TrustedMediaRoot(master), ChildText(master.root(), L"URL"));

    // What the step changes on disk can be undone by the rollback action.
    JournalScope journal(JournalFolder(data.masterDocument), data.transaction);
    OrvoCatalog catalog;
    catalog.Load(master, !(type & IT_SECONDARY));
    unsigned result = InstallFiles(master, catalog, data.userName);
    if (result != ERROR_SUCCESS) {
      session.Log(L"!=> OrvoInstall returning %d", result);
      return result;
    }
    if (master.changed() && !(type & IT_SECONDARY)) master.Save(L"UTF-16", L"\r\n");
    session.Log(L" => OrvoInstall complete");
    return ERROR_SUCCESS;
  });
}
