// Taking paths apart, and the file and folder operations the library needs.
// Plain functions without state; none of them throws or logs. Folder paths
// they return end with exactly one backslash.
#pragma once
#include <string>

#include "documents/text_lists.h"

typedef struct _ACL ACL;

namespace orvo {

// --- path text, no file-system access ---

// C:\a\b.txt -> C:\a\ ; C:\a\ -> C:\ ; C:\ , "name" and "\name" -> empty.
std::wstring ParentFolder(const std::wstring& path);
// C:\a\b\ -> b ; a path without a backslash (or only a leading one) unchanged.
std::wstring LastPathComponent(const std::wstring& path);
// ".ext" of the last component, dot included; empty when it has none.
std::wstring PathExtension(const std::wstring& path);
// Replaces the extension in place ("xsd" and ".xsd" alike); renames the file
// when asked (the rename's result is not checked).
void ChangeExtension(std::wstring& path, const std::wstring& newExtension, bool rename);
// "X:\" for a drive path, "\\server\share\" for a UNC path, else empty.
std::wstring VolumeRoot(const std::wstring& path);
bool IsNetworkPath(const std::wstring& path);
bool IsAbsolutePath(const std::wstring& path);
// A folder that files can be written to or deleted from: absolute, so
// nothing lands relative to the custom-action process's working folder.
bool IsUsableFolder(const std::wstring& folder);
// The text upper-cased as the file system folds names (ordinal, no
// locale), for comparing paths: both sides folded.
std::wstring FoldCase(std::wstring text);
// A path as the system reads it, for comparing: "/" as "\", trailing dots
// and spaces of every component dropped, folded; a trailing separator is
// kept as one backslash.
std::wstring PathKey(const std::wstring& path);
// Whether two paths name one file or folder (PathKey, one trailing
// backslash either way).
bool SamePathKey(const std::wstring& a, const std::wstring& b);
// Whether the path lies strictly below the folder (PathKey, a separator
// after the folder).
bool IsStrictlyBelow(const std::wstring& path, const std::wstring& folder);

// --- file system ---

bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);

// The folder of a CSIDL value (current path, no token), or empty.
std::wstring SpecialFolder(int csidl);
// Creates a new empty file "str????.tmp" in the folder; its path, or empty.
std::wstring TempFileName(const std::wstring& folder);
// Creates the folder with all missing parents, then the subfolder name in it.
// With an empty name: true whenever the folder text is not empty. With a
// name: whether that subfolder was created (an existing one gives false).
bool EnsureFolder(const std::wstring& folder, const std::wstring& name = std::wstring());
// A file, an empty folder, or (recursive) a whole tree, deepest first.
bool DeletePath(const std::wstring& path, bool clearReadOnly, bool recursive);
// Deletes a file the installation does not keep (a download, a partial
// one): never moved aside by a journal, so a rollback does not bring it back.
bool DeleteScratchFile(const std::wstring& path);

enum ListKind { kListFiles = 0, kListFolders = 1, kListAll = 2 };
// Full paths below a folder (or matching a pattern with "*"); folders carry
// a trailing backslash and, when recursive, are followed by their contents.
TextList ListFolder(const std::wstring& folderOrPattern, ListKind kind, bool recursive);
// Full paths of the files matching the mask, then those of the subfolders.
TextList FindFiles(const std::wstring& folder, const std::wstring& mask, bool recursive);

// A file, or a folder tree; stops at the first file that cannot be copied
// (an existing target file counts unless overwrite is set).
bool CopyPath(const std::wstring& source, const std::wstring& target, bool overwrite);
// Renames; a folder going to another volume is copied, then deleted.
bool MovePath(const std::wstring& source, const std::wstring& target);

// Adds an inheritable full-control entry for Authenticated Users to the
// path's access list. A Windows error code, 0 on success (3 for a missing path).
unsigned long GrantAuthenticatedUsers(const std::wstring& path);
// The list GrantAuthenticatedUsers writes: the old one (may be null) with
// the entry merged in; *newAcl is freed with LocalFree. A Windows error code.
unsigned long MergeAuthenticatedUsersEntry(ACL* oldAcl, ACL** newAcl);

}  // namespace orvo
