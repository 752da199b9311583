#include "registry/resource_string.h"

#include <windows.h>

#include <cwchar>

#include "action/installer_session.h"
#include "catalog/untrusted_paths.h"

namespace orvo {

std::wstring ResourceString(const DomElement* element) {
  auto& session = InstallerSession::Instance();
  session.Log(L"      => Attempting to load string from resource dll");
  std::wstring source = AttributeText(element, L"src");
  std::wstring resource = AttributeText(element, L"resource");
  if (source.empty() || resource.empty()) return std::wstring();
  // The name comes from a catalog document: it must stay in the folder.
  if (!IsSafeRelativeName(source)) {
    session.Log(L"        !=> Refused resource file %s", source);
    return std::wstring();
  }
  std::wstring file = session.GetProperty(L"INSTALLDIR", true) + source;
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    session.Log(L"        => Failed to load %s", file);
    return std::wstring();
  }
  std::wstring text;
  const wchar_t* stored = nullptr;
  // A zero length asks for a pointer to the resource itself, of any length.
  int length = LoadStringW(module, static_cast<UINT>(_wtoi(resource.c_str())), reinterpret_cast<LPWSTR>(&stored), 0);
  if (length > 0 && stored) text.assign(stored, static_cast<size_t>(length));
  FreeLibrary(module);
  session.Log(L"        => Result: %s", text);
  return text;
}

}  // namespace orvo
