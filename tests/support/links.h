// Links where the library must not follow them. Wine 8 takes
// CreateSymbolicLinkW without making anything and refuses
// FSCTL_SET_REPARSE_POINT, but reports a Unix link in the prefix as a
// reparse point: that is planted where the call fails.
#pragma once
#include <string>

namespace orvo::test {

// A folder link; whether linkPath now is a reparse point.
bool PlantFolderLink(const std::wstring& linkPath, const std::wstring& target);
// The link alone, also one whose target is gone.
void RemoveFolderLink(const std::wstring& linkPath);
// A profile-list entry (HKLM) for a user no account stands for.
bool RecordProfile(const std::wstring& user, const std::wstring& profileFolder);

}  // namespace orvo::test
