#include "deploy/install_handler.h"

#include <windows.h>

#include <chrono>
#include <cwchar>

#include "action/installer_session.h"
#include "deploy/cabinet_extractor.h"
#include "documents/contained_path.h"
#include "deploy/deployment_state.h"
#include "deploy/reference_document.h"
#include "documents/paths.h"

namespace orvo {
namespace {

const wchar_t kInfoTemplate[] = L"orvo_Install: [1]";

// Where the extractor puts a cabinet's "IndexFile.dat" while it reads it
// (the same rule as the extractor's): not content, never recorded.
std::wstring TemporaryIndexFile() {
  wchar_t buffer[256] = {0};
  DWORD n = GetEnvironmentVariableW(L"TEMP", buffer, 256);
  std::wstring folder = (n == 0 || n >= 256) ? TempFolder() : std::wstring(buffer, n);
  return CombinePath(folder, L"IndexFile.dat");
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

int Cancelled() {
  InstallerSession::Instance().Log(L" !=> abort detected");
  return IDCANCEL;
}

// Ticks go to the installer at most this often: a message per write cost
// as much as the write. Cancelling does not wait for them, it comes with
// every file's action data.
constexpr std::chrono::milliseconds kProgressInterval(50);
using Clock = std::chrono::steady_clock;

struct PendingProgress {
  unsigned ticks = 0;
  Clock::time_point lastSent;
};

PendingProgress& Pending() {
  static PendingProgress pending;
  return pending;
}

void AddWrittenBytes(const std::wstring& text) {
  DeploymentState& state = DeploymentState::Instance();
  long bytes = std::wcstol(text.c_str(), nullptr, 10);
  if (bytes <= 0) return;
  state.tickRemainder += unsigned(bytes);
  if (state.tickRemainder < 5) return;
  PendingProgress& pending = Pending();
  pending.ticks += state.tickRemainder / 5;
  state.tickRemainder %= 5;
  if (Clock::now() - pending.lastSent >= kProgressInterval) FlushProgress();
}

// The SubDirectory for the folder of a file or folder message; none for a
// folder that is not part of the extraction.
void FollowFolder(const std::wstring& folder) {
  DeploymentState& state = DeploymentState::Instance();
  std::wstring relative;
  if (RelativeExtractionFolder(folder, relative)) {
    LocateSubDirectory(relative);
  } else {
    state.subDirectoryElement = nullptr;
  }
}

}  // namespace

void FlushProgress() {
  PendingProgress& pending = Pending();
  pending.lastSent = Clock::now();
  if (pending.ticks == 0) return;
  unsigned ticks = pending.ticks;
  pending.ticks = 0;
  InstallerSession::Instance().ReportProgress(2, int(ticks), 0);
  DeploymentState::Instance().ticksAdded += ticks;
}

bool RelativeExtractionFolder(const std::wstring& folder, std::wstring& relative) {
  const std::wstring& target = DeploymentState::Instance().targetFolder;
  if (target.empty() || folder.compare(0, target.size(), target) != 0) return false;
  relative = folder.substr(target.size());
  while (!relative.empty() && relative.back() == L'\\') relative.pop_back();
  return relative.empty() || IsContainedRelativePath(relative);
}

bool IsExtractedContent(const std::wstring& filePath) {
  std::wstring relative;
  if (filePath.empty() || !RelativeExtractionFolder(ParentFolder(filePath), relative)) return false;
  return !SamePath(filePath, TemporaryIndexFile());
}

int InstallHandler(int code, std::wstring_view format, const FormatArg* args, size_t count) {
  DeploymentState& state = DeploymentState::Instance();
  auto& session = InstallerSession::Instance();
  if (state.abortRequested) return IDCANCEL;
  std::wstring text = FormatArgs(format, args, count);

  switch (code) {
    case EXTRACT_FOLDER_FAILED:
      if (session.SendInfo(kInfoTemplate, L"!=> Failed to create folder: %s", text) == IDCANCEL)
        state.abortRequested = true;
      session.Log(L"!=> Failed to create folder: %s", text);
      break;
    case fdintCOPY_FILE: {
      bool content = IsExtractedContent(text);
      // Always the file's own folder: a folder message of the extractor's
      // temporary files must not decide where content is recorded.
      // The extractor's own files are written, never declined nor recorded.
      if (content) {
        FollowFolder(ParentFolder(text));
        if (!DecideFileCopy(text)) return EXTRACT_SKIP;
      } else {
        state.subDirectoryElement = nullptr;
      }
      if (session.SendActionData(LastPathComponent(text), ParentFolder(text)) == IDCANCEL) {
        state.abortRequested = true;
        return Cancelled();
      }
      break;
    }
    case fdintCLOSE_FILE_INFO:
      break;
    case EXTRACT_FOLDER:
      FollowFolder(text);
      if (session.SendInfo(kInfoTemplate, L"Folder: %s", text) == IDCANCEL) state.abortRequested = true;
      break;
    case EXTRACT_WRITTEN:
      AddWrittenBytes(text);
      break;
    default:
      if (session.SendInfoText(kInfoTemplate, text) == IDCANCEL) {
        state.abortRequested = true;
        return Cancelled();
      }
      break;
  }
  if (state.abortRequested) return Cancelled();
  return 0;
}

}  // namespace orvo
