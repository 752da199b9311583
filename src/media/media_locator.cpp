#include "media/media_locator.h"

#include <windows.h>

#include <algorithm>

#include "action/install_log.h"
#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "documents/paths.h"
#include "media/hash_worker.h"
#include "media/http_session.h"
#include "media/sha256.h"

namespace orvo {
namespace {

const wchar_t kIntranetKey[] = L"Software\\Keltra\\Orvo\\IntranetFolder";
constexpr DWORD kReadBlock = 1 << 20;

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
                         const std::wstring& extraUrl, const std::wstring& digest,
                         const std::vector<ContinuingCabinet>& continuing) {
  if (!setUpDone_ || name.empty()) return kNotFound;
  bool refused = false;
  if (PathExists(name)) {
    if (!HasDigest(name, digest)) {
      refused = true;
    } else if (HasSetBeside(name, continuing, refused)) {
      return kFound;
    }
  }

  std::vector<std::wstring> local = localFolders_;
  if (!extraFolder.empty()) AddOnce(local, extraFolder);
  std::vector<std::wstring> remote = remoteFolders_;
  if (!extraUrl.empty() && HttpSession(logPath_).SplitUrl(extraUrl)) AddOnce(remote, extraUrl);
  for (const auto& folder : intranetFolders_) AddOnce(local, folder);

  for (const auto& folder : local) {
    std::wstring candidate = CombinePath(folder, name);
    if (PathExists(candidate)) {
      InstallLog::WriteTo(logPath_, L"  => Found %s", candidate);
      if (!HasDigest(candidate, digest)) {
        refused = true;
        continue;
      }
      if (HasSetBeside(candidate, continuing, refused)) {
        name = candidate;
        return kFound;
      }
      continue;
    }
    InstallLog::WriteTo(logPath_, L"    => Searched %s", candidate);
  }
  const int missing = refused ? kRefused : kNotFound;
  if (!allowDownload || remote.empty()) return missing;

  std::wstring relative = DownloadName(name);
  if (relative.empty()) {
    InstallLog::WriteTo(logPath_, L"   !=> Cannot download %s into %s", name, tempMedia_);
    return missing;
  }
  std::wstring target = CombinePath(tempMedia_, relative);
  int result = FetchRemote(name, remote, target, digest, continuing);
  if (result == kNotFound) return missing;
  if (result != kRefused) name = target;
  return result;
}

bool MediaLocator::HasSetBeside(const std::wstring& first, const std::vector<ContinuingCabinet>& continuing,
                                bool& refused) {
  const std::wstring folder = ParentFolder(first);
  for (const auto& next : continuing) {
    std::wstring path = CombinePath(folder, next.name);
    if (!PathExists(path)) {
      InstallLog::WriteTo(logPath_, L"    => Searched %s", path);
      return false;
    }
    if (!HasDigest(path, next.digest)) {
      refused = true;
      return false;
    }
  }
  return true;
}

bool MediaLocator::HasDigest(const std::wstring& path, const std::wstring& digest) {
  if (digest.empty()) return true;
  std::string actual;
  {
    unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
      InstallLog::WriteTo(logPath_, L"   !=> Could not read %s to check its SHA-256", path);
      return false;
    }
    // Each block is hashed while the next is read.
    BlockRing blocks(kReadBlock);
    Sha256 hash;
    {
      HashWorker worker(hash);
      for (;;) {
        char* block = blocks.Free();
        DWORD got = 0;
        if (!ReadFile(file.get(), block, DWORD(blocks.size()), &got, nullptr) || got == 0) break;
        worker.Add(block, got);
        blocks.Handed();
      }
    }
    actual = hash.FinishHex();
  }
  if (Sha256::SameDigest(ToUtf8(digest), actual)) return true;
  InstallLog::WriteTo(logPath_, L"   !=> %s has SHA-256 %s, not the recorded %s: not used", path, FromUtf8(actual),
                      digest);
  if (IsInTempMedia(path)) DeleteScratchFile(path);
  return false;
}

bool MediaLocator::IsInTempMedia(const std::wstring& path) const {
  return !tempMedia_.empty() && path.size() > tempMedia_.size() &&
         _wcsnicmp(path.c_str(), tempMedia_.c_str(), tempMedia_.size()) == 0;
}

void MediaLocator::SetTransferLimits(unsigned deadline, unsigned stall) {
  if (deadline) deadline_ = deadline;
  if (stall) HttpSession::SetTimeout(stall * 1000);
}

namespace {

// Whole seconds, at least one and at most a week.
unsigned Seconds(const std::wstring& text) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return 0;
  unsigned value = unsigned(std::stoul(text));
  return value <= 7 * 24 * 3600 ? value : 0;
}

}  // namespace

void MediaLocator::SetTransferLimits(const std::wstring& deadline, const std::wstring& stall) {
  for (const std::wstring* text : {&deadline, &stall}) {
    if (!text->empty() && Seconds(*text) == 0)
      InstallLog::WriteTo(logPath_, L"   !=> Download limit \"%s\" is no number of seconds: ignored", *text);
  }
  SetTransferLimits(Seconds(deadline), Seconds(stall));
}

// Each server in order: one that has the file but whose transfer fails or
// brings other bytes is passed over for the next.
int MediaLocator::FetchRemote(const std::wstring& name, const std::vector<std::wstring>& remote,
                              const std::wstring& target, const std::wstring& digest,
                              const std::vector<ContinuingCabinet>& continuing) {
  std::vector<std::wstring> candidates;
  if (IsUrlName(name)) {
    candidates.push_back(name);
  } else {
    for (std::wstring base : remote) {
      while (!base.empty() && base.back() == L'/') base.pop_back();
      std::wstring candidate = CombinePath(base, name);
      std::replace(candidate.begin(), candidate.end(), L'\\', L'/');
      candidates.push_back(candidate);
    }
  }
  HttpSession session(logPath_);
  bool refused = false;
  for (const auto& url : candidates) {
    int result = DownloadOne(session, url, target, digest);
    if (result == kRefused) refused = true;
    if (result != kInTempMedia) {
      if (result == kCannotCreate) return result;
      continue;
    }
    // The rest of a set from beside the first on the same server; a server
    // without all of it is passed over for the next.
    const std::wstring base = url.substr(0, url.find_last_of(L'/', url.find_first_of(L"?#")) + 1);
    for (const auto& next : continuing) {
      result = DownloadOne(session, base + next.name, CombinePath(ParentFolder(target), next.name), next.digest);
      if (result == kRefused) refused = true;
      if (result != kInTempMedia) break;
    }
    if (result == kInTempMedia || result == kCannotCreate) return result;
  }
  return refused ? kRefused : kNotFound;
}

int MediaLocator::DownloadOne(HttpSession& session, const std::wstring& url, const std::wstring& target,
                              const std::wstring& digest) {
  if (!session.Open(url)) {
    InstallLog::WriteTo(logPath_, L"    => Searched %s", url);
    return kNotFound;
  }
  InstallLog::WriteTo(logPath_, L"  => Found %s", url);
  return Download(session, url, target, digest);
}

}  // namespace orvo
