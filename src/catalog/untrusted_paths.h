// Checks for the names that master and pack documents turn into paths.
#pragma once
#include <string>

namespace orvo {

// A relative path that stays below the folder it is joined to.
bool IsSafeRelativeName(const std::wstring& text);
// A relative path as above, or a full path that lies below the media root
// (the rest being such a relative path).
bool IsSafeMediaPath(const std::wstring& text, const std::wstring& mediaRoot);

}  // namespace orvo
