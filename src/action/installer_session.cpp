#include "action/installer_session.h"

namespace orvo {
namespace {

const wchar_t* const kRunModeNames[] = {
    L"MSIRUNMODE_ADMIN",          L"MSIRUNMODE_ADVERTISE",        L"MSIRUNMODE_MAINTENANCE",
    L"MSIRUNMODE_ROLLBACKENABLED", L"MSIRUNMODE_LOGENABLED",       L"MSIRUNMODE_OPERATIONS",
    L"MSIRUNMODE_REBOOTATEND",    L"MSIRUNMODE_REBOOTNOW",        L"MSIRUNMODE_CABINET",
    L"MSIRUNMODE_SOURCESHORTNAMES", L"MSIRUNMODE_TARGETSHORTNAMES", L"MSIRUNMODE_RESERVED11",
    L"MSIRUNMODE_WINDOWS9X",      L"MSIRUNMODE_ZAWENABLED",       L"MSIRUNMODE_RESERVED14",
    L"MSIRUNMODE_RESERVED15",     L"MSIRUNMODE_SCHEDULED",        L"MSIRUNMODE_ROLLBACK",
    L"MSIRUNMODE_COMMIT",
};

std::wstring UpToNul(const std::vector<wchar_t>& buffer) {
  return std::wstring(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
}

}  // namespace

std::wstring TempFolder() {
  wchar_t buffer[260] = {0};
  DWORD n = GetTempPathW(260, buffer);
  if (n == 0 || n >= 260) return std::wstring();
  return std::wstring(buffer, n);
}

void StripTrailingBackslashes(std::wstring& text) {
  while (!text.empty() && text.back() == L'\\') text.pop_back();
}

std::wstring CombinePath(const std::wstring& folder, const std::wstring& name) {
  std::wstring result = folder;
  size_t last = result.find_last_of(L'\\');
  if (last == std::wstring::npos || last + 1 != result.size()) result += L'\\';
  if (!name.empty() && name != L"\\") {
    if (name[0] == L'\\') {
      StripTrailingBackslashes(result);
    }
    result += name;
  }
  return result;
}

// Never destroyed at process exit: msi.dll may already be gone, and closing
// its handles then can hang. The DLL closes them when it is unloaded.
InstallerSession& InstallerSession::Instance() {
  static InstallerSession* session = new InstallerSession();
  return *session;
}

void InstallerSession::CloseCachedRecords() {
  progressRecord_.reset();
  infoRecord_.reset();
  actionDataRecord_.reset();
}

void InstallerSession::Begin(MSIHANDLE handle, const std::wstring& actionName, const std::wstring& logFileName) {
  std::wstring banner = Format(L"%s\n%s()", std::wstring(actionName.size(), L'_'), actionName);
  if (handle != 0) handle_ = handle;
  logPath_ = CombinePath(TempFolder(), logFileName);
  InstallLog::OpenLog(logPath_);

  std::wstring modes;
  for (int mode = 0; mode <= 18; ++mode) {
    if (MsiGetMode(handle_, MSIRUNMODE(mode))) {
      modes += kRunModeNames[mode];
      modes += L' ';
    }
  }
  Log(L"%s", banner);
  Log(L"  => Run mode: %s", modes);
  ready_ = true;
  deferred_ = MsiGetMode(handle_, MSIRUNMODE_SCHEDULED) || MsiGetMode(handle_, MSIRUNMODE_ROLLBACK) ||
              MsiGetMode(handle_, MSIRUNMODE_COMMIT);

  if (!MsiGetMode(handle_, MSIRUNMODE_SCHEDULED)) Classify(std::wstring());

  // Separators at either end or in a row never make a field, so a leading
  // one is trimmed before the first field is taken as well.
  std::wstring data = GetProperty(L"CustomActionData");
  auto trim = [](std::wstring& text) {
    size_t first = text.find_first_not_of(L';');
    if (first == std::wstring::npos) {
      text.clear();
    } else {
      text = text.substr(first, text.find_last_not_of(L';') - first + 1);
    }
  };
  actionData_.clear();
  trim(data);
  while (!data.empty()) {
    size_t sep = data.find(L';');
    actionData_.push_back(data.substr(0, sep));
    data = sep == std::wstring::npos ? std::wstring() : data.substr(sep);
    trim(data);
  }
}

namespace {
// All a deferred action is given on Windows; Wine gives it every property.
bool GivenToDeferredActions(const std::wstring& name) {
  return name == L"CustomActionData" || name == L"ProductCode" || name == L"UserSID";
}
}  // namespace

std::wstring InstallerSession::GetProperty(const std::wstring& name, bool quiet) {
  if (!ready_) return std::wstring();
  // Answered as Windows answers, so that what works here works there.
  if (deferred_ && !GivenToDeferredActions(name)) {
    Log(L"    !=> Get: %s: not given to a deferred action", name);
    return std::wstring();
  }
  std::vector<wchar_t> buffer(260, L'\0');
  DWORD size = DWORD(buffer.size());
  UINT rc = MsiGetPropertyW(handle_, name.c_str(), buffer.data(), &size);
  if (rc == ERROR_MORE_DATA) {
    buffer.assign(size_t(size) + 1, L'\0');
    size = DWORD(buffer.size());
    MsiGetPropertyW(handle_, name.c_str(), buffer.data(), &size);
  }
  std::wstring value = UpToNul(buffer);
  if (!quiet) Log(L"    => Get: %s: %s", name, value);
  return value;
}

int InstallerSession::SetPropertyText(const std::wstring& name, const std::wstring& value) {
  if (!ready_) return -1;
  Log(L"    => Set: %s: %s", name, value);
  return int(MsiSetPropertyW(handle_, name.c_str(), value.c_str()));
}

bool InstallerSession::SetTargetPath(const std::wstring& directory, const std::wstring& folder) {
  if (!ready_) return false;
  UINT result = MsiSetTargetPathW(handle_, directory.c_str(), folder.c_str());
  Log(L"    => Set target path: %s: %s", directory, folder);
  if (result != ERROR_SUCCESS) Log(L"    !=> Failed to set target path %s: %u", directory, result);
  return result == ERROR_SUCCESS;
}

bool InstallerSession::EvaluateConditionText(const std::wstring& condition, bool quiet) {
  if (!ready_) return false;
  if (deferred_) {
    Log(L"    !=> Condition \"%s\" not evaluated in a deferred action", condition);
    return false;
  }
  bool result = MsiEvaluateConditionW(handle_, condition.c_str()) == MSICONDITION_TRUE;
  if (!quiet) Log(L"    => Condition \"%s\" evaluates as %s", condition, result ? L"TRUE" : L"FALSE");
  return result;
}

std::wstring InstallerSession::FormatRecordText(const std::wstring& text) {
  if (!ready_) return std::wstring();
  if (text.empty() || text.find(L'[') == std::wstring::npos) return text;
  unique_msihandle record(MsiCreateRecord(1));
  if (!record) return text;
  MsiRecordSetStringW(record.get(), 0, text.c_str());
  std::vector<wchar_t> buffer(2080, L'\0');
  DWORD size = DWORD(buffer.size());
  UINT rc = MsiFormatRecordW(handle_, record.get(), buffer.data(), &size);
  // A long result is asked for again at its reported size rather than cut.
  if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && size >= buffer.size())) {
    buffer.assign(size_t(size) + 1, L'\0');
    size = DWORD(buffer.size());
    MsiFormatRecordW(handle_, record.get(), buffer.data(), &size);
  }
  std::wstring result = UpToNul(buffer);
  Log(L"    => msiString: \"%s\" formatted to: %s", text, result);
  return result;
}

