// OrvoRemove: the deferred action that deletes the files of the Orvos
// slated for removal once no product references them.
#include "action/frame.h"
#include "action/installer_session.h"
#include "catalog/hand_over_data.h"
#include "catalog/orvo_model.h"
#include "deploy/deployment_state.h"
#include "deploy/remove_files.h"
#include "documents/journal.h"
#include "documents/xml_document.h"
#include "entry/entry_points.h"

extern "C" UINT __stdcall OrvoRemove(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoRemove", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoRemove");
    auto& session = InstallerSession::Instance();

    HandOverData data = HandOverData::Decode(session.GetProperty(L"CustomActionData"));
    session.Classify(data.installType);
    DeploymentState::Instance().productFolders = data.ProductFolders();

    XmlDocument master;
    DomDocument* document = nullptr;
    if (!LoadDocument(master, data.masterDocument, document) || !document) return ERROR_SUCCESS;

    // What the step changes on disk can be undone by the rollback action.
    JournalScope journal(JournalFolder(data.masterDocument), data.transaction);
    OrvoCatalog catalog;
    catalog.Load(master, true);
    unsigned result = RemoveFiles(master, catalog, data.forceDelete);
    if (result != ERROR_SUCCESS) {
      session.Log(L"!=> OrvoRemove returning %d", result);
      return result;
    }
    if (master.changed()) master.Save(L"UTF-16", L"\r\n");
    session.Log(L" => OrvoRemove complete");
    return ERROR_SUCCESS;
  });
}
