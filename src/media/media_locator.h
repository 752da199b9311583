// Finds the file a caller names: on the installation media, in the
// temporary media folder, in the caller's folder, in the intranet folder,
// and, when allowed, on web servers, downloading it into the temporary
// media folder.
#pragma once
#include <string>
#include <vector>

namespace orvo {

class HttpSession;

// A cabinet that continues a set: the extractor opens it beside the first,
// so a place is used only when it holds every cabinet of the set.
struct ContinuingCabinet {
  std::wstring name;    // a plain file name
  std::wstring digest;  // as for the first; empty: not checked
};

class MediaLocator {
 public:
  enum Result {
    kFound = 1,            // found without download
    kNotFound = 2,         // not found, or not set up
    kRefused = 3,          // found, but no copy has the recorded digest
    kInTempMedia = 17,     // downloaded now or earlier into the temporary media folder
    kCannotCreate = 64,    // found on a server, but the local file could not be made
  };

  // The locator of the process, set up by the first entry point that loads
  // the master document.
  static MediaLocator& Instance();
  // A locator of its own (a tool, a test); the entry points use Instance().
  MediaLocator() = default;
  MediaLocator(const MediaLocator&) = delete;
  MediaLocator& operator=(const MediaLocator&) = delete;

  // Only the first call counts.
  void SetUp(const std::wstring& mediaRoot, const std::wstring& url);
  // name: a file name or relative path, a full path or an "http:" URL; on
  // 1, 17 and 64 it holds the path where the file is. With a digest (64
  // hexadecimal digits of SHA-256) only a copy that has it is taken; any
  // other is passed over like a missing one. With continuing cabinets, a
  // place counts only where each of them lies beside the file with its
  // digest; a download fetches them beside it from the same server.
  int Locate(std::wstring& name, bool allowDownload, const std::wstring& extraFolder, const std::wstring& extraUrl,
             const std::wstring& digest = std::wstring(),
             const std::vector<ContinuingCabinet>& continuing = std::vector<ContinuingCabinet>());
  // Whether the file has the digest (always, when the digest is empty); a
  // mismatch is logged with both digests, and a copy in the temporary
  // media folder, being a download, is deleted.
  bool HasDigest(const std::wstring& path, const std::wstring& digest);
  // A download ends when it has run `deadline` seconds, or when no byte
  // came for `stall` seconds; 0 keeps the current value.
  void SetTransferLimits(unsigned deadline, unsigned stall);
  // The same from texts of whole seconds ("ORVO_DOWNLOAD_DEADLINE",
  // "ORVO_DOWNLOAD_STALL", or the fields a deferred action was handed);
  // anything else is logged and keeps the current value.
  void SetTransferLimits(const std::wstring& deadline, const std::wstring& stall);
  unsigned deadline() const { return deadline_; }
  static constexpr unsigned kDefaultDeadline = 3600;
  static constexpr unsigned kDefaultStall = 60;
  // The folder of the machine's intranet setting, when it names an existing path.
  static bool IntranetFolder(std::wstring& path);
  // A full path is kept, any other name goes to the temporary folder; empty: no log.
  void SetLogPath(const std::wstring& name);

  const std::wstring& logPath() const { return logPath_; }
  const std::wstring& mediaRoot() const { return mediaRoot_; }
  const std::wstring& tempMedia() const { return tempMedia_; }
  const std::vector<std::wstring>& localFolders() const { return localFolders_; }
  const std::vector<std::wstring>& intranetFolders() const { return intranetFolders_; }
  const std::vector<std::wstring>& remoteFolders() const { return remoteFolders_; }
  bool setUpDone() const { return setUpDone_; }

 private:
  int FetchRemote(const std::wstring& name, const std::vector<std::wstring>& remote, const std::wstring& target,
                  const std::wstring& digest, const std::vector<ContinuingCabinet>& continuing);
  // Whether every continuing cabinet lies beside `first` with its digest;
  // refused is set when one is there with another digest.
  bool HasSetBeside(const std::wstring& first, const std::vector<ContinuingCabinet>& continuing, bool& refused);
  bool IsInTempMedia(const std::wstring& path) const;
  // Opens the URL, then downloads it.
  int DownloadOne(HttpSession& session, const std::wstring& url, const std::wstring& target,
                  const std::wstring& digest);
  int Download(HttpSession& session, const std::wstring& url, const std::wstring& target, const std::wstring& digest);

  std::wstring mediaRoot_;
  std::wstring tempMedia_;
  std::vector<std::wstring> localFolders_;
  std::vector<std::wstring> intranetFolders_;
  std::vector<std::wstring> remoteFolders_;
  bool setUpDone_ = false;
  std::wstring logPath_;
  unsigned deadline_ = kDefaultDeadline;
};

}  // namespace orvo
