#include "action/frame.h"

namespace orvo {
namespace {
HMODULE g_resourceModule = nullptr;
}

HMODULE LibraryModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LibraryModule), &module);
  return module;
}

HMODULE CurrentResourceModule() { return g_resourceModule ? g_resourceModule : LibraryModule(); }

Frame::Frame(MSIHANDLE handle, const std::wstring& entryPoint, const std::wstring& logFileName)
    : previous_(g_resourceModule) {
  g_resourceModule = LibraryModule();
  InstallerSession::Instance().Begin(handle, entryPoint, logFileName);
}

Frame::~Frame() { g_resourceModule = previous_; }

std::wstring InstalledMasterDocumentPath() {
  auto& session = InstallerSession::Instance();
  std::wstring guid = session.GetProperty(L"_ORVOGUID");
  return session.GetProperty(L"orvo_CloneProfiles" + guid);
}

}  // namespace orvo
