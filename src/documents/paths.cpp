#include "documents/paths.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>

#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "documents/journal.h"
#include "documents/contained_path.h"
#include "documents/linked_folders.h"

namespace orvo {

namespace {

bool IsDots(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

bool ClearReadOnly(const std::wstring& path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

// A linked folder (junction or symbolic link) is listed but never entered:
// a recursive delete must not reach through it, and a link to an ancestor
// would otherwise never end.
bool IsLinkedFolder(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsLinkedFolder(const std::wstring& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void ListInto(const std::wstring& folderOrPattern, ListKind kind, bool recursive, TextList& out) {
  std::wstring pattern = folderOrPattern.find(L'*') != std::wstring::npos
                             ? folderOrPattern
                             : CombinePath(folderOrPattern, L"*.*");
  size_t slash = pattern.find_last_of(L'\\');
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : pattern.substr(0, slash + 1);
  std::wstring mask = slash == std::wstring::npos ? pattern : pattern.substr(slash + 1);

  WIN32_FIND_DATAW data;
  unique_hfind find(FindFirstFileW(pattern.c_str(), &data));
  if (!find) return;
  do {
    if (IsDots(data.cFileName)) continue;
    std::wstring full = folder + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (kind != kListFiles) out.push_back(full + L'\\');
      if (recursive && !IsLinkedFolder(data)) ListInto(CombinePath(full, mask), kind, recursive, out);
    } else if (kind != kListFolders) {
      out.push_back(full);
    }
  } while (FindNextFileW(find.get(), &data));
}

void FindInto(const std::wstring& folder, const std::wstring& mask, bool recursive, TextList& out) {
  WIN32_FIND_DATAW data;
  std::wstring base = CombinePath(folder);
  {
    unique_hfind find(FindFirstFileW(CombinePath(folder, mask).c_str(), &data));
    if (find) {
      do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(base + data.cFileName);
      } while (FindNextFileW(find.get(), &data));
    }
  }
  if (!recursive) return;
  unique_hfind find(FindFirstFileW(CombinePath(folder, L"*.*").c_str(), &data));
  if (!find) return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDots(data.cFileName) ||
        IsLinkedFolder(data))
      continue;
    FindInto(base + data.cFileName, mask, recursive, out);
  } while (FindNextFileW(find.get(), &data));
}

}  // namespace

std::wstring ParentFolder(const std::wstring& path) {
  std::wstring text = path;
  StripTrailingBackslashes(text);
  size_t slash = text.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash == 0) return std::wstring();
  text.resize(slash);
  StripTrailingBackslashes(text);
  if (!text.empty()) text += L'\\';
  return text;
}

std::wstring LastPathComponent(const std::wstring& path) {
  std::wstring text = path;
  StripTrailingBackslashes(text);
  size_t slash = text.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash == 0) return path;
  return text.substr(slash + 1);
}

std::wstring PathExtension(const std::wstring& path) {
  std::wstring last = LastPathComponent(path);
  size_t dot = last.find_last_of(L'.');
  return dot == std::wstring::npos ? std::wstring() : last.substr(dot);
}

void ChangeExtension(std::wstring& path, const std::wstring& newExtension, bool rename) {
  std::wstring changed = path;
  std::wstring old = PathExtension(path);
  if (!old.empty() && old.size() <= changed.size()) changed.resize(changed.size() - old.size());
  size_t start = newExtension.find_first_not_of(L'.');
  changed += L'.';
  if (start != std::wstring::npos) changed += newExtension.substr(start);
  if (rename) MovePath(path, changed);
  path = changed;
}

std::wstring VolumeRoot(const std::wstring& path) {
  std::wstring root;
  if (IsNetworkPath(path)) {
    std::wstring text = path;
    StripTrailingBackslashes(text);
    text += L'\\';
    size_t server = text.find(L'\\', 2);
    size_t share = server == std::wstring::npos ? server : text.find(L'\\', server + 1);
    if (share != std::wstring::npos) root = text.substr(0, share);
  } else {
    size_t slash = path.find(L'\\');
    if (slash != std::wstring::npos) root = path.substr(0, slash);
  }
  if (!root.empty()) root += L'\\';
  return root;
}

bool IsNetworkPath(const std::wstring& path) { return path.compare(0, 2, L"\\\\") == 0; }

bool IsAbsolutePath(const std::wstring& path) {
  if (IsNetworkPath(path)) {
    size_t slash = path.find_last_of(L'\\');
    return slash != std::wstring::npos && slash > 2 && path.size() >= 5;
  }
  return path.find(L':') == 1;
}

bool IsUsableFolder(const std::wstring& folder) { return IsAbsolutePath(folder); }

