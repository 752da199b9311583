#include "documents/text_lists.h"

#include <windows.h>

#include "action/unique_handle.h"
#include "action/wformat.h"

namespace orvo {

int SplitText(const std::wstring& text, const std::wstring& separator, TextList& list, bool clear) {
  if (clear) list.clear();
  if (text.empty()) return 0;
  if (separator.empty()) return -1;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t found = text.find(separator, pos);
    if (found == std::wstring::npos) {
      list.push_back(text.substr(pos));
      break;
    }
    if (found > pos) list.push_back(text.substr(pos, found - pos));
    pos = found + separator.size();
  }
  return int(list.size());
}

int SplitFields(const std::wstring& text, wchar_t separator, TextList& list) {
  const wchar_t marker = L'\u00BB';
  std::wstring copy;
  copy.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    copy += text[i];
    if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator) copy += marker;
  }
  if (!copy.empty() && copy.back() == separator) copy += marker;
  SplitText(copy, std::wstring(1, separator), list, true);
  for (auto& entry : list) {
    if (entry.size() == 1 && entry[0] == marker) entry.clear();
  }
  return int(list.size());
}

bool FieldAt(const std::wstring& text, size_t index, std::wstring& field) {
  size_t start = 0;
  for (size_t i = 0;; ++i) {
    size_t sep = text.find(L';', start);
    if (i == index) {
      if (sep != std::wstring::npos) {
        field = text.substr(start, sep - start);
        return true;
      }
      field = start <= text.size() ? text.substr(start) : std::wstring();
      return !field.empty();
    }
    if (sep == std::wstring::npos) {
      field.clear();
      return false;
    }
    start = sep + 1;
  }
}

std::wstring FieldAt(const std::wstring& text, size_t index) {
  std::wstring field;
  FieldAt(text, index, field);
  return field;
}

std::wstring JoinText(const TextList& list, const std::wstring& separator) {
  std::wstring out;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += separator;
    out += list[i];
  }
  return out;
}

std::wstring StripPrefix(const std::wstring& text, const std::wstring& prefix) {
  if (!prefix.empty() && text.compare(0, prefix.size(), prefix) == 0) return text.substr(prefix.size());
  return text;
}

int ReplaceAll(std::wstring& text, const std::wstring& oldText, const std::wstring& newText) {
  if (oldText.empty()) return 0;
  int count = 0;
  size_t pos = text.find(oldText);
  while (pos != std::wstring::npos) {
    text.replace(pos, oldText.size(), newText);
    ++count;
    pos = text.find(oldText, pos + newText.size());
  }
  return count;
}

int IndexOfText(const TextList& list, const std::wstring& text) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == text) return int(i);
  }
  return -1;
}

bool ContainsText(const TextList& list, const std::wstring& text, bool caseSensitive) {
  auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; };
  for (const auto& entry : list) {
    if (caseSensitive) {
      if (entry == text) return true;
      continue;
    }
    if (entry.size() != text.size()) continue;
    bool same = true;
    for (size_t i = 0; i < entry.size() && same; ++i) same = lower(entry[i]) == lower(text[i]);
    if (same) return true;
  }
  return false;
}

std::wstring SystemErrorText(unsigned long code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  unique_hlocal owner(buffer);
  return Format(L"%d: %s", code, buffer ? buffer : L"");
}

}  // namespace orvo
