#include "registry/untrusted_keys.h"

#include "action/installer_session.h"

namespace orvo {
namespace {

size_t NameCount(const std::wstring& path) {
  size_t count = 1;
  for (wchar_t c : path) {
    if (c == L'\\') ++count;
  }
  return count;
}

}  // namespace

bool IsSafeKeyPath(const std::wstring& path) {
  if (path.empty() || path.front() == L'\\' || path.back() == L'\\') return false;
  return path.find(L"\\\\") == std::wstring::npos;
}

bool IsRemovableBranch(const std::wstring& root) {
  std::wstring path = root;
  StripTrailingBackslashes(path);
  return IsSafeKeyPath(path) && NameCount(path) >= 2;
}

}  // namespace orvo
