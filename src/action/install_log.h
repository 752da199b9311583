// The installation log: UTF-16LE records ended by CR LF in the temporary
// folder, each written whole as it comes so the file is complete on disk.
// Outside a KeptLog every record opens and closes the file.
#pragma once
#include <cstdint>
#include <string>

#include "action/unique_handle.h"
#include "action/wformat.h"

namespace orvo {

// A text file held without sharing that knows whether it holds UTF-16.
class StruoIoFile {
 public:
  StruoIoFile() = default;
  virtual ~StruoIoFile() = default;
  StruoIoFile(const StruoIoFile&) = delete;
  StruoIoFile& operator=(const StruoIoFile&) = delete;

  // Returns 0 or the failure as an HRESULT.
  HRESULT Open(const std::wstring& path, DWORD access, DWORD disposition);
  virtual bool ReadLine(std::wstring& line);
  virtual bool Write(const std::wstring& text);
  void Close() { file_.reset(); }

  HANDLE handle() const { return file_.get(); }
  bool isUnicode() const { return isUnicode_; }
  int charSize() const { return charSize_; }
  uint64_t fileSize() const { return fileSize_; }

 private:
  unique_hfile file_;
  bool isUnicode_ = false;
  int charSize_ = 1;
  uint64_t fileSize_ = 0;
  uint64_t position_ = 0;
};

class InstallLog {
 public:
  // Keeps an existing UTF-16 log; anything else at the path is replaced by
  // a new file holding only the byte-order mark.
  static void OpenLog(const std::wstring& path);

  // One record to the running action's log (the session's log path).
  template <class... A>
  static void Write(std::wstring_view format, const A&... args) {
    WriteRecord(CurrentPath(), Format(format, args...));
  }
  // One record to a log path that another object holds; nothing when empty.
  template <class... A>
  static void WriteTo(const std::wstring& path, std::wstring_view format, const A&... args) {
    if (!path.empty()) WriteRecord(path, Format(format, args...));
  }

  static void WriteRecord(const std::wstring& path, const std::wstring& text);

  // A full path (UNC or drive) is kept; any other name goes to the temporary folder.
  static std::wstring ResolveLogPath(const std::wstring& name);

 private:
  friend class KeptLog;
  static const std::wstring& CurrentPath();
};

// Holds the running action's log open while it lives, so a step that logs
// per file does not open the file for every record. Each record still goes
// to the file at once, so a killed installation leaves all its lines. An
// inner one while another is kept does nothing.
class KeptLog {
 public:
  KeptLog();
  ~KeptLog();
  KeptLog(const KeptLog&) = delete;
  KeptLog& operator=(const KeptLog&) = delete;

 private:
  bool owner_ = false;
};

}  // namespace orvo
