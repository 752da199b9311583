#include "registry/registry_key.h"

#include <vector>

#include "action/installer_session.h"
#include "documents/text_lists.h"

namespace orvo {
namespace {

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Parent in the walk's own form: trailing backslashes dropped, cut at the
// last backslash, one backslash kept; empty when no backslash follows the
// first character.
std::wstring ParentKeyPath(std::wstring path) {
  StripTrailingBackslashes(path);
  size_t cut = path.rfind(L'\\');
  if (cut == std::wstring::npos || cut == 0) return std::wstring();
  return path.substr(0, cut + 1);
}

std::wstring LastKeyComponent(std::wstring path) {
  StripTrailingBackslashes(path);
  size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool CRegistry::Open(HKEY parent, const std::wstring& path) {
  Close();
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) key = nullptr;
  key_ = key;
  return key_ != nullptr;
}

void CRegistry::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

DWORD CRegistry::ValueType(const std::wstring& name) const {
  DWORD type = REG_NONE;
  if (!key_ || RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
    return REG_NONE;
  }
  return type;
}

bool CRegistry::HasValueOfType(const std::wstring& name, std::initializer_list<DWORD> types) const {
  DWORD type = ValueType(name);
  for (DWORD t : types) {
    if (t == type) return true;
  }
  return false;
}

std::wstring CRegistry::GetString(const std::wstring& name) const {
  if (!key_) return std::wstring();
  DWORD type = REG_NONE, size = 0;
  if (RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::wstring();
  if (!IsStringType(type)) return std::wstring();
  // The byte count taken as characters leaves room for a missing NUL.
  std::vector<wchar_t> buffer(size + 2, L'\0');
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  return std::wstring(buffer.data());
}

DWORD CRegistry::GetDword(const std::wstring& name) const {
  if (!key_) return 0;
  DWORD type = REG_NONE, value = 0, size = sizeof(value);
  if (RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value)) {
    return 0;
  }
  return value;
}

bool CRegistryWrite::Open(HKEY parent, const std::wstring& path) {
  Close();
  HKEY key = nullptr;
  if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    key = nullptr;
  }
  key_ = key;
  return key_ != nullptr;
}

DWORD StringTypeFor(HKEY key, const std::wstring& name) {
  DWORD type = REG_NONE;
  if (!key || RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return REG_SZ;
  return IsStringType(type) ? type : REG_SZ;
}

bool CRegistryWrite::SetString(const std::wstring& name, const std::wstring& text) {
  if (!key_) return false;
  DWORD type = StringTypeFor(key_, name);
  return RegSetValueExW(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool CRegistryWrite::SetDword(const std::wstring& name, DWORD value) {
  if (!key_) return false;
  return RegSetValueExW(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
         ERROR_SUCCESS;
}

bool CRegistryDelete::DeleteKey(const std::wstring& name, unsigned depth) {
  if (RegDeleteKeyW(key_, name.c_str()) == ERROR_SUCCESS) return true;
  bool emptied;
  {
    CRegistryDelete subkey;
    subkey.Open(key_, name);
    emptied = depth < kMaxKeyDepth && subkey.DeleteAllSubKeys(depth + 1);
  }
  if (!emptied) return false;
  return RegDeleteKeyW(key_, name.c_str()) == ERROR_SUCCESS;
}

bool CRegistryDelete::DeleteAllSubKeys(unsigned depth) {
  // Collected first: deleting while enumerating by index would skip keys.
  TextList names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[1024];
    DWORD length = 1024;
    if (!key_ || RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  for (const auto& name : names) {
    if (!DeleteKey(name, depth)) return false;
  }
  return true;
}

void PruneEmptyKeys(HKEY root, const std::wstring& path) {
  std::wstring current = path;
  for (std::wstring parent = ParentKeyPath(current); !parent.empty(); parent = ParentKeyPath(current)) {
    CRegistry reader;
    CRegistryWrite writer;
    if (reader.Open(root, parent) && writer.Open(root, parent)) {
      HKEY child = nullptr;
      if (RegOpenKeyExW(writer.key(), LastKeyComponent(current).c_str(), 0, KEY_QUERY_VALUE, &child) !=
          ERROR_SUCCESS) {
        return;
      }
      DWORD subkeys = 0, values = 0;
      LONG asked = RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                    nullptr, nullptr, nullptr);
      RegCloseKey(child);
      if (asked == ERROR_SUCCESS && (subkeys > 0 || values > 0)) return;
      if (RegDeleteKeyW(writer.key(), LastKeyComponent(current).c_str()) != ERROR_SUCCESS) return;
    }
    current = parent;
  }
}

}  // namespace orvo
