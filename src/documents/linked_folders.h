// Checks an elevated action makes at the moment it creates, writes,
// deletes or prunes: no link on the way, and users' folders only inside
// the profile folder the system records for them.
#pragma once
#include <string>
#include <vector>

#include "action/unique_handle.h"

namespace orvo {

// The first component of the path, from below its volume root down to the
// path itself, that is a link (any reparse point); empty when there is
// none. "/" counts as a separator as "\" does. Components that do not
// exist yet end the walk: nothing below them exists either.
std::wstring LinkOnTheWay(const std::wstring& path);

// Opens the path itself, never a link's target: looked at by name first (an
// open may follow a link the system shows only to a look by name), then on
// the handle (a swap between the look and the open shows there). No handle
// when nothing stands there, the open fails or it is a link (then `link` is
// set); `attributes` are those read on the handle.
unique_hfile OpenUnlinked(const std::wstring& path, unsigned long access, unsigned long share, bool& link,
                          unsigned long& attributes);

// Holds open each component of a folder, from below its volume root down,
// once it was seen not to be a link. A held folder cannot be renamed or
// replaced (it is open without delete sharing), so the files inside need
// no walk of their own: one check per folder instead of one per file.
class PinnedFolders {
 public:
  PinnedFolders() = default;
  PinnedFolders(const PinnedFolders&) = delete;
  PinnedFolders& operator=(const PinnedFolders&) = delete;

  // Pins the folder's existing components, keeping those already held
  // (sibling folders share their parents). Returns the first one that is a
  // link, empty when none is; nothing from a link down stays held.
  std::wstring Pin(const std::wstring& folder);
  // Whether the folder is held, so known not to be a link.
  bool Holds(const std::wstring& folder) const;
  // Lets go of the folder and of everything held below it, so it can be
  // removed; its parents stay held.
  void Release(const std::wstring& folder);
  void Clear() { pins_.clear(); }

 private:
  struct Pinned {
    std::wstring key;
    unique_hfile handle;
  };
  std::vector<Pinned> pins_;
};

// The profile folder the system records for the user (the profile list
// under HKLM, which only administrators can write), with one trailing
// backslash; empty when none is recorded. The account's own SID decides;
// for an account the system cannot look up, the profile folder that
// carries the user's name.
std::wstring RecordedProfileFolder(const std::wstring& userName);

}  // namespace orvo
