// Checks for registry key paths that documents and properties name: a
// malformed one could reach a key far wider than the entry meant.
#pragma once
#include <string>

namespace orvo {

// A relative path of names joined by single backslashes, none of them empty.
bool IsSafeKeyPath(const std::wstring& path);
// A product's registry root that may be removed as a whole below its parent:
// a safe path (trailing backslashes aside) of at least two names.
bool IsRemovableBranch(const std::wstring& root);

}  // namespace orvo
