#include "deploy/patch_application.h"

#include "action/installer_session.h"
#include "deploy/cabinet_extractor.h"
#include "documents/contained_path.h"
#include "documents/text_lists.h"

namespace orvo {

int ApplyPatchStreams(const std::wstring& patchData) {
  auto& session = InstallerSession::Instance();
  TextList entries;
  SplitText(patchData, L";", entries, true);
  for (const auto& entry : entries) {
    TextList fields;
    SplitText(entry, L",", fields, true);
    if (fields.size() != 2) {
      session.Log(L"   !=> Invalid patch file data");
      break;
    }
    // The stream name becomes a folder in the temporary folder: it must stay there.
    if (!IsPlainFileName(fields[0])) {
      session.Log(L"   !-> Refused the patch stream name %s", fields[0]);
      continue;
    }
    // The extractor's own console lines are off inside the installer: a
    // failure must reach the log.
    std::wstring target = CombinePath(TempFolder(), fields[0]);
    if (ExtractCabinet(fields[1], target) != 1)
      session.Log(L"   !=> Failed to extract the patch cabinet %s to %s", fields[1], target);
  }
  return 0;
}

}  // namespace orvo
