// The floor of file installation and removal: a plain Win32 writer of the
// same files with their times and attributes, and the deletion of them, so
// the benchmark can tell the library's own cost from the file system's.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace orvo::bench {

struct FloorFile {
  std::wstring relative;  // "\" separators
  std::string bytes;
  FILETIME written{};
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

// Every file below the folder, read before any timing starts.
std::vector<FloorFile> ReadFloorFiles(const std::wstring& folder);
// Creates each folder once, then per file: CreateFileW, WriteFile,
// SetFileTime, CloseHandle, SetFileAttributesW. False on any failure.
bool WriteFloor(const std::vector<FloorFile>& files, const std::wstring& target);
// Deletes the files, then the folders, deepest first.
bool RemoveFloor(const std::vector<FloorFile>& files, const std::wstring& target);

}  // namespace orvo::bench
