// The one door to msi.dll: properties, conditions, formatting, modes,
// progress and message records, record strings and streams. Every
// operation that touches the session leaves a record in the log.
#pragma once
#include <string>
#include <vector>

#include "action/install_log.h"
#include "action/install_type.h"
#include "action/unique_handle.h"
#include "action/wformat.h"

namespace orvo {

// The process's temporary folder with its trailing backslash.
std::wstring TempFolder();
// Joins a folder and a name with exactly one backslash between them.
std::wstring CombinePath(const std::wstring& folder, const std::wstring& name = std::wstring());
// Drops every backslash at the end of the text.
void StripTrailingBackslashes(std::wstring& text);

struct Quiet {};
constexpr Quiet kQuiet{};

class InstallerSession {
 public:
  static InstallerSession& Instance();

  void Begin(MSIHANDLE handle, const std::wstring& actionName, const std::wstring& logFileName);

  std::wstring GetProperty(const std::wstring& name, bool quiet = false);

  template <class... A>
  int SetProperty(const std::wstring& name, std::wstring_view valueFormat, const A&... args) {
    if (!ready_) return -1;
    return SetPropertyText(name, Format(valueFormat, args...));
  }
  template <class... A>
  bool EvaluateCondition(std::wstring_view conditionFormat, const A&... args) {
    return EvaluateConditionText(Format(conditionFormat, args...), false);
  }
  template <class... A>
  bool EvaluateCondition(Quiet, std::wstring_view conditionFormat, const A&... args) {
    return EvaluateConditionText(Format(conditionFormat, args...), true);
  }
  template <class... A>
  std::wstring FormatText(std::wstring_view format, const A&... args) {
    return FormatRecordText(Format(format, args...));
  }
  template <class... A>
  int SendInfo(const std::wstring& templ, std::wstring_view format, const A&... args) {
    return SendInfoText(templ, Format(format, args...));
  }

  std::wstring SourceFolder();
  // The directory's target folder (MsiSetTargetPathW), logged.
  bool SetTargetPath(const std::wstring& directory, const std::wstring& folder);
  // The user interface's answer (IDCANCEL on a cancel).
  int ReportProgress(int messageType, int value1, int value2);
  int SendActionData(const std::wstring& text1, const std::wstring& text2);
  std::wstring RecordString(MSIHANDLE record, unsigned field);
  bool ExtractStream(MSIHANDLE record, const std::wstring& targetPath);

  // Empty text: from the installer's conditions; otherwise from the text form.
  void Classify(const std::wstring& text);

  template <class... A>
  void Log(std::wstring_view format, const A&... args) {
    InstallLog::Write(format, args...);
  }

  unsigned installType() const { return installType_; }
  const std::wstring& installTypeText() const { return installTypeText_; }
  const std::wstring& logPath() const { return logPath_; }
  MSIHANDLE handle() const { return handle_; }
  const std::vector<std::wstring>& actionData() const { return actionData_; }
  size_t actionDataCount() const { return actionData_.size(); }
  bool ready() const { return ready_; }
  // Scheduled, rollback or commit: only "CustomActionData", "ProductCode"
  // and "UserSID" can be read, and no condition evaluated.
  bool deferred() const { return deferred_; }

  // At library unload (not at process exit).
  void CloseCachedRecords();

  int SetPropertyText(const std::wstring& name, const std::wstring& value);
  bool EvaluateConditionText(const std::wstring& condition, bool quiet);
  std::wstring FormatRecordText(const std::wstring& text);
  int SendInfoText(const std::wstring& templ, const std::wstring& text);

 private:
  InstallerSession() = default;

  unsigned installType_ = 0;
  std::wstring installTypeText_;
  std::wstring logPath_;
  MSIHANDLE handle_ = 0;
  std::vector<std::wstring> actionData_;
  bool ready_ = false;
  bool deferred_ = false;

  std::wstring sourceFolder_;
  unique_msihandle progressRecord_;
  unique_msihandle infoRecord_;
  unique_msihandle actionDataRecord_;
};

}  // namespace orvo
