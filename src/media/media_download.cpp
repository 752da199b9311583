// The locator's download of one file into the temporary media folder:
// hashed while it is written, resumed where a cut transfer stopped, ended
// by its deadline or a stall, and given its name only when it is whole.
#include <windows.h>

#include <algorithm>
#include <optional>

#include "action/install_log.h"
#include "action/unique_handle.h"
#include "documents/paths.h"
#include "media/hash_worker.h"
#include "media/http_session.h"
#include "media/media_locator.h"
#include "media/sha256.h"

namespace orvo {
namespace {

constexpr DWORD kBlock = 1024 * 1024;
// Below this a block is not worth a blocking read.
constexpr DWORD kFastBlock = 256 * 1024;
// Cut transfers continued (or, where the server ignores ranges, restarted)
// before the download is given up.
constexpr int kResumes = 3;

enum class Ending { kWhole, kCut, kStalled, kDeadline, kWriteFailed };

// The file a download writes into, under a temporary name until it is whole.
class PartialFile {
 public:
  // The empty file the temporary name was made with, opened as it is: a
  // file truncated when opened is flushed to disk when it is closed on some
  // file systems (ext4 under Wine), a tenth of a fast download's time.
  explicit PartialFile(const std::wstring& folder) : path_(TempFileName(folder)) {
    if (path_.empty()) return;
    file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (file_ && (!GetFileSizeEx(file_.get(), &size) || (size.QuadPart != 0 && !Empty()))) file_.reset();
  }
  ~PartialFile() {
    file_.reset();
    if (!path_.empty() && !kept_) DeleteScratchFile(path_);
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  bool opened() const { return bool(file_); }
  const std::wstring& path() const { return path_; }
  bool Write(const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file_.get(), data, size, &written, nullptr) && written == size;
  }
  bool Empty() {
    return SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file_.get());
  }
  // Gives the whole file the target's name.
  bool Keep(const std::wstring& target) {
    file_.reset();
    kept_ = MovePath(path_, target);
    return kept_;
  }

 private:
  std::wstring path_;
  unique_hfile file_;
  bool kept_ = false;
};

// Reads the open request's body into the file until it ends, the
// connection fails, no byte comes within the stall limit, or the deadline.
// Without a digest to check, nothing is hashed (hasher is null).
Ending Receive(HttpSession& session, PartialFile& file, HashWorker* hasher, int64_t& received, ULONGLONG deadline,
               BlockRing& blocks) {
  const DWORD stall = HttpSession::timeout();
  const ULONGLONG started = GetTickCount64();
  const int64_t startedAt = received;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return Ending::kDeadline;
    // The last wait must not outlast the deadline.
    if (stall == 0 || deadline - now < stall) session.SetReceiveTimeout(DWORD(deadline - now));
    // A read of a large block waits until all of it has come: only a
    // server that has kept up with the wanted rate is read that way, in
    // blocks it sends within a tenth of a second; any other is read as it
    // arrives, so that a trickle cannot hold a read past the deadline.
    const ULONGLONG elapsed = now - started;
    const uint64_t rate = elapsed > 0 ? uint64_t(received - startedAt) * 1000 / elapsed : 0;
    const DWORD fast = DWORD(std::min<uint64_t>(rate / 10, kBlock));
    char* block = blocks.Free();
    DWORD got = 0;
    bool read = fast >= kFastBlock ? session.ReadBlock(block, fast, got) : session.ReadArrived(block, kBlock, got);
    if (!read) {
      // The error of a wait that ran out differs between WinINets; the
      // time it took does not.
      ULONGLONG waited = GetTickCount64() - now;
      if (GetTickCount64() >= deadline) return Ending::kDeadline;
      return GetLastError() == ERROR_INTERNET_TIMEOUT || (stall && waited + 100 >= stall) ? Ending::kStalled
                                                                                          : Ending::kCut;
    }
    if (got == 0) return Ending::kWhole;
    // Hashed while it is written and the next block read.
    if (hasher) hasher->Add(block, got);
    blocks.Handed();
    if (!file.Write(block, got)) return Ending::kWriteFailed;
    received += got;
  }
}

}  // namespace

