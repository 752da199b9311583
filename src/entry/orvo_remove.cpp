// OrvoRemove: the deferred action that deletes the files of the Orvos
// slated for removal once no product references them.
#include "action/frame.h"
#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "deploy/remove_files.h"
#include "documents/text_lists.h"
#include "documents/xml_document.h"

extern "C" UINT __stdcall OrvoRemove(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoRemove", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoRemove");
    auto& session = InstallerSession::Instance();

    std::wstring data = session.GetProperty(L"CustomActionData");
    session.Classify(FieldAt(data, 0));

    XmlDocument master;
    DomDocument* document = nullptr;
    if (!LoadDocument(master, FieldAt(data, 1), document) || !document) return ERROR_SUCCESS;

    OrvoCatalog catalog;
    catalog.Load(master, true);
    unsigned result = RemoveFiles(master, catalog);
    if (result != ERROR_SUCCESS) {
      session.Log(L"!=> OrvoRemove returning %d", result);
      return result;
    }
    if (master.changed()) master.Save(L"UTF-16", L"\r\n");
    session.Log(L" => OrvoRemove complete");
    return ERROR_SUCCESS;
  });
}