std::wstring FoldCase(std::wstring text) {
  if (text.empty()) return text;
  // The invariant upper-case table, as CompareStringOrdinal with
  // ignore-case and the file system use: no locale changes the result.
  int size = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), int(text.size()), nullptr, 0,
                           nullptr, nullptr, 0);
  if (size != int(text.size())) {
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
  }
  LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), int(text.size()), &text[0], size, nullptr,
                nullptr, 0);
  return text;
}

std::wstring PathKey(const std::wstring& path) {
  std::wstring key;
  key.reserve(path.size());
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring component = path.substr(start, end - start);
    // "." and ".." keep their dots: only names lose them.
    if (component != L"." && component != L"..") {
      while (!component.empty() && (component.back() == L'.' || component.back() == L' ')) component.pop_back();
    }
    key += component;
    if (end == path.size()) break;
    key += L'\\';
    start = end + 1;
  }
  return FoldCase(key);
}

bool SamePathKey(const std::wstring& a, const std::wstring& b) {
  return CombinePath(PathKey(a)) == CombinePath(PathKey(b));
}

bool IsStrictlyBelow(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.empty()) return false;
  std::wstring base = CombinePath(PathKey(folder));
  std::wstring key = PathKey(path);
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  // No "..", stream or device below the folder either.
  return key.size() > base.size() && key.compare(0, base.size(), base) == 0 &&
         IsContainedRelativePath(key.substr(base.size()));
}

bool PathExists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring SpecialFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {0};
  HRESULT hr = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (hr == E_INVALIDARG) return std::wstring();
  buffer[MAX_PATH - 1] = 0;
  return std::wstring(buffer);
}

std::wstring TempFileName(const std::wstring& folder) {
  // The system writes folder + "strXXXX.tmp" into the buffer without checking
  // its size everywhere, so a folder that cannot fit is refused up front.
  if (folder.size() > MAX_PATH - 14) return std::wstring();
  wchar_t buffer[MAX_PATH + 1] = {0};
  if (!GetTempFileNameW(folder.c_str(), L"struo", 0, buffer)) return std::wstring();
  return std::wstring(buffer);
}

bool EnsureFolder(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return false;
  if (folder.size() >= MAX_PATH && folder.compare(0, 4, L"\\\\?\\") != 0) {
    // No folder this long can be made through a plain path. The chain is
    // made up to its longest ancestor that can be, in one step: a hostile
    // path of short components would otherwise recurse tens of thousands
    // of levels deep.
    size_t cut = folder.find_last_of(L'\\', MAX_PATH - 2);
    if (cut != std::wstring::npos && cut > 0) EnsureFolder(folder.substr(0, cut + 1));
    return name.empty();
  }
  if (!IsFolder(folder)) EnsureFolder(ParentFolder(folder), LastPathComponent(folder));
  if (name.empty()) return true;
  // Never a folder made through a link: the elevated actions create here.
  if (!LinkOnTheWay(folder).empty()) return false;
  // CombinePath rather than plain concatenation: a folder given without
  // its trailing backslash must not fuse with the name.
  std::wstring created = CombinePath(folder, name);
  if (!CreateDirectoryW(created.c_str(), nullptr)) return false;
  Journal::Active().FolderCreated(created);
  return true;
}

bool DeletePath(const std::wstring& path, bool clearReadOnly, bool recursive) {
  // A link above the path would lead the deletion elsewhere; the path's own
  // link goes alone below.
  if (!LinkOnTheWay(ParentFolder(path)).empty()) return false;
  if (IsFolder(path)) {
    if (!recursive || IsLinkedFolder(path)) return RemoveDirectoryW(path.c_str()) != 0;
    TextList folders = ListFolder(path, kListFolders, true);
    folders.insert(folders.begin(), path);
    for (size_t i = folders.size(); i-- > 0;) {
      const std::wstring& folder = folders[i];
      // A link's target is not ours to empty: the link alone goes.
      if (i > 0 && IsLinkedFolder(folder)) {
        RemoveDirectoryW(folder.c_str());
        continue;
      }
      TextList files = ListFolder(folder, kListFiles, false);
      // Deleting first: only a refused file is asked whether it is read-only.
      for (size_t j = files.size(); j-- > 0;) {
        if (!DeleteFileW(files[j].c_str()) && clearReadOnly && ClearReadOnly(files[j])) DeleteFileW(files[j].c_str());
      }
      if (i > 0) RemoveDirectoryW(folder.c_str());
    }
    return RemoveDirectoryW(path.c_str()) != 0;
  }
  // Inside a journaled action a deleted file is moved aside, to come back
  // if the installation rolls back.
  if (Journal::Active().MoveAside(path)) return true;
  if (clearReadOnly) ClearReadOnly(path);
  return DeleteFileW(path.c_str()) != 0;
}

