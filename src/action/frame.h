// What every entry point shares: the frame that starts it, the guard that
// keeps exceptions inside the library, and the installed master document.
#pragma once
#include <exception>
#include <new>
#include <string>

#include "action/installer_session.h"

namespace orvo {

// The module whose resources the library reads (the DLL, or the program
// that links the library's objects).
HMODULE LibraryModule();
HMODULE CurrentResourceModule();

// Makes the library's module current for resource lookups while it lives,
// then begins the action in the session.
class Frame {
 public:
  Frame(MSIHANDLE handle, const std::wstring& entryPoint, const std::wstring& logFileName = L"orvo_Install.log");
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

 private:
  HMODULE previous_;
};

std::wstring InstalledMasterDocumentPath();

// Runs an entry point's body; no exception leaves it: it becomes 1603 and a
// log record.
template <class Body>
UINT GuardEntryPoint(const wchar_t* entryPoint, Body&& body) noexcept {
  const wchar_t* what = L"unknown exception";
  std::wstring detail;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    what = L"out of memory";
  } catch (const std::exception& e) {
    what = L"exception";
    try {
      detail = FromUtf8(e.what());
    } catch (...) {
    }
  } catch (...) {
  }
  try {
    InstallLog::Write(L"!=> %s failed: %s %s", entryPoint, what, detail);
    InstallLog::Write(L"!=> %s returning %d", entryPoint, 1603);
  } catch (...) {
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace orvo
