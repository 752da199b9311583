// Registry data as text: type names, values written from text, the "#"
// integer forms, %NAME% placeholders, and the copy of a key tree with
// macro substitution and list merging.
#pragma once
#include <windows.h>

#include <string>

#include "documents/text_lists.h"

namespace orvo {

// Companion value bits that steer how a value is copied into a user's profile.
enum : DWORD {
  kEntryMerge = 1,
  kEntryCaseSensitive = 2,
  kEntryAppendAll = 4,
  kEntryRemovals = 8,
};

DWORD RegistryTypeFromName(const std::wstring& name);
// Into the subkey (created when missing) or, with an empty path, the key.
bool SetTypedValue(HKEY key, const std::wstring& subkey, const std::wstring& name, const std::wstring& data,
                   DWORD type);
// As above, with "#n" (a lone leading "#") meaning a REG_DWORD.
bool SetValueText(HKEY key, const std::wstring& subkey, const std::wstring& name, const std::wstring& data);
bool IsNumberText(const std::wstring& text);
std::wstring ToPlaceholders(std::wstring text);
TextList PlaceholderNames(const std::wstring& text);
// Search and replace lists are parallel; both may be null.
// Stops (false) below kMaxKeyDepth levels: a deep or linked tree in a
// user's hive must not exhaust the stack.
bool CopyKeyTree(HKEY source, HKEY target, const TextList* search, const TextList* replace, unsigned depth = 0);
std::wstring MergeLists(const std::wstring& existing, const std::wstring& incoming, DWORD flags);

}  // namespace orvo
