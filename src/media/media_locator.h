// Finds the file a caller names: on the installation media, in the
// temporary media folder, in the caller's folder, in the intranet folder,
// and, when allowed, on web servers, downloading it into the temporary
// media folder.
#pragma once
#include <string>
#include <vector>

namespace orvo {

class HttpSession;

class MediaLocator {
 public:
  enum Result {
    kFound = 1,            // found without download
    kNotFound = 2,         // not found, or not set up
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
  // 1, 17 and 64 it holds the path where the file is.
  int Locate(std::wstring& name, bool allowDownload, const std::wstring& extraFolder, const std::wstring& extraUrl);
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
  bool FindRemote(HttpSession& session, const std::wstring& name, const std::vector<std::wstring>& remote,
                  std::wstring& url);
  int Download(const std::wstring& url, const std::wstring& target);

  std::wstring mediaRoot_;
  std::wstring tempMedia_;
  std::vector<std::wstring> localFolders_;
  std::vector<std::wstring> intranetFolders_;
  std::vector<std::wstring> remoteFolders_;
  bool setUpDone_ = false;
  std::wstring logPath_;
};

}  // namespace orvo
