#include "documents/document_files.h"

#include <aclapi.h>

#include <algorithm>

#include "documents/paths.h"
#include "documents/journal.h"

namespace orvo {

namespace {

long long g_failAfter = -1;
constexpr size_t kBufferSize = 64 * 1024;
constexpr int kTemporaryNames = 8;

// Writes bytes at the file's current position; `limit` (negative: none) is
// the fault injection's budget for this write.
bool WriteAll(HANDLE file, const char* data, size_t size, long long limit, DWORD& error) {
  bool full = limit >= 0 && static_cast<long long>(size) > limit;
  if (full) size = static_cast<size_t>(limit);
  while (size > 0) {
    DWORD done = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
    if (!WriteFile(file, data, chunk, &done, nullptr) || done == 0) {
      error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
      return false;
    }
    data += done;
    size -= done;
  }
  if (full) {
    error = ERROR_DISK_FULL;
    return false;
  }
  return true;
}

}  // namespace

bool IsExistingFile(const std::wstring& path) { return PathExists(path) && !IsFolder(path); }

void PendingFile::FailWritesAfterForTesting(long long bytes) { g_failAfter = bytes; }

PendingFile::PendingFile(const std::wstring& target) : target_(target) {}

PendingFile::~PendingFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  if (!committed_ && !temporary_.empty()) DeleteFileW(temporary_.c_str());
}

bool PendingFile::Open() {
  // Beside the target under its own name, so that a file left by a killed
  // process is found and removed on the next save; one still open elsewhere
  // is passed over. Whatever stands at the name (a leftover, or a link that
  // someone planted in a folder every user may write to) is deleted, never
  // opened: the content goes only into a file this save created itself.
  for (int attempt = 0; attempt < kTemporaryNames && file_ == INVALID_HANDLE_VALUE; ++attempt) {
    std::wstring name = target_ + L".~" + std::to_wstring(attempt);
    DeleteFileW(name.c_str());
    file_ = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) temporary_ = name;
  }
  if (file_ == INVALID_HANDLE_VALUE) {
    // No file can be made beside the target (no right to create files in
    // the folder, or every name taken): the content is gathered in memory
    // and written over the target only once it is complete.
    inPlace_ = true;
  }
  buffer_.reserve(kBufferSize);
  return true;
}

void PendingFile::Append(const void* bytes, size_t count) {
  const char* data = static_cast<const char*>(bytes);
  if (!crLf_) {
    Store(data, count);
    return;
  }
  for (size_t i = 0; i < count; ++i, ++offset_) {
    if (offset_ % 2 == 0) {
      lowByte_ = static_cast<unsigned char>(data[i]);
      continue;
    }
    unsigned char high = static_cast<unsigned char>(data[i]);
    if (lowByte_ == '\n' && high == 0 && !lastWasCr_) Store("\r\0", 2);
    lastWasCr_ = lowByte_ == '\r' && high == 0;
    const char unit[2] = {static_cast<char>(lowByte_), static_cast<char>(high)};
    Store(unit, 2);
  }
}

void PendingFile::Store(const char* data, size_t count) {
  if (error_) return;
  if (inPlace_) {
    buffer_.append(data, count);
    return;
  }
  if (file_ == INVALID_HANDLE_VALUE) return;
  while (count > 0) {
    size_t take = std::min(count, kBufferSize - buffer_.size());
    buffer_.append(data, take);
    data += take;
    count -= take;
    if (buffer_.size() == kBufferSize) WriteBuffer();
    if (error_) return;
  }
}

void PendingFile::WriteBuffer() {
  if (error_ || buffer_.empty()) return;
  long long limit = g_failAfter >= 0 ? std::max(0LL, g_failAfter - written_) : -1;
  if (!WriteAll(file_, buffer_.data(), buffer_.size(), limit, error_)) return;
  written_ += static_cast<long long>(buffer_.size());
  buffer_.clear();
}

bool PendingFile::Finish() {
  if (inPlace_) return error_ == 0;
  if (file_ == INVALID_HANDLE_VALUE) return false;
  WriteBuffer();
  if (!error_ && !FlushFileBuffers(file_)) error_ = GetLastError();
  if (!CloseHandle(file_) && !error_) error_ = GetLastError();
  file_ = INVALID_HANDLE_VALUE;
  return error_ == 0;
}

bool PendingFile::Commit() {
  if (error_ || file_ != INVALID_HANDLE_VALUE) return false;
  // Inside a journaled action the document as it was is kept for a rollback.
  Journal::Active().KeepCopy(target_);
  if (inPlace_) return CommitInPlace();
  if (temporary_.empty()) return false;
  const wchar_t* target = target_.c_str();
  const wchar_t* temporary = temporary_.c_str();
  if (PathExists(target_)) {
    // The replaced file's access list stays with the path (the application
    // index carries a grant of its own).
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(target, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) == ERROR_SUCCESS) {
      SECURITY_DESCRIPTOR_CONTROL control = 0;
      DWORD revision = 0;
      GetSecurityDescriptorControl(descriptor, &control, &revision);
      SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                                                   ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
      if (dacl)
        SetNamedSecurityInfoW(const_cast<wchar_t*>(temporary), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
      LocalFree(descriptor);
    }
    if (ReplaceFileW(target, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      committed_ = true;
      return true;
    }
    error_ = GetLastError();
    // Only when the old file is already gone does the new one take its place.
    if (PathExists(target_) || !PathExists(temporary_)) return false;
    error_ = 0;
  }
  if (!MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = GetLastError();
    return false;
  }
  committed_ = true;
  return true;
}

bool PendingFile::CommitInPlace() {
  HANDLE file = CreateFileW(target_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = GetLastError();
    return false;
  }
  // The old content is kept to be put back if the new one cannot be written.
  std::string old;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) old.append(chunk, got);
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  bool written = WriteAll(file, buffer_.data(), buffer_.size(), g_failAfter, error_) && SetEndOfFile(file) &&
                 FlushFileBuffers(file);
  if (!written) {
    if (!error_) error_ = GetLastError();
    DWORD restoreError = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    if (WriteAll(file, old.data(), old.size(), -1, restoreError)) SetEndOfFile(file);
    FlushFileBuffers(file);
  }
  CloseHandle(file);
  committed_ = written;
  return written;
}

}  // namespace orvo
