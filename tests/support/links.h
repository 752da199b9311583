// Links planted where the library must not follow them. Wine 8 accepts
// CreateSymbolicLinkW without making anything and refuses
// FSCTL_SET_REPARSE_POINT, but reports a Unix symbolic link inside the
// prefix as a reparse point: that is what is planted where the call fails.
#pragma once
#include <string>

namespace orvo::test {

// A directory link at linkPath to target (both Windows paths); whether the
// system now reports linkPath as a reparse point.
bool PlantFolderLink(const std::wstring& linkPath, const std::wstring& target);
// The link alone, its target left as it is (also one whose target is gone).
void RemoveFolderLink(const std::wstring& linkPath);

// A profile-list entry (HKLM) for a user no account stands for, with the
// profile folder; the library trusts that user's folders only inside it.
bool RecordProfile(const std::wstring& user, const std::wstring& profileFolder);

}  // namespace orvo::test
