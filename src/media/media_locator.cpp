#include "media/media_locator.h"

#include <windows.h>

#include <algorithm>

#include "action/install_log.h"
#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "documents/paths.h"
#include "media/http_session.h"

namespace orvo {
namespace {

const wchar_t kIntranetKey[] = L"Software\\Keltra\\Orvo\\IntranetFolder";
constexpr DWORD kBlockSize = 4096;

void AddOnce(std::vector<std::wstring>& list, const std::wstring& entry) {
  if (std::find(list.begin(), list.end(), entry) == list.end()) list.push_back(entry);
}

bool IsUrlName(const std::wstring& name) { return name.compare(0, 5, L"http:") == 0; }

// Where a name lands in the temporary media folder: a URL by the last
// segment of its path, anything else as the relative path it is. Empty when
// the name would land outside the folder.
std::wstring DownloadName(const std::wstring& name) {
  std::wstring relative = name;
  if (IsUrlName(name)) {
    relative = relative.substr(0, relative.find_first_of(L"?#"));
    size_t slash = relative.find_last_of(L'/');
    relative = slash == std::wstring::npos ? std::wstring() : relative.substr(slash + 1);
  }
  std::replace(relative.begin(), relative.end(), L'/', L'\\');
  while (!relative.empty() && relative.front() == L'\\') relative.erase(0, 1);
  if (relative.empty() || relative.back() == L'\\' || relative.find(L':') != std::wstring::npos) return std::wstring();
  size_t start = 0;
  for (;;) {
    size_t end = relative.find(L'\\', start);
    if (relative.compare(start, end == std::wstring::npos ? std::wstring::npos : end - start, L"..") == 0)
      return std::wstring();
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return relative;
}

}  // namespace

MediaLocator& MediaLocator::Instance() {
  static MediaLocator locator;
  return locator;
}

void MediaLocator::SetUp(const std::wstring& mediaRoot, const std::wstring& url) {
  if (setUpDone_) return;
  mediaRoot_ = mediaRoot;
  tempMedia_ = CombinePath(TempFolder(), L"KeltraTempMedia");
  if (!mediaRoot.empty() && PathExists(mediaRoot)) AddOnce(localFolders_, mediaRoot);
  AddOnce(localFolders_, tempMedia_);
  if (!url.empty()) AddOnce(remoteFolders_, url);
  std::wstring intranet;
  if (IntranetFolder(intranet)) AddOnce(intranetFolders_, intranet);
  setUpDone_ = true;
}

bool MediaLocator::IntranetFolder(std::wstring& path) {
  unique_hkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIntranetKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
    return false;
  // Room for a terminator the stored value may lack.
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = DWORD(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &got) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  buffer.resize(std::min(buffer.find(L'\0'), buffer.size()));
  if (buffer.empty() || !PathExists(buffer)) return false;
  path = buffer;
  return true;
}

void MediaLocator::SetLogPath(const std::wstring& name) {
  if (name.empty()) logPath_.clear();
  else logPath_ = IsAbsolutePath(name) ? name : CombinePath(TempFolder(), name);
}

int MediaLocator::Locate(std::wstring& name, bool allowDownload, const std::wstring& extraFolder,
                         const std::wstring& extraUrl) {
  if (!setUpDone_ || name.empty()) return kNotFound;
  if (PathExists(name)) return kFound;

  std::vector<std::wstring> local = localFolders_;
  if (!extraFolder.empty()) AddOnce(local, extraFolder);
  std::vector<std::wstring> remote = remoteFolders_;
  if (!extraUrl.empty() && HttpSession(logPath_).SplitUrl(extraUrl)) AddOnce(remote, extraUrl);
  for (const auto& folder : intranetFolders_) AddOnce(local, folder);

  for (const auto& folder : local) {
    std::wstring candidate = CombinePath(folder, name);
    if (PathExists(candidate)) {
      name = candidate;
      InstallLog::WriteTo(logPath_, L"  => Found %s", candidate);
      return kFound;
    }
    InstallLog::WriteTo(logPath_, L"    => Searched %s", candidate);
  }
  if (!allowDownload || remote.empty()) return kNotFound;

  std::wstring relative = DownloadName(name);
  if (relative.empty()) {
    InstallLog::WriteTo(logPath_, L"   !=> Cannot download %s into %s", name, tempMedia_);
    return kNotFound;
  }
  std::wstring url;
  {
    HttpSession search(logPath_);
    if (!FindRemote(search, name, remote, url)) return kNotFound;
  }
  name = CombinePath(tempMedia_, relative);
  return Download(url, name);
}

bool MediaLocator::FindRemote(HttpSession& session, const std::wstring& name, const std::vector<std::wstring>& remote,
                              std::wstring& url) {
  if (IsUrlName(name)) {
    if (session.Open(name)) {
      InstallLog::WriteTo(logPath_, L"  => Found %s", name);
      url = name;
      return true;
    }
    InstallLog::WriteTo(logPath_, L"    => Searched %s", name);
    return false;
  }
  for (std::wstring base : remote) {
    while (!base.empty() && base.back() == L'/') base.pop_back();
    std::wstring candidate = CombinePath(base, name);
    std::replace(candidate.begin(), candidate.end(), L'\\', L'/');
    if (session.Open(candidate)) {
      InstallLog::WriteTo(logPath_, L"  => Found %s", candidate);
      url = candidate;
      return true;
    }
    InstallLog::WriteTo(logPath_, L"    => Searched %s", candidate);
  }
  return false;
}

// The body goes into a temporary file beside the target and gets the
// target's name only when it is complete, so a broken transfer never
// leaves a short file that a later lookup would take as the real one.
int MediaLocator::Download(const std::wstring& url, const std::wstring& target) {
  if (PathExists(target)) return kInTempMedia;
  EnsureFolder(ParentFolder(target));
  HttpSession session(logPath_);
  if (!session.Open(url)) return kNotFound;

  const std::wstring partial = TempFileName(tempMedia_);
  if (partial.empty()) {
    InstallLog::WriteTo(logPath_, L"   !=> Could not create a file in %s", tempMedia_);
    return kCannotCreate;
  }
  unique_hfile file(
      CreateFileW(partial.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DeletePath(partial, true, false);
    InstallLog::WriteTo(logPath_, L"   !=> Could not create %s", partial);
    return kCannotCreate;
  }

  const int64_t expected = session.ContentLength();
  if (expected == HttpSession::kUnusableLength) {
    // The body could not be told complete from cut off.
    file.reset();
    session.Close();
    DeletePath(partial, true, false);
    InstallLog::WriteTo(logPath_, L"   !=> Download of %s refused: the server announced a length that is no byte count",
                        url);
    return kNotFound;
  }
  int64_t received = 0;
  bool readFailed = false;
  bool writeFailed = false;
  std::vector<char> block(kBlockSize);
  for (;;) {
    DWORD got = 0;
    if (!session.ReadBlock(block.data(), kBlockSize, got)) {
      readFailed = true;
      break;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(file.get(), block.data(), got, &written, nullptr) || written != got) {
      writeFailed = true;
      break;
    }
    received += got;
  }
  file.reset();
  session.Close();

  if (writeFailed) {
    DeletePath(partial, true, false);
    InstallLog::WriteTo(logPath_, L"   !=> Could not write %s", target);
    return kCannotCreate;
  }
  if (readFailed || (expected >= 0 && received != expected)) {
    DeletePath(partial, true, false);
    if (expected >= 0) {
      InstallLog::WriteTo(logPath_, L"   !=> Download of %s stopped after %d of %d bytes", url, received, expected);
    } else {
      InstallLog::WriteTo(logPath_, L"   !=> Download of %s stopped after %d bytes", url, received);
    }
    return kNotFound;
  }
  if (!MovePath(partial, target)) {
    DeletePath(partial, true, false);
    // Only whole files ever carry the real name: one that another process
    // finished meanwhile is as good as ours.
    if (PathExists(target)) return kInTempMedia;
    InstallLog::WriteTo(logPath_, L"   !=> Could not create %s", target);
    return kCannotCreate;
  }
  return kInTempMedia;
}

}  // namespace orvo
