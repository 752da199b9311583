// stdio on UTF-8 paths, on every platform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace orvo::cab {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenFile(const std::string& utf8Path, const char* mode);
bool RemoveFile(const std::string& utf8Path);
// Size of a regular file, or nothing; `size` may be null to ask only
// whether it is one.
bool FileSize(const std::string& utf8Path, uint64_t* size);
// The same for a file already open: no second lookup of its path.
bool OpenedFileSize(std::FILE* file, uint64_t* size);

}  // namespace orvo::cab
