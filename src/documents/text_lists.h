// Lists packed into one string, and a few other text operations.
#pragma once
#include <string>
#include <vector>

namespace orvo {

using TextList = std::vector<std::wstring>;

// Appends the non-empty fields; -1 for an empty separator.
int SplitText(const std::wstring& text, const std::wstring& separator, TextList& list, bool clear);
// All fields, empty ones included (a leading separator gives no first field).
int SplitFields(const std::wstring& text, wchar_t separator, TextList& list);
// The index-th ";"-separated field, empty ones keeping their places.
bool FieldAt(const std::wstring& text, size_t index, std::wstring& field);
std::wstring FieldAt(const std::wstring& text, size_t index);
std::wstring JoinText(const TextList& list, const std::wstring& separator);
std::wstring StripPrefix(const std::wstring& text, const std::wstring& prefix);
int ReplaceAll(std::wstring& text, const std::wstring& oldText, const std::wstring& newText);
int IndexOfText(const TextList& list, const std::wstring& text);
bool ContainsText(const TextList& list, const std::wstring& text, bool caseSensitive);
std::wstring SystemErrorText(unsigned long code);

}  // namespace orvo
