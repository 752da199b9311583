#include "catalog/untrusted_paths.h"

#include "documents/contained_path.h"
#include "documents/paths.h"

namespace orvo {

namespace {
// Folded as the system compares names, "/" read as the separator it is.
std::wstring Lower(std::wstring text) {
  text = FoldCase(text);
  for (auto& c : text) {
    if (c == L'/') c = L'\\';
  }
  return text;
}
}  // namespace

bool IsSafeRelativeName(const std::wstring& text) { return IsContainedRelativePath(text); }

bool IsSafeMediaPath(const std::wstring& text, const std::wstring& mediaRoot) {
  if (IsContainedRelativePath(text)) return true;
  if (mediaRoot.empty() || !IsAbsolutePath(text) || !IsAbsolutePath(mediaRoot)) return false;
  std::wstring root = Lower(mediaRoot);
  if (root.back() != L'\\') root += L'\\';
  std::wstring path = Lower(text);
  if (path.compare(0, root.size(), root) != 0) return false;
  return IsContainedRelativePath(text.substr(root.size()));
}

}  // namespace orvo