bool DeleteScratchFile(const std::wstring& path) {
  if (!LinkOnTheWay(ParentFolder(path)).empty() || IsFolder(path)) return false;
  ClearReadOnly(path);
  return DeleteFileW(path.c_str()) != 0;
}

TextList ListFolder(const std::wstring& folderOrPattern, ListKind kind, bool recursive) {
  TextList out;
  ListInto(folderOrPattern, kind, recursive, out);
  return out;
}

TextList FindFiles(const std::wstring& folder, const std::wstring& mask, bool recursive) {
  TextList out;
  FindInto(folder, mask, recursive, out);
  return out;
}

bool CopyPath(const std::wstring& source, const std::wstring& target, bool overwrite) {
  if (!IsFolder(source)) {
    EnsureFolder(ParentFolder(target));
    if (!LinkOnTheWay(target).empty()) return false;
    return CopyFileW(source.c_str(), target.c_str(), overwrite ? FALSE : TRUE) != 0;
  }
  TextList folders = ListFolder(source, kListFolders, true);
  if (IndexOfText(folders, source) < 0) folders.push_back(source);
  // Target folders are the source's prefix exchanged for the target's; only
  // the prefix, so a folder deeper down that repeats the source's text is
  // not rewritten, and a trailing backslash on either side does not matter.
  std::wstring sourceBase = source;
  std::wstring targetBase = target;
  StripTrailingBackslashes(sourceBase);
  StripTrailingBackslashes(targetBase);
  for (size_t i = folders.size(); i-- > 0;) {
    const std::wstring& folder = folders[i];
    if (folder.compare(0, sourceBase.size(), sourceBase) != 0) return false;
    std::wstring targetFolder = CombinePath(targetBase + folder.substr(sourceBase.size()));
    if (!IsFolder(targetFolder)) {
      EnsureFolder(targetFolder);
      if (!IsFolder(targetFolder)) return false;
    }
    TextList files = ListFolder(folder, kListFiles, false);
    for (size_t j = files.size(); j-- > 0;) {
      if (!CopyPath(files[j], CombinePath(targetFolder, LastPathComponent(files[j])), overwrite))
        return false;
    }
  }
  return true;
}

bool MovePath(const std::wstring& source, const std::wstring& target) {
  if (IsFolder(source) && VolumeRoot(target) != VolumeRoot(source)) {
    if (!CopyPath(source, target, false)) return false;
    DeletePath(source, true, true);
    return true;
  }
  return MoveFileW(source.c_str(), target.c_str()) != 0;
}

unsigned long MergeAuthenticatedUsersEntry(ACL* oldAcl, ACL** newAcl) {
  *newAcl = nullptr;
  // A grant that could not be attempted is reported as a failure, never
  // as success: the callers log it.
  DWORD sidSize = SECURITY_MAX_SID_SIZE;
  unique_hlocal sidOwner(LocalAlloc(LMEM_FIXED, sidSize));
  if (!sidOwner) {
    std::fprintf(stderr, "Could not allocate memory.\n");
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  PSID sid = sidOwner.get();
  if (!CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, sid, &sidSize)) {
    DWORD error = GetLastError();
    std::fprintf(stderr, "CreateWellKnownSid Error %lu", error);
    return error ? error : ERROR_INVALID_SID;
  }
  LPWSTR sidText = nullptr;
  if (!ConvertSidToStringSidW(sid, &sidText)) {
    DWORD error = GetLastError();
    std::fprintf(stderr, "Error during ConvertSidToStringSid.\n");
    return error ? error : ERROR_INVALID_SID;
  }
  LocalFree(sidText);

  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(sid);
  DWORD result = SetEntriesInAclW(1, &access, oldAcl, newAcl);
  if (result != ERROR_SUCCESS) {
    std::printf("SetEntriesInAcl Error %lu\n", result);
    *newAcl = nullptr;
  }
  return result;
}

unsigned long GrantAuthenticatedUsers(const std::wstring& path) {
  if (!PathExists(path)) return ERROR_PATH_NOT_FOUND;

  PACL oldAcl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD result = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, &oldAcl, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) {
    std::printf("GetNamedSecurityInfo Error %lu\n", result);
    return result;
  }
  unique_hlocal descriptorOwner(descriptor);

  PACL newAcl = nullptr;
  result = MergeAuthenticatedUsersEntry(oldAcl, &newAcl);
  if (result != ERROR_SUCCESS) return result;
  unique_hlocal newAclOwner(newAcl);

  std::wstring writable = path;
  result = SetNamedSecurityInfoW(&writable[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, newAcl, nullptr);
  if (result != ERROR_SUCCESS) {
    std::printf("SetNamedSecurityInfo Error %lu\n", result);
    return result;
  }
  return 0;
}

}  // namespace orvo
