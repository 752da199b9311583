#include "file_io.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace orvo::cab {

FilePtr OpenFile(const std::string& utf8Path, const char* mode) {
#ifdef _WIN32
  std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
  return FilePtr(_wfopen(std::filesystem::u8path(utf8Path).c_str(), wmode.c_str()));
#else
  return FilePtr(std::fopen(utf8Path.c_str(), mode));
#endif
}

bool RemoveFile(const std::string& utf8Path) {
  std::error_code ec;
  return std::filesystem::remove(std::filesystem::u8path(utf8Path), ec);
}

bool FileSize(const std::string& utf8Path, uint64_t* size) {
  std::error_code ec;
  auto p = std::filesystem::u8path(utf8Path);
  if (!std::filesystem::is_regular_file(p, ec)) return false;
  uintmax_t n = std::filesystem::file_size(p, ec);
  if (ec) return false;
  if (size) *size = n;
  return true;
}

bool OpenedFileSize(std::FILE* file, uint64_t* size) {
#ifdef _WIN32
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || !(info.st_mode & _S_IFREG)) return false;
#else
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
#endif
  *size = uint64_t(info.st_size);
  return true;
}

}  // namespace orvo::cab
