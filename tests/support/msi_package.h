// Builds the small installer packages the tests run, through msi.dll's
// database API, and opens them as sessions.
#pragma once
#include <string>
#include <vector>

#include "action/unique_handle.h"

namespace orvo::test {

std::wstring NewGuid();  // "{XXXXXXXX-...}" upper case

class MsiPackage {
 public:
  // Creates the package with the standard tables and summary information.
  explicit MsiPackage(const std::wstring& path);
  ~MsiPackage();

  void Exec(const std::wstring& sql);
  void Property(const std::wstring& name, const std::wstring& value);
  void Directory(const std::wstring& id, const std::wstring& parent, const std::wstring& defaultDir);
  void Feature(const std::wstring& id, int level = 1);
  void Component(const std::wstring& id, const std::wstring& directory, const std::wstring& condition = L"");
  void FeatureComponent(const std::wstring& feature, const std::wstring& component);
  void Sequence(const std::wstring& action, int sequence, const std::wstring& condition = L"");
  void Binary(const std::wstring& name, const std::wstring& filePath);
  void BinaryBytes(const std::wstring& name, const std::string& bytes);
  void CustomAction(const std::wstring& action, int type, const std::wstring& source, const std::wstring& target);
  void Registry(const std::wstring& id, int root, const std::wstring& key, const std::wstring& name,
                const std::wstring& value, const std::wstring& component);
  // The usual execute sequence of a package without files, with the given
  // custom actions placed by their sequence numbers.
  void StandardSequence();
  void Commit();

  const std::wstring& path() const { return path_; }
  const std::wstring& productCode() const { return productCode_; }
  MSIHANDLE database() const { return db_.get(); }

 private:
  void Insert(const std::wstring& sql, const std::vector<std::wstring>& values);
  std::wstring path_;
  std::wstring productCode_;
  unique_msihandle db_;
};

// A session over a package, with the installer's own UI off.
unique_msihandle OpenPackage(const std::wstring& path);

// The folder that a package's standard directory property (e.g.
// "ProgramFilesFolder") resolves to, read from a session as the packages
// of the tests see it: a 32-bit package in a 64-bit prefix gets the x86
// Program Files, whatever the test process's own special folders say.
std::wstring PackageFolder(const std::wstring& property);

// Each deferred action's section of the log reads only "CustomActionData",
// "ProductCode" and "UserSID" and evaluates no condition, as on Windows.
void ExpectDeferredSectionsKeepToTheirData(const std::wstring& log);

// Runs msiexec.exe with the arguments and returns its exit code; what the
// run adds to orvo_Install.log is held to the rule above.
DWORD RunMsiexec(const std::wstring& arguments);

}  // namespace orvo::test
