#include "floor_writer.h"

#include <algorithm>
#include <set>

#include "support/test_files.h"

namespace orvo::bench {
namespace {

// Every folder of the set below the target, parents before children.
std::vector<std::wstring> Folders(const std::vector<FloorFile>& files, const std::wstring& target) {
  std::set<std::wstring> found;
  for (const auto& file : files) {
    for (size_t slash = file.relative.find(L'\\'); slash != std::wstring::npos;
         slash = file.relative.find(L'\\', slash + 1))
      found.insert(target + file.relative.substr(0, slash));
  }
  std::vector<std::wstring> folders(found.begin(), found.end());
  std::sort(folders.begin(), folders.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() < b.size(); });
  return folders;
}

}  // namespace

std::vector<FloorFile> ReadFloorFiles(const std::wstring& folder) {
  std::vector<FloorFile> files;
  for (auto& [relative, bytes] : test::ReadTree(folder)) {
    FloorFile file;
    file.relative = relative;
    file.bytes = std::move(bytes);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW((folder + relative).c_str(), GetFileExInfoStandard, &data))
      file.written = data.ftLastWriteTime;
    files.push_back(std::move(file));
  }
  return files;
}

bool WriteFloor(const std::vector<FloorFile>& files, const std::wstring& target) {
  CreateDirectoryW(target.c_str(), nullptr);
  for (const auto& folder : Folders(files, target)) {
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  for (const auto& file : files) {
    std::wstring path = target + file.relative;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(handle, file.bytes.data(), DWORD(file.bytes.size()), &written, nullptr) &&
              written == file.bytes.size();
    ok = SetFileTime(handle, &file.written, nullptr, &file.written) && ok;
    CloseHandle(handle);
    if (!ok || !SetFileAttributesW(path.c_str(), file.attributes)) return false;
  }
  return true;
}

bool RemoveFloor(const std::vector<FloorFile>& files, const std::wstring& target) {
  bool ok = true;
  for (const auto& file : files) ok = DeleteFileW((target + file.relative).c_str()) && ok;
  auto folders = Folders(files, target);
  for (size_t i = folders.size(); i-- > 0;) ok = RemoveDirectoryW(folders[i].c_str()) && ok;
  return RemoveDirectoryW(target.c_str()) && ok;
}

}  // namespace orvo::bench
