// Checks an elevated action makes at the moment it creates, writes,
// deletes or prunes: no link on the way, and users' folders only inside
// the profile folder the system records for them.
#pragma once
#include <string>

namespace orvo {

// The first component of the path, from below its volume root down to the
// path itself, that is a link (any reparse point); empty when there is
// none. "/" counts as a separator as "\" does. Components that do not
// exist yet end the walk: nothing below them exists either.
std::wstring LinkOnTheWay(const std::wstring& path);

// The profile folder the system records for the user (the profile list
// under HKLM, which only administrators can write), with one trailing
// backslash; empty when none is recorded. The account's own SID decides;
// for an account the system cannot look up, the profile folder that
// carries the user's name.
std::wstring RecordedProfileFolder(const std::wstring& userName);

}  // namespace orvo