std::wstring InstallerSession::SourceFolder() {
  if (sourceFolder_.empty() && EvaluateCondition(L"REMOVE<>\"ALL\"")) {
    Log(L"  --> Resolving source");
    MsiDoActionW(handle_, L"ResolveSource");
    sourceFolder_ = GetProperty(L"SourceDir");
  }
  return sourceFolder_;
}

int InstallerSession::ReportProgress(int messageType, int value1, int value2) {
  if (!progressRecord_) progressRecord_.reset(MsiCreateRecord(4));
  MSIHANDLE r = progressRecord_.get();
  MsiRecordSetInteger(r, 1, messageType);
  MsiRecordSetInteger(r, 2, value1);
  MsiRecordSetInteger(r, 3, value2);
  MsiRecordSetInteger(r, 4, 0);
  return MsiProcessMessage(handle_, INSTALLMESSAGE_PROGRESS, r);
}

int InstallerSession::SendInfoText(const std::wstring& templ, const std::wstring& text) {
  if (!infoRecord_) infoRecord_.reset(MsiCreateRecord(1));
  MSIHANDLE r = infoRecord_.get();
  MsiRecordSetStringW(r, 0, templ.c_str());
  MsiRecordSetStringW(r, 1, text.c_str());
  return MsiProcessMessage(handle_, INSTALLMESSAGE_INFO, r);
}

