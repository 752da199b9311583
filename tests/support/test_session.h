// A real installer session for in-process tests: a small package with the
// given properties, opened and taken over as a named action with its own
// log file, which starts empty.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "action/unique_handle.h"

namespace orvo::test {

using PropertyList = std::vector<std::pair<std::wstring, std::wstring>>;

class TestSession {
 public:
  // Writes folder\<stem>.msi; false when the package cannot be opened.
  bool Open(const std::wstring& folder, const std::wstring& actionName, const std::wstring& logName,
            const PropertyList& properties = {}, const std::wstring& stem = L"p");
  void Close();

  MSIHANDLE handle() const { return session_.get(); }
  const std::wstring& productCode() const { return productCode_; }
  const std::wstring& packagePath() const { return packagePath_; }
  void Set(const std::wstring& name, const std::wstring& value);
  std::wstring Get(const std::wstring& name) const;
  // Reclassifies the running installation as the given IT_ bits.
  void Type(unsigned installType);
  std::wstring Log() const;
  const std::wstring& logPath() const { return logPath_; }

 private:
  unique_msihandle session_;
  std::wstring productCode_, packagePath_, logPath_;
};

}  // namespace orvo::test
