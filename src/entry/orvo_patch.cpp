// OrvoPatch: the deferred action that extracts the cabinets a patch carries.
#include "action/frame.h"
#include "action/installer_session.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/patch_application.h"
#include "documents/journal.h"
#include "entry/entry_points.h"
#include "media/media_locator.h"

extern "C" UINT __stdcall OrvoPatch(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoPatch", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoPatch");
    // Inside the installer no one reads the extractor's console lines, and
    // writing and flushing one per file costs more than the extraction.
    SetExtractDiagnostics(false);
    MediaLocator::Instance().SetLogPath(L"orvo_Install.log");
    auto& session = InstallerSession::Instance();
    std::wstring patchData = session.GetProperty(L"CustomActionData");
    // What the extraction changes can be undone by the rollback action.
    JournalScope journal(PatchJournalFolder(), session.GetProperty(L"ProductCode"));
    ApplyPatchStreams(patchData);
    return ERROR_SUCCESS;
  });
}
