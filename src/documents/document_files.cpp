#include "documents/document_files.h"

#include <aclapi.h>

#include <algorithm>

#include "documents/paths.h"

namespace orvo {

namespace {
long long g_failAfter = -1;
constexpr size_t kBufferSize = 64 * 1024;
}  // namespace

bool IsExistingFile(const std::wstring& path) { return PathExists(path) && !IsFolder(path); }

void PendingFile::FailWritesAfterForTesting(long long bytes) { g_failAfter = bytes; }

PendingFile::PendingFile(const std::wstring& target) : target_(target) {}

PendingFile::~PendingFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  if (!committed_ && !temporary_.empty()) DeleteFileW(temporary_.c_str());
}

bool PendingFile::Open() {
  std::wstring folder = ParentFolder(target_);
  if (folder.empty()) folder = L".\\";
  wchar_t name[MAX_PATH + 1] = {};
  if (!GetTempFileNameW(folder.c_str(), L"~xd", 0, name)) {
    error_ = GetLastError();
    return false;
  }
  temporary_ = name;
  file_ = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    error_ = GetLastError();
    return false;
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
  if (error_ || file_ == INVALID_HANDLE_VALUE) return;
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
  size_t size = buffer_.size();
  bool full = false;
  if (g_failAfter >= 0 && written_ + static_cast<long long>(size) > g_failAfter) {
    size = static_cast<size_t>(std::max(0LL, g_failAfter - written_));
    full = true;
  }
  DWORD done = 0;
  if (size > 0 && (!WriteFile(file_, buffer_.data(), static_cast<DWORD>(size), &done, nullptr) || done != size)) {
    error_ = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    return;
  }
  written_ += static_cast<long long>(size);
  if (full) {
    error_ = ERROR_DISK_FULL;
    return;
  }
  buffer_.clear();
}

bool PendingFile::Finish() {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  WriteBuffer();
  if (!error_ && !FlushFileBuffers(file_)) error_ = GetLastError();
  if (!CloseHandle(file_) && !error_) error_ = GetLastError();
  file_ = INVALID_HANDLE_VALUE;
  return error_ == 0;
}

bool PendingFile::Commit() {
  if (error_ || temporary_.empty() || file_ != INVALID_HANDLE_VALUE) return false;
  const wchar_t* target = target_.c_str();
  const wchar_t* temporary = temporary_.c_str();
  if (IsExistingFile(target_)) {
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
      if (dacl) SetNamedSecurityInfoW(const_cast<wchar_t*>(temporary), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
      LocalFree(descriptor);
    }
    if (ReplaceFileW(target, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      committed_ = true;
      return true;
    }
    error_ = GetLastError();
    // Only when the old file is already gone does the new one take its place.
    if (IsExistingFile(target_) || !IsExistingFile(temporary_)) return false;
    error_ = 0;
  }
  if (!MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = GetLastError();
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace orvo
