#include "action/install_log.h"

#include <memory>

#include "action/installer_session.h"

namespace orvo {
namespace {

struct KeptFile {
  std::wstring path;
  StruoIoFile file;
};

std::unique_ptr<KeptFile>& Kept() {
  static std::unique_ptr<KeptFile> kept;
  return kept;
}

}  // namespace

HRESULT StruoIoFile::Open(const std::wstring& path, DWORD access, DWORD disposition) {
  file_.reset(CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return HRESULT_FROM_WIN32(GetLastError());
  LARGE_INTEGER size{};
  fileSize_ = GetFileSizeEx(file_.get(), &size) ? uint64_t(size.QuadPart) : 0;
  position_ = 0;
  isUnicode_ = false;
  if ((access & GENERIC_READ) && fileSize_ > 0) {
    BYTE head[256];
    DWORD want = DWORD(fileSize_ < sizeof(head) ? fileSize_ : sizeof(head));
    DWORD got = 0;
    if (ReadFile(file_.get(), head, want, &got, nullptr) && got > 0) {
      isUnicode_ = IsTextUnicode(head, int(got), nullptr) != FALSE;
    }
    SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN);
  }
  charSize_ = isUnicode_ ? 2 : 1;
  return S_OK;
}

bool StruoIoFile::ReadLine(std::wstring& line) {
  if (!file_ || position_ >= fileSize_) return false;
  line.clear();
  for (;;) {
    BYTE c[2] = {0, 0};
    DWORD got = 0;
    if (!ReadFile(file_.get(), c, DWORD(charSize_), &got, nullptr) || got == 0) break;
    position_ += got;
    wchar_t ch = charSize_ == 2 ? wchar_t(c[0] | (c[1] << 8)) : wchar_t(c[0]);
    if (ch == L'\n') break;
    line += ch;
    if (position_ >= fileSize_) break;
  }
  return true;
}

bool StruoIoFile::Write(const std::wstring& text) {
  if (!file_) return false;
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (wchar_t ch : text) {
    bytes += char(ch & 0xFF);
    bytes += char((ch >> 8) & 0xFF);
  }
  DWORD written = 0;
  return WriteFile(file_.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
}

void InstallLog::OpenLog(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    {
      StruoIoFile existing;
      if (existing.Open(path, GENERIC_READ, OPEN_EXISTING) == S_OK && existing.isUnicode()) return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveDirectoryW(path.c_str());
    } else {
      SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      DeleteFileW(path.c_str());
    }
  }
  StruoIoFile created;
  if (created.Open(path, GENERIC_WRITE, CREATE_ALWAYS) != S_OK) return;
  static const BYTE bom[2] = {0xFF, 0xFE};
  DWORD written = 0;
  WriteFile(created.handle(), bom, 2, &written, nullptr);
}

void InstallLog::WriteRecord(const std::wstring& path, const std::wstring& text) {
  if (path.empty()) return;
  if (KeptFile* kept = Kept().get(); kept && kept->path == path) {
    kept->file.Write(text + L"\r\n");
    return;
  }
  StruoIoFile file;
  if (file.Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS) != S_OK) return;
  SetFilePointer(file.handle(), 0, nullptr, FILE_END);
  file.Write(text + L"\r\n");
}

std::wstring InstallLog::ResolveLogPath(const std::wstring& name) {
  bool unc = name.size() >= 5 && name[0] == L'\\' && name[1] == L'\\' && name.find_last_of(L'\\') > 2;
  bool drive = name.find(L':') == 1;
  if (unc || drive) return name;
  return CombinePath(TempFolder(), name);
}

KeptLog::KeptLog() {
  const std::wstring& path = InstallLog::CurrentPath();
  if (Kept() || path.empty()) return;
  auto kept = std::make_unique<KeptFile>();
  kept->path = path;
  // Held as every record holds it; a file that cannot be had now is
  // written record by record, as without a kept log.
  if (kept->file.Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS) != S_OK) return;
  SetFilePointer(kept->file.handle(), 0, nullptr, FILE_END);
  Kept() = std::move(kept);
  owner_ = true;
}

KeptLog::~KeptLog() {
  if (owner_) Kept().reset();
}

const std::wstring& InstallLog::CurrentPath() { return InstallerSession::Instance().logPath(); }

}  // namespace orvo