int MediaLocator::Download(HttpSession& session, const std::wstring& url, const std::wstring& target,
                           const std::wstring& digest) {
  // One with another digest is deleted here and fetched again.
  if (PathExists(target) && HasDigest(target, digest)) return kInTempMedia;
  EnsureFolder(ParentFolder(target));
  PartialFile file(tempMedia_);
  if (!file.opened()) {
    InstallLog::WriteTo(logPath_, L"   !=> Could not create a file in %s", tempMedia_);
    return kCannotCreate;
  }
  int64_t expected = session.ContentLength();
  if (expected == HttpSession::kUnusableLength) {
    // The body could not be told complete from cut off.
    session.Close();
    InstallLog::WriteTo(logPath_, L"   !=> Download of %s refused: the server announced a length that is no byte count",
                        url);
    return kNotFound;
  }

  const ULONGLONG deadline = GetTickCount64() + ULONGLONG(deadline_) * 1000;
  // The worker may still hold a block when a return leaves: blocks outlive it.
  BlockRing blocks(kBlock);
  Sha256 hash;
  std::optional<HashWorker> worker;
  if (!digest.empty()) worker.emplace(hash);
  HashWorker* hasher = worker ? &*worker : nullptr;
  int64_t received = 0;
  for (int resumes = 0;; ++resumes) {
    Ending ending = Receive(session, file, hasher, received, deadline, blocks);
    if (ending == Ending::kWriteFailed) {
      session.Close();
      InstallLog::WriteTo(logPath_, L"   !=> Could not write %s", target);
      return kCannotCreate;
    }
    if (ending == Ending::kDeadline) {
      session.Close();
      InstallLog::WriteTo(logPath_, L"   !=> Download of %s ended by its deadline of %u seconds after %d bytes", url,
                          deadline_, received);
      return kNotFound;
    }
    if (ending == Ending::kStalled) {
      session.Close();
      InstallLog::WriteTo(logPath_, L"   !=> Download of %s stalled: no byte for %u seconds after %d bytes", url,
                          HttpSession::timeout() / 1000, received);
      return kNotFound;
    }
    // A body without a length that ends normally is whole as far as the
    // transfer can tell; the digest has the last word.
    if (ending == Ending::kWhole && (expected < 0 || received == expected)) break;
    if (expected >= 0 && received > expected) {
      session.Close();
      InstallLog::WriteTo(logPath_, L"   !=> Download of %s refused: %d bytes where %d were announced", url, received,
                          expected);
      return kNotFound;
    }
    if (resumes == kResumes || !session.OpenFrom(url, received)) {
      session.Close();
      if (expected >= 0) {
        InstallLog::WriteTo(logPath_, L"   !=> Download of %s stopped after %d of %d bytes", url, received, expected);
      } else {
        InstallLog::WriteTo(logPath_, L"   !=> Download of %s stopped after %d bytes", url, received);
      }
      return kNotFound;
    }
    if (session.ranged()) {
      InstallLog::WriteTo(logPath_, L"    => Download of %s resumed at byte %d", url, received);
      if (session.rangeTotal() >= 0) expected = session.rangeTotal();
    } else {
      InstallLog::WriteTo(logPath_, L"   !-> %s ignored the range: starting again", url);
      if (!file.Empty()) {
        session.Close();
        InstallLog::WriteTo(logPath_, L"   !=> Could not write %s", target);
        return kCannotCreate;
      }
      if (hasher) hasher->Wait();
      hash.Reset();
      received = 0;
      expected = session.ContentLength();
      if (expected == HttpSession::kUnusableLength) expected = -1;
    }
  }
  session.Close();

  if (hasher) {
    hasher->Wait();
    const std::string actual = hash.FinishHex();
    if (!Sha256::SameDigest(ToUtf8(digest), actual)) {
      InstallLog::WriteTo(logPath_, L"   !=> Download of %s has SHA-256 %s, not the recorded %s: deleted", url,
                          FromUtf8(actual), digest);
      return kRefused;
    }
  }
  if (!file.Keep(target)) {
    // Only whole files ever carry the real name: one that another process
    // finished meanwhile is as good as ours, if it has the digest.
    if (PathExists(target)) return HasDigest(target, digest) ? kInTempMedia : kRefused;
    InstallLog::WriteTo(logPath_, L"   !=> Could not create %s", target);
    return kCannotCreate;
  }
  return kInTempMedia;
}

}  // namespace orvo
