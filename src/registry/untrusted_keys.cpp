#include "registry/untrusted_keys.h"

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
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return IsSafeKeyPath(path) && NameCount(path) >= 2;
}

}  // namespace orvo
