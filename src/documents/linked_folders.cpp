#include "documents/linked_folders.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>

#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "documents/paths.h"

namespace orvo {

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

std::wstring ProfileImagePath(HKEY list, const std::wstring& sid) {
  wchar_t buffer[MAX_PATH] = {0};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  // REG_SZ asked for: a REG_EXPAND_SZ value comes expanded.
  if (RegGetValueW(list, sid.c_str(), L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return std::wstring();
  std::wstring path(buffer);
  return IsAbsolutePath(path) ? CombinePath(path) : std::wstring();
}

std::wstring AccountName(const std::wstring& sidText) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(sidText.c_str(), &sid)) return std::wstring();
  unique_hlocal owner(sid);
  wchar_t name[256] = {0}, domain[256] = {0};
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) return std::wstring();
  return name;
}

// The paths of the components below the volume root, outermost first.
std::vector<std::wstring> ComponentPaths(const std::wstring& path) {
  std::vector<std::wstring> walked;
  std::wstring text = path;
  std::replace(text.begin(), text.end(), L'/', L'\\');
  std::wstring root = VolumeRoot(text);
  if (text.compare(0, 4, L"\\\\?\\") == 0) root = text.substr(0, std::min<size_t>(text.size(), 7));
  if (root.empty()) return walked;
  size_t start = root.size();
  while (start < text.size()) {
    size_t end = text.find(L'\\', start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) walked.push_back(text.substr(0, end));
    start = end + 1;
  }
  return walked;
}

}  // namespace

std::wstring LinkOnTheWay(const std::wstring& path) {
  for (const auto& walked : ComponentPaths(path)) {
    DWORD attributes = GetFileAttributesW(walked.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::wstring();
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return walked;
  }
  return std::wstring();
}

unique_hfile OpenUnlinked(const std::wstring& path, unsigned long access, unsigned long share, bool& link,
                          unsigned long& attributes) {
  link = false;
  attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return unique_hfile();
  link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (link) return unique_hfile();
  unique_hfile handle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return handle;
  // The basic record only: the full one also asks for the name, which
  // costs a lookup of its own per folder.
  FILE_BASIC_INFO info{};
  if (GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &info, sizeof info)) attributes = info.FileAttributes;
  link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (link) handle.reset();
  return handle;
}

std::wstring PinnedFolders::Pin(const std::wstring& folder) {
  std::vector<std::wstring> components = ComponentPaths(folder);
  size_t i = 0;
  for (; i < components.size(); ++i) {
    std::wstring key = PathKey(components[i]);
    if (i < pins_.size() && pins_[i].key == key) continue;
    pins_.resize(i);
    bool link = false;
    unsigned long attributes = 0;
    unique_hfile handle = OpenUnlinked(components[i], FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, link,
                                       attributes);
    if (link) return components[i];
    if (!handle) return std::wstring();
    pins_.push_back({key, std::move(handle)});
  }
  pins_.resize(std::min(pins_.size(), i));
  return std::wstring();
}

bool PinnedFolders::Holds(const std::wstring& folder) const {
  std::vector<std::wstring> components = ComponentPaths(folder);
  return !components.empty() && components.size() <= pins_.size() &&
         pins_[components.size() - 1].key == PathKey(components.back());
}

void PinnedFolders::Release(const std::wstring& folder) {
  std::vector<std::wstring> components = ComponentPaths(folder);
  if (components.empty()) return;
  size_t depth = components.size() - 1;
  if (depth < pins_.size() && pins_[depth].key == PathKey(components.back())) pins_.resize(depth);
}

std::wstring RecordedProfileFolder(const std::wstring& userName) {
  if (userName.empty()) return std::wstring();
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::wstring();
  unique_hkey list(opened);
  std::wstring byName;
  wchar_t sid[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = 256;
    if (RegEnumKeyExW(list.get(), i, sid, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::wstring folder = ProfileImagePath(list.get(), sid);
    if (folder.empty()) continue;
    std::wstring account = AccountName(sid);
    if (!account.empty()) {
      if (FoldCase(account) == FoldCase(userName)) return folder;
    } else if (byName.empty() && FoldCase(LastPathComponent(folder)) == FoldCase(userName)) {
      byName = folder;
    }
  }
  return byName;
}

}  // namespace orvo
