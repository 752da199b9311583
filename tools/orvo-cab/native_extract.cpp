#include "native_extract.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "cab_decoder.h"
#include "decoder_io.h"
#include "documents/contained_path.h"

namespace orvo::cabtool {
namespace {

namespace fs = std::filesystem;

struct Run {
  fs::path root;
  bool verbose = false;
  NativeExtractResult* result = nullptr;
  fs::path unfinished;  // opened for the decoder, its data not all written yet
};
Run* current = nullptr;

std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = text[i];
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > text.size()) {
      out += L'\xFFFD';
      ++i;
      continue;
    }
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (uint8_t(text[i + k]) & 0x3F);
    out += wchar_t(cp);
    i += len;
  }
  return out;
}

std::string LastComponent(const std::string& name) {
  size_t last = name.find_last_of("\\/");
  return last == std::string::npos ? name : name.substr(last + 1);
}

fs::path TargetOf(const char* storedName) {
  std::string relative = storedName;
  for (auto& c : relative) {
    if (c == '\\') c = '/';
  }
  return current->root / fs::u8path(relative);
}

void RestoreTimeAndMode(const fs::path& path, uint16_t date, uint16_t time, uint16_t attributes) {
  std::tm local{};
  local.tm_year = 80 + (date >> 9);
  local.tm_mon = ((date >> 5) & 15) - 1;
  local.tm_mday = date & 31;
  local.tm_hour = time >> 11;
  local.tm_min = (time >> 5) & 63;
  local.tm_sec = (time & 31) * 2;
  local.tm_isdst = -1;
  std::time_t t = std::mktime(&local);
  if (t != std::time_t(-1)) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_NOW;  // the access time is not restored
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  if (attributes & 0x01) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
  }
}

intptr_t Notify(cab::NotificationType type, cab::Notification* record) {
  NativeExtractResult& result = *current->result;
  switch (type) {
    case cab::kCopyFile: {
      if (!IsContainedRelativePath(Widen(record->text1))) {
        std::fprintf(stderr, "orvo-cab: refused '%s': its path is not inside the target folder\n", record->text1);
        ++result.refused;
        return 0;
      }
      fs::path target = TargetOf(record->text1);
      std::error_code ec;
      fs::create_directories(target.parent_path(), ec);
      if (ec) {
        result.error = "cannot create folder " + target.parent_path().u8string() + ": " + ec.message();
        return -1;
      }
      // A read-only file from an earlier extraction is replaced all the same.
      if (fs::exists(target, ec)) {
        fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
      }
      std::FILE* file = std::fopen(target.c_str(), "wb");
      if (!file) {
        std::fprintf(stderr, "orvo-cab: cannot write %s: %s\n", target.c_str(), std::strerror(errno));
        ++result.failed;
        return 0;
      }
      current->unfinished = target;
      return reinterpret_cast<intptr_t>(file);
    }
    case cab::kCloseFileInfo: {
      current->unfinished.clear();
      fs::path target = TargetOf(record->text1);
      bool closed = std::fclose(reinterpret_cast<std::FILE*>(record->fd)) == 0;
      if (!closed) {
        std::fprintf(stderr, "orvo-cab: cannot write %s\n", target.c_str());
        ++result.failed;
        return 1;
      }
      if (LastComponent(record->text1) == "empty.dir") {
        std::error_code ec;
        fs::remove(target, ec);
        return 1;
      }
      RestoreTimeAndMode(target, record->date, record->time, record->attributes);
      ++result.written;
      if (current->verbose) std::printf("  %s\n", target.c_str());
      return 1;
    }
    case cab::kPartialFile:
      std::fprintf(stderr, "orvo-cab: skipping %s: it starts in cabinet %s\n", record->text1, record->text2);
      return 0;
    case cab::kNextCabinet:
      if (current->verbose) std::printf("  continuing in %s%s\n", record->text3, record->text1);
      return 0;
    default:
      return 0;
  }
}

}  // namespace

bool ExtractStoredNames(const std::string& cabinetPath, const std::string& folder, bool verbose,
                        NativeExtractResult* result) {
  Run run;
  run.root = fs::u8path(folder);
  run.verbose = verbose;
  run.result = result;
  current = &run;
  std::string cabinetFolder, name = cabinetPath;
  size_t last = cabinetPath.find_last_of('/');
  if (last != std::string::npos) {
    cabinetFolder = cabinetPath.substr(0, last + 1);
    name = cabinetPath.substr(last + 1);
  }
  cab::ErrorRecord error;
  cab::Context* context = cab::Create(StreamCallbacks(), 1, &error);
  if (!context) {
    result->error = "out of memory";
    return false;
  }
  bool copied = cab::Copy(context, name.c_str(), cabinetFolder.c_str(), 0, Notify, nullptr, nullptr);
  cab::Destroy(context);
  // A file cut off by the failure must not stay as if it were whole.
  if (!copied && !run.unfinished.empty()) {
    std::error_code ec;
    fs::remove(run.unfinished, ec);
  }
  current = nullptr;
  if (!copied && result->error.empty()) result->error = "decoding failed with code " + std::to_string(error.code);
  return copied;
}

}  // namespace orvo::cabtool
#endif
