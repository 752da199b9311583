#include "deploy/patch_streams.h"

#include "action/database_view.h"
#include "action/installer_session.h"
#include "documents/paths.h"
#include "documents/text_lists.h"

namespace orvo {

int ExtractPatchStreams() {
  auto& session = InstallerSession::Instance();
  TextList names;
  SplitFields(session.GetProperty(L"ORVO_PATCHSEQUENCE"), L';', names);
  unique_msihandle record(MsiCreateRecord(1));
  TextList patches;
  int latest = 0;
  for (const auto& name : names) {
    DatabaseView view;
    if (!view.Open(session.handle(), L"SELECT `Data` FROM `Binary` WHERE `Name`=?")) {
      session.Log(L"   !=> Could not open view into Binary table");
      continue;
    }
    MsiRecordSetStringW(record.get(), 1, name.c_str());
    unique_msihandle row;
    if (view.Execute(record.get())) row = view.Fetch();
    if (!row) {
      session.Log(L"   !=> Binary stream %s could not be found", name);
      continue;
    }
    std::wstring file = TempFileName(TempFolder());
    session.Log(L"  => Extracting stream %s to file %s", name, file);
    // The pair is joined with "," and ";": a name that holds either would
    // split into the wrong fields on the deferred side.
    bool copied = !file.empty() && name.find_first_of(L",;") == std::wstring::npos &&
                  file.find_first_of(L",;") == std::wstring::npos && session.ExtractStream(row.get(), file);
    session.Log(copied ? L"     success" : L"     failed");
    latest = copied ? 1 : 0;
    if (!copied && !file.empty()) DeleteFileW(file.c_str());  // no half-copied cabinet left behind
    if (copied) patches.push_back(name + L"," + file);
  }
  if (latest == 1) session.SetPropertyText(L"orvo_Patch", JoinText(patches, L";"));
  return latest;
}

}  // namespace orvo
