#include "registry/value_text.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "action/installer_session.h"
#include "registry/registry_key.h"

namespace orvo {
namespace {

const wchar_t kFlagsSuffix[] = L".ProfileEntryFlags";
const wchar_t kDeleteMarker[] = L"<->delete<->";

// wcstol with base 0, saturated at the 32-bit limits whatever long's width.
LONG ParseLongBase0(const std::wstring& text) {
  long long value = std::wcstoll(text.c_str(), nullptr, 0);
  if (value > LONG_MAX) return LONG_MAX;
  if (value < LONG_MIN) return LONG_MIN;
  return static_cast<LONG>(value);
}

// _wtoi: white space, a sign, decimal digits; saturated.
LONG ParseDecimal(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > 1LL << 32) value = 1LL << 32;  // far enough past either limit
  }
  if (negative) value = -value;
  if (value > LONG_MAX) return LONG_MAX;
  if (value < LONG_MIN) return LONG_MIN;
  return static_cast<LONG>(value);
}

void WriteDword(HKEY key, const std::wstring& name, LONG value) {
  DWORD data = static_cast<DWORD>(value);
  RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

bool WriteString(HKEY key, const std::wstring& name, const std::wstring& text) {
  return RegSetValueExW(key, name.c_str(), 0, StringTypeFor(key, name), reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring TrimTrailingBackslashes(std::wstring text) {
  StripTrailingBackslashes(text);
  return text;
}

bool SameKey(const std::wstring& a, const std::wstring& b, bool caseSensitive) {
  if (caseSensitive) return a == b;
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

DWORD RegistryTypeFromName(const std::wstring& name) {
  static const struct {
    const wchar_t* name;
    DWORD type;
  } kTypes[] = {{L"REG_SZ", REG_SZ},     {L"REG_EXPAND_SZ", REG_EXPAND_SZ}, {L"REG_BINARY", REG_BINARY},
                {L"REG_DWORD", REG_DWORD}, {L"REG_MULTI_SZ", REG_MULTI_SZ},   {L"REG_QWORD", REG_QWORD},
                {L"REG_NONE", REG_NONE}};
  for (const auto& entry : kTypes) {
    if (name == entry.name) return entry.type;
  }
  return REG_NONE;
}

bool SetTypedValue(HKEY key, const std::wstring& subkey, const std::wstring& name, const std::wstring& data,
                   DWORD type) {
  CRegistryWrite opened;
  HKEY target = key;
  if (!subkey.empty()) {
    if (!opened.Open(key, subkey)) return false;
    target = opened.key();
  }
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      WriteString(target, name, data);
      break;
    case REG_DWORD:
    case REG_QWORD:
      WriteDword(target, name, ParseLongBase0(data));
      break;
    default:
      InstallerSession::Instance().Log(L"   !=> Unrecognized data type: Value: %s Data: %s", name, data);
      break;
  }
  return true;
}

bool SetValueText(HKEY key, const std::wstring& subkey, const std::wstring& name, const std::wstring& data) {
  CRegistryWrite opened;
  HKEY target = key;
  if (!subkey.empty()) {
    if (!opened.Open(key, subkey)) return false;
    target = opened.key();
  }
  if (!data.empty() && data[0] == L'#' && data.find(L'#', 1) == std::wstring::npos) {
    DWORD value = static_cast<DWORD>(ParseDecimal(data.substr(1)));
    return RegSetValueExW(target, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
  }
  return WriteString(target, name, data);
}

bool IsNumberText(const std::wstring& text) {
  return text.find_first_not_of(L"xX0123456789abcdefABCDEF-") == std::wstring::npos;
}

std::wstring ToPlaceholders(std::wstring text) {
  for (auto& c : text) {
    if (c == L'[' || c == L']') c = L'%';
  }
  return text;
}

TextList PlaceholderNames(const std::wstring& text) {
  // The leading "-" keeps the text before the first "%" a field of its own.
  TextList fields;
  SplitFields(L"-" + text, L'%', fields);
  TextList names;
  for (size_t i = 1; i < fields.size(); i += 2) {
    if (!fields[i].empty()) names.push_back(fields[i]);
  }
  return names;
}

bool CopyKeyTree(HKEY source, HKEY target, const TextList* search, const TextList* replace, unsigned depth) {
  if (depth > kMaxKeyDepth) return false;
  auto& session = InstallerSession::Instance();
  size_t substitutions = (search && replace) ? std::min(search->size(), replace->size()) : 0;
  // Borrowed handles: the readers below must not close them.
  struct Borrow {
    HKEY key;
    std::wstring String(const std::wstring& name) const {
      DWORD type = REG_NONE, size = 0;
      if (!key || RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
      if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return {};
      std::vector<wchar_t> buffer(size + 2, L'\0');
      DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
      if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
          ERROR_SUCCESS) {
        return {};
      }
      return std::wstring(buffer.data());
    }
    DWORD Dword(const std::wstring& name) const {
      DWORD type = REG_NONE, value = 0, size = sizeof(value);
      if (!key || RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                      ERROR_SUCCESS ||
          type != REG_DWORD) {
        return 0;
      }
      return value;
    }
    DWORD Type(const std::wstring& name) const {
      DWORD type = REG_NONE;
      if (!key || RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
        return REG_NONE;
      }
      return type;
    }
  };
  Borrow src{source}, dst{target};

  for (DWORD index = 0;; ++index) {
    wchar_t buffer[1024];
    DWORD length = 1024, type = REG_NONE;
    if (!source ||
        RegEnumValueW(source, index, buffer, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    std::wstring name(buffer, length);
    size_t suffix = name.find(kFlagsSuffix);
    if (suffix != std::wstring::npos && suffix > 0) continue;
    DWORD flags = src.Dword(name + kFlagsSuffix);
    if (type == REG_DWORD) {
      WriteDword(target, name, static_cast<LONG>(src.Dword(name)));
      continue;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) continue;
    std::wstring text = src.String(name);
    for (size_t i = 0; i < substitutions; ++i) {
      if (!(*search)[i].empty()) ReplaceAll(text, (*search)[i], (*replace)[i]);
    }
    if ((flags & kEntryMerge) && dst.Type(name) != REG_NONE) text = MergeLists(dst.String(name), text, flags);
    if (!text.empty() && text[0] == L'#') {
      session.Log(L"      => Evaluating %s as a potential DWORD", text);
      if (text.find_first_not_of(L"0123456789", 1) == std::wstring::npos) {
        WriteDword(target, name, ParseDecimal(text.substr(1)));
        continue;
      }
    }
    WriteString(target, name, text);
  }

  for (DWORD index = 0;; ++index) {
    wchar_t buffer[1024];
    DWORD length = 1024;
    if (!source ||
        RegEnumKeyExW(source, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    std::wstring name(buffer, length);
    CRegistry nestedSource;
    CRegistryWrite nestedTarget;
    nestedSource.Open(source, name);
    nestedTarget.Open(target, name);
    if (!CopyKeyTree(nestedSource.key(), nestedTarget.key(), search, replace, depth + 1)) return false;
  }
  return true;
}

std::wstring MergeLists(const std::wstring& existing, const std::wstring& incoming, DWORD flags) {
  auto& session = InstallerSession::Instance();
  session.Log(L"    => Merging %s with %s", existing, incoming);
  TextList aItems, bItems;
  SplitText(existing, L";", aItems, true);
  SplitText(incoming, L";", bItems, true);
  TextList aKeys;
  for (const auto& item : aItems) aKeys.push_back(TrimTrailingBackslashes(item));
  bool caseSensitive = (flags & kEntryCaseSensitive) != 0;
  TextList result = aItems;

  for (const auto& item : bItems) {
    std::wstring key = TrimTrailingBackslashes(item);
    bool removal = false;
    if ((flags & kEntryRemovals) && !key.empty() && key[0] == L'-') {
      key.erase(0, 1);
      removal = true;
    }
    if (!removal) {
      bool present = false;
      for (const auto& aKey : aKeys) present = present || SameKey(aKey, key, caseSensitive);
      if ((flags & kEntryAppendAll) || !present) result.push_back(item);
      continue;
    }
    bool present = false;
    for (const auto& aKey : aKeys) present = present || SameKey(aKey, key, caseSensitive);
    if (!present) continue;
    for (auto& aKey : aKeys) {
      if (SameKey(aKey, key, false)) aKey = kDeleteMarker;
    }
  }

  if (flags & kEntryRemovals) {
    // Result begins with the A items, so positions match.
    for (size_t i = aKeys.size(); i-- > 0;) {
      if (aKeys[i] == kDeleteMarker) result.erase(result.begin() + static_cast<long>(i));
    }
  }
  std::wstring joined = JoinText(result, L";");
  session.Log(L"      Result: %s", joined);
  return joined;
}

}  // namespace orvo
