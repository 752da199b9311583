#include "action/install_log.h"
#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "documents/paths.h"
#include "media/media_locator.h"

namespace orvo {

void CabinetEntry::SetLogPath(const std::wstring& path) {
  logPath = IsAbsolutePath(path) ? path : CombinePath(TempFolder(), path);
}

int CabinetEntry::Acquire(bool downloadsAllowed) {
  if (acquired) return 1;
  int result = MediaLocator::Instance().Locate(sourcePath, downloadsAllowed, searchFolder, url, digest, continuing);
  if (result == MediaLocator::kFound) {
    acquired = true;
    return 1;
  }
  // A download that could not be written left nothing to extract.
  if (result == MediaLocator::kNotFound) {
    InstallLog::WriteTo(logPath, L"   !=> Failed to resolve %s", sourcePath);
    return 2;
  }
  if (result == MediaLocator::kRefused) {
    refused = true;
    InstallLog::WriteTo(logPath, L"   !=> Refused %s: no copy has the recorded SHA-256 %s", sourcePath, digest);
    return 2;
  }
  if (result == MediaLocator::kCannotCreate) {
    InstallLog::WriteTo(logPath, L"   !=> Failed to download %s", sourcePath);
    return 2;
  }
  acquired = true;
  InstallLog::WriteTo(logPath, L"    => Downloaded %s", sourcePath);
  return 17;
}

}  // namespace orvo
