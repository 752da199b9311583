// OrvoRollback: as the rollback action of an installation, undoes what the
// deferred file actions changed on disk; as its commit action, forgets
// what they kept for that. Anywhere else, and always, its banner and run
// modes leave a trace in the log.
#include "action/frame.h"
#include "action/installer_session.h"
#include "catalog/hand_over_data.h"
#include "documents/journal.h"
#include "entry/entry_points.h"

extern "C" UINT __stdcall OrvoRollback(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoRollback", [&]() -> UINT {
    using namespace orvo;
    Frame frame(handle, L"OrvoRollback");
    auto& session = InstallerSession::Instance();
    if (!session.deferred()) return ERROR_SUCCESS;
    RollbackData data = RollbackData::Decode(session.GetProperty(L"CustomActionData"));
    std::wstring productCode = session.GetProperty(L"ProductCode");
    if (MsiGetMode(handle, MSIRUNMODE_ROLLBACK)) {
      int undone = RollBackJournals(data.journalFolder, data.transaction);
      undone += RollBackJournals(PatchJournalFolder(), productCode);
      session.Log(L" => Rolled back %d journal(s) of %s", undone, data.transaction);
    } else if (MsiGetMode(handle, MSIRUNMODE_COMMIT)) {
      CommitJournals(data.journalFolder, data.transaction);
      CommitJournals(PatchJournalFolder(), productCode);
      session.Log(L" => Committed the journals of %s", data.transaction);
    }
    return ERROR_SUCCESS;
  });
}