int InstallerSession::SendActionData(const std::wstring& text1, const std::wstring& text2) {
  // Fields 3 to 10 stay empty: set once, not for every file.
  if (!actionDataRecord_) {
    actionDataRecord_.reset(MsiCreateRecord(10));
    for (unsigned f = 3; f <= 10; ++f) MsiRecordSetStringW(actionDataRecord_.get(), f, L"");
  }
  MSIHANDLE r = actionDataRecord_.get();
  MsiRecordSetStringW(r, 1, text1.c_str());
  MsiRecordSetStringW(r, 2, text2.c_str());
  return MsiProcessMessage(handle_, INSTALLMESSAGE_ACTIONDATA, r);
}

std::wstring InstallerSession::RecordString(MSIHANDLE record, unsigned field) {
  std::vector<wchar_t> buffer(260, L'\0');
  DWORD size = DWORD(buffer.size());
  if (MsiRecordGetStringW(record, field, buffer.data(), &size) != ERROR_SUCCESS) {
    buffer.assign(size_t(size) + 1, L'\0');
    size = DWORD(buffer.size());
    MsiRecordGetStringW(record, field, buffer.data(), &size);
  }
  return UpToNul(buffer);
}

bool InstallerSession::ExtractStream(MSIHANDLE record, const std::wstring& targetPath) {
  if (GetFileAttributesW(targetPath.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileW(targetPath.c_str());
  unique_hfile file(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[1024];
  for (;;) {
    DWORD got = sizeof(buffer);
    if (MsiRecordReadStream(record, 1, buffer, &got) != ERROR_SUCCESS) return false;
    DWORD written = 0;
    if (got > 0 && (!WriteFile(file.get(), buffer, got, &written, nullptr) || written != got)) return false;
    if (got < sizeof(buffer)) return true;
  }
}

void InstallerSession::Classify(const std::wstring& text) {
  if (text.empty() && deferred_) {
    // No condition can be evaluated here: without a handed-over type the
    // action has nothing to go by.
    Log(L"    !=> No installation type handed over");
    installType_ = 0;
  } else if (text.empty()) {
    std::wstring reinstallMode = GetProperty(L"REINSTALLMODE");
    bool notInstalled = EvaluateCondition(L"NOT Installed");
    bool installed = EvaluateCondition(L"Installed");
    bool secondary = EvaluateCondition(L"VEXA_SECONDARY_INSTALL");
    bool repairFiles = reinstallMode.find_first_of(L"ae") != std::wstring::npos;
    bool repairRegistry = reinstallMode.find_first_of(L"um") != std::wstring::npos;
    bool uninstall = EvaluateCondition(L"REMOVE=\"ALL\"");
    bool patch = EvaluateCondition(L"%s OR %s", L"PATCH", L"STRUOPATCHFEATURES");
    bool patchRemove = EvaluateCondition(L"MSIPATCHREMOVE");
    bool deployment = EvaluateCondition(L"QUILSELECTION=\"1\"");
    bool addRemove = EvaluateCondition(L"ORVO_ADDREMOVE");
    bool newUser = EvaluateCondition(L"THISUSERHASNOTRUNTHEPRODUTCYET");

    unsigned word = installed ? IT_REINSTALL : 0;
    if (uninstall) word |= IT_UNINSTALL;
    if (repairFiles) word |= IT_REPAIRFIL;
    if (secondary) word |= IT_SECONDARY;
    if (repairRegistry) word |= IT_REPAIRREG;
    if (notInstalled) word |= IT_NEWINSTALL;
    if (deployment) word |= IT_DEPLOYMENT;
    if (patch) word |= IT_PATCH;
    if (patchRemove) word |= IT_PATCHREMOVE;
    if (addRemove) word |= IT_ADDREMOVE;
    if (newUser) word |= IT_NEWUSER;
    installType_ = word;
  } else {
    installType_ = InstallTypeFromText(text);
  }
  installTypeText_ = InstallTypeToText(installType_);
  Log(L"    => dwInstallType: %s", InstallTypeNames(installType_));
}

}  // namespace orvo
