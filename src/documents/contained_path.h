// The rule that keeps a cabinet's files inside the folder they are
// extracted to. Portable (no Windows headers): the extractor and the native
// build of orvo-cab share it.
#pragma once
#include <string>
#include <string_view>

namespace orvo {

namespace detail {
inline bool IsDeviceBaseName(std::wstring base) {
  for (auto& c : base) {
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  }
  static const wchar_t* const kFixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* name : kFixed) {
    if (base == name) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    wchar_t d = base[3];
    return (d >= L'0' && d <= L'9') || d == 0x00B9 || d == 0x00B2 || d == 0x00B3;
  }
  return false;
}
}  // namespace detail

// Whether a relative path names a file strictly below the folder it is
// joined to: no drive, root, UNC or device prefix, no "." or ".." (nor what
// the system reads as such), no stream, device name or wildcard in any
// component. "/" counts as a separator, as the system reads it so.
inline bool IsContainedRelativePath(std::wstring_view relative) {
  if (relative.empty()) return false;
  std::wstring path(relative);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path.front() == L'\\' || path.back() == L'\\') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring component = path.substr(start, end - start);
    if (component.empty()) return false;
    for (wchar_t c : component) {
      // ":" is a drive or an alternate stream; the rest are wildcards and
      // characters no file name may hold.
      if (unsigned(c) < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' ||
          c == L'*')
        return false;
    }
    // The system drops trailing dots and spaces, so "..." and ". ." are "..".
    std::wstring trimmed = component;
    while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.pop_back();
    if (trimmed.empty()) return false;
    std::wstring base = trimmed.substr(0, trimmed.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (detail::IsDeviceBaseName(base)) return false;
    start = end + 1;
  }
  return true;
}

// One name within a folder: contained, and no separator to reach below it.
inline bool IsPlainFileName(std::wstring_view name) {
  return IsContainedRelativePath(name) && name.find_first_of(L"\\/") == std::wstring_view::npos;
}

}  // namespace orvo
