#include "support/test_session.h"

#include "action/installer_session.h"
#include "support/msi_package.h"
#include "support/test_files.h"

namespace orvo::test {

bool TestSession::Open(const std::wstring& folder, const std::wstring& actionName, const std::wstring& logName,
                       const PropertyList& properties, const std::wstring& stem) {
  packagePath_ = folder + stem + L".msi";
  {
    MsiPackage package(packagePath_);
    productCode_ = package.productCode();
    for (const auto& [name, value] : properties) package.Property(name, value);
    package.Commit();
  }
  session_ = OpenPackage(packagePath_);
  if (!session_) return false;
  logPath_ = CombinePath(TempFolder(), logName);
  DeleteFileW(logPath_.c_str());
  InstallerSession::Instance().Begin(session_.get(), actionName, logName);
  return true;
}

void TestSession::Close() { session_.reset(); }

void TestSession::Set(const std::wstring& name, const std::wstring& value) {
  MsiSetPropertyW(session_.get(), name.c_str(), value.c_str());
}

std::wstring TestSession::Get(const std::wstring& name) const {
  return InstallerSession::Instance().GetProperty(name, true);
}

void TestSession::Type(unsigned installType) { InstallerSession::Instance().Classify(InstallTypeToText(installType)); }

std::wstring TestSession::Log() const { return ReadUtf16File(logPath_); }

}  // namespace orvo::test
