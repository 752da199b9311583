#include "support/msi_package.h"

#include <gtest/gtest.h>
#include <msiquery.h>
#include <wtypes.h>
#include <rpc.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "action/installer_session.h"
#include "support/test_files.h"

namespace orvo::test {
namespace {
// A package of the word size of the DLL under test, as its author would
// pair them: its Registry table then writes the registry view the DLL and
// the test process read (registry key path, and 64-bit on x64).
#ifdef _WIN64
const wchar_t* const kPlatform = L"x64;1033";
const int kComponentAttributes = 4 | 256;
#else
const wchar_t* const kPlatform = L"Intel;1033";
const int kComponentAttributes = 4;
#endif
}  // namespace

std::wstring NewGuid() {
  UUID id;
  UuidCreate(&id);
  wchar_t text[64];
  swprintf(text, 64, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)id.Data1, id.Data2,
           id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
           id.Data4[7]);
  return text;
}

MsiPackage::MsiPackage(const std::wstring& path) : path_(path), productCode_(NewGuid()) {
  DeleteFileW(path.c_str());
  UINT rc = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, db_.put());
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "MsiOpenDatabaseW failed: " << rc;

  Exec(L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
       L"PRIMARY KEY `Property`)");
  Exec(L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
       L"`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
  Exec(L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) "
       L"LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, "
       L"`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)");
  Exec(L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` "
       L"CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) "
       L"PRIMARY KEY `Component`)");
  Exec(L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
       L"PRIMARY KEY `Feature_`, `Component_`)");
  Exec(L"CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), "
       L"`Sequence` SHORT PRIMARY KEY `Action`)");
  Exec(L"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)");
  Exec(L"CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), "
       L"`Target` CHAR(255) PRIMARY KEY `Action`)");
  Exec(L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL "
       L"LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` LONGCHAR LOCALIZABLE, `Component_` CHAR(72) NOT NULL "
       L"PRIMARY KEY `Registry`)");
  Exec(L"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, `DiskPrompt` CHAR(64) "
       L"LOCALIZABLE, `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY `DiskId`)");
  Exec(L"INSERT INTO `Media` (`DiskId`, `LastSequence`) VALUES (1, 0)");

  Property(L"ProductCode", productCode_);
  Property(L"ProductName", L"Orvo Test Product");
  Property(L"ProductVersion", L"1.0.0");
  Property(L"ProductLanguage", L"1033");
  Property(L"Manufacturer", L"Orvo Tests");
  Property(L"UpgradeCode", NewGuid());
  Property(L"ALLUSERS", L"1");
  Directory(L"TARGETDIR", L"", L"SourceDir");

  MSIHANDLE summary = 0;
  if (MsiGetSummaryInformationW(db_.get(), nullptr, 20, &summary) == ERROR_SUCCESS) {
    unique_msihandle owner(summary);
    MsiSummaryInfoSetPropertyW(summary, 2 /*PID_TITLE*/, VT_LPSTR, 0, nullptr, L"Installation Database");
    MsiSummaryInfoSetPropertyW(summary, 7 /*PID_TEMPLATE*/, VT_LPSTR, 0, nullptr, kPlatform);
    MsiSummaryInfoSetPropertyW(summary, 9 /*PID_REVNUMBER*/, VT_LPSTR, 0, nullptr, NewGuid().c_str());
    MsiSummaryInfoSetPropertyW(summary, 14 /*PID_PAGECOUNT*/, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(summary, 15 /*PID_WORDCOUNT*/, VT_I4, 2, nullptr, nullptr);
    MsiSummaryInfoPersist(summary);
  }
}

MsiPackage::~MsiPackage() = default;

void MsiPackage::Exec(const std::wstring& sql) {
  unique_msihandle view;
  UINT rc = MsiDatabaseOpenViewW(db_.get(), sql.c_str(), view.put());
  if (rc == ERROR_SUCCESS) rc = MsiViewExecute(view.get(), 0);
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "SQL failed (" << rc << "): " << ToNarrow(sql);
}

void MsiPackage::Insert(const std::wstring& sql, const std::vector<std::wstring>& values) {
  unique_msihandle view;
  unique_msihandle record(MsiCreateRecord(UINT(values.size())));
  for (size_t i = 0; i < values.size(); ++i) {
    if (!values[i].empty()) MsiRecordSetStringW(record.get(), UINT(i + 1), values[i].c_str());
  }
  UINT rc = MsiDatabaseOpenViewW(db_.get(), sql.c_str(), view.put());
  if (rc == ERROR_SUCCESS) rc = MsiViewExecute(view.get(), record.get());
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "insert failed (" << rc << "): " << ToNarrow(sql);
}

void MsiPackage::Property(const std::wstring& name, const std::wstring& value) {
  Insert(L"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {name, value});
}

void MsiPackage::Directory(const std::wstring& id, const std::wstring& parent, const std::wstring& defaultDir) {
  Insert(L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES (?, ?, ?)",
         {id, parent, defaultDir});
}

void MsiPackage::Feature(const std::wstring& id, int level) {
  Insert(L"INSERT INTO `Feature` (`Feature`, `Display`, `Level`, `Attributes`) VALUES (?, 1, " +
             std::to_wstring(level) + L", 0)",
         {id});
}

void MsiPackage::Component(const std::wstring& id, const std::wstring& directory, const std::wstring& condition) {
  Insert(L"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`) "
         L"VALUES (?, ?, ?, " + std::to_wstring(kComponentAttributes) + L", ?)",
         {id, NewGuid(), directory, condition});
}

void MsiPackage::FeatureComponent(const std::wstring& feature, const std::wstring& component) {
  Insert(L"INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES (?, ?)", {feature, component});
}

void MsiPackage::Sequence(const std::wstring& action, int sequence, const std::wstring& condition) {
  Insert(L"INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES (?, ?, " +
             std::to_wstring(sequence) + L")",
         {action, condition});
}

void MsiPackage::Binary(const std::wstring& name, const std::wstring& filePath) {
  unique_msihandle record(MsiCreateRecord(2));
  MsiRecordSetStringW(record.get(), 1, name.c_str());
  UINT rc = MsiRecordSetStreamW(record.get(), 2, filePath.c_str());
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "MsiRecordSetStreamW failed: " << rc << " " << ToNarrow(filePath);
  unique_msihandle view;
  rc = MsiDatabaseOpenViewW(db_.get(), L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", view.put());
  if (rc == ERROR_SUCCESS) rc = MsiViewExecute(view.get(), record.get());
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "Binary insert failed: " << rc;
}

void MsiPackage::BinaryBytes(const std::wstring& name, const std::string& bytes) {
  std::wstring file = UniqueTempPath(L"bin");
  WriteFileBytes(file, bytes);
  Binary(name, file);
}

void MsiPackage::CustomAction(const std::wstring& action, int type, const std::wstring& source,
                              const std::wstring& target) {
  Insert(L"INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES (?, " + std::to_wstring(type) +
             L", ?, ?)",
         {action, source, target});
}

void MsiPackage::Registry(const std::wstring& id, int root, const std::wstring& key, const std::wstring& name,
                          const std::wstring& value, const std::wstring& component) {
  Insert(L"INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES (?, " +
             std::to_wstring(root) + L", ?, ?, ?, ?)",
         {id, key, name, value, component});
}

void MsiPackage::StandardSequence() {
  Sequence(L"CostInitialize", 800);
  Sequence(L"FileCost", 900);
  Sequence(L"CostFinalize", 1000);
  Sequence(L"InstallValidate", 1400);
  Sequence(L"InstallInitialize", 1500);
  Sequence(L"ProcessComponents", 1600);
  Sequence(L"RemoveRegistryValues", 2600);
  Sequence(L"WriteRegistryValues", 5000);
  Sequence(L"RegisterUser", 6000);
  Sequence(L"RegisterProduct", 6100);
  Sequence(L"PublishFeatures", 6300);
  Sequence(L"PublishProduct", 6400);
  Sequence(L"InstallFinalize", 6600);
}

void MsiPackage::Commit() {
  UINT rc = MsiDatabaseCommit(db_.get());
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "MsiDatabaseCommit failed: " << rc;
  db_.reset();
}

unique_msihandle OpenPackage(const std::wstring& path) {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  unique_msihandle session;
  UINT rc = MsiOpenPackageW(path.c_str(), session.put());
  if (rc != ERROR_SUCCESS) ADD_FAILURE() << "MsiOpenPackageW failed: " << rc;
  return session;
}

std::wstring PackageFolder(const std::wstring& property) {
  static std::map<std::wstring, std::wstring> known;
  auto found = known.find(property);
  if (found != known.end()) return found->second;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring path = std::wstring(temp) + L"orvo_folders_" + std::to_wstring(GetCurrentProcessId()) + L".msi";
  {
    MsiPackage package(path);
    package.Commit();
  }
  std::wstring value;
  {
    unique_msihandle session = OpenPackage(path);
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (MsiGetPropertyW(session.get(), property.c_str(), buffer, &size) == ERROR_SUCCESS) value = buffer;
  }
  DeleteFileW(path.c_str());
  if (value.empty()) ADD_FAILURE() << "the package gives no folder for a property";
  return known[property] = value;
}

void ExpectDeferredSectionsKeepToTheirData(const std::wstring& log) {
  std::wistringstream lines(log);
  std::wstring line, section;
  bool deferred = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.size() > 2 && line.compare(line.size() - 2, 2, L"()") == 0 && line.find(L' ') == std::wstring::npos) {
      section = line;
      deferred = false;
      continue;
    }
    if (line.find(L"=> Run mode:") != std::wstring::npos) {
      std::wstring modes = line + L" ";
      deferred = modes.find(L" MSIRUNMODE_SCHEDULED ") != std::wstring::npos ||
                 modes.find(L" MSIRUNMODE_ROLLBACK ") != std::wstring::npos ||
                 modes.find(L" MSIRUNMODE_COMMIT ") != std::wstring::npos;
      continue;
    }
    if (!deferred) continue;
    size_t get = line.find(L"=> Get: ");
    if (get != std::wstring::npos) {
      std::wstring name = line.substr(get + 8, line.find(L':', get + 8) - get - 8);
      bool given = name == L"CustomActionData" || name == L"ProductCode" || name == L"UserSID";
      EXPECT_TRUE(given && line.find(L"!=>") == std::wstring::npos)
          << "a deferred action reads what Windows does not give it, in " << ToNarrow(section) << ": "
          << ToNarrow(line);
    }
    EXPECT_EQ(std::wstring::npos, line.find(L"Condition \""))
        << "a deferred action evaluates a condition, in " << ToNarrow(section) << ": " << ToNarrow(line);
  }
}

DWORD RunMsiexec(const std::wstring& arguments) {
  // What this run adds to the installation log is held to the rule a
  // deferred action keeps on Windows.
  std::wstring logPath = CombinePath(TempFolder(), L"orvo_Install.log");
  size_t logBefore = ReadUtf16File(logPath).size();
  std::wstring command = L"msiexec.exe " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start msiexec: " << GetLastError();
    return DWORD(-1);
  }
  unique_handle thread(process.hThread), owner(process.hProcess);
  WaitForSingleObject(process.hProcess, 300000);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(process.hProcess, &code);
  std::wstring log = ReadUtf16File(logPath);
  ExpectDeferredSectionsKeepToTheirData(log.size() >= logBefore ? log.substr(logBefore) : log);
  return code;
}

}  // namespace orvo::test
