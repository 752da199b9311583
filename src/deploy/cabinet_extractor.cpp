#include "deploy/cabinet_extractor.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdio>
#include <unordered_set>

#include "action/install_log.h"
#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "cab_decoder.h"
#include "documents/linked_folders.h"
#include "documents/contained_path.h"
#include "documents/journal.h"
#include "deploy/deployment_state.h"

namespace orvo {
namespace {

constexpr size_t kNarrowBuffer = 260;  // bytes, the terminating NUL included
constexpr size_t kIndexKeyColumns = 38;
// Far above what the lines of a cabinet set's files take up; a bigger index
// is hostile and would take hours to read a character at a time.
constexpr uint64_t kMaxIndexFileBytes = 16u << 20;
const wchar_t kIndexFileName[] = L"IndexFile.dat";
const wchar_t kPlaceholderName[] = L"empty.dir";

struct ExtractorState {
  ExtractHandler handler;
  ExtractNaming naming = ExtractNaming::kIndexFile;
  std::wstring indexFilePath;
  std::map<std::wstring, std::wstring> indexMap;
  std::string destination;  // UTF-8, with one trailing backslash
  std::wstring destinationWide;
  std::wstring lastFolder;
  // Folders this extraction made or found: each is created once.
  std::unordered_set<std::wstring> knownFolders;
  // The current folder's way, held from its check to the folder's last file.
  PinnedFolders pins;
  std::wstring linkOnTheWay;  // of the current folder, when it has one
  std::wstring currentTarget;
  // The file handed to the decoder whose data has not all come yet.
  std::wstring unfinishedTarget;
  bool closedDescriptor = false;  // the close notification closed the file
  size_t heapInUse = 0;
  size_t heapPeak = 0;
  bool diagnostics = true;
};

ExtractorState& State() {
  static ExtractorState state;
  return state;
}

bool& AbortRequested() { return DeploymentState::Instance().abortRequested; }

template <class... A>
int Send(int code, std::wstring_view format, const A&... args) {
  const ExtractHandler& handler = State().handler;
  if constexpr (sizeof...(A) == 0) {
    return handler(code, format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return handler(code, format, list, sizeof...(A));
  }
}

// A cancel answer to any message of the extraction stops it at its next step.
void NoteAnswer(int answer) {
  if (answer == 2) AbortRequested() = true;
}

std::wstring WithoutTrailingSeparators(std::wstring text) {
  while (!text.empty() && text.back() == L'\\') text.pop_back();
  return text;
}

// The folder of a path with one trailing backslash; empty without a backslash.
std::wstring FolderOf(const std::wstring& path) {
  std::wstring trimmed = WithoutTrailingSeparators(path);
  size_t last = trimmed.find_last_of(L'\\');
  if (last == std::wstring::npos) return std::wstring();
  return trimmed.substr(0, last + 1);
}

std::wstring LastComponent(const std::wstring& path) {
  size_t last = path.find_last_of(L'\\');
  return last == std::wstring::npos ? path : path.substr(last + 1);
}

bool IsWhiteSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

// Target of a stored name; `refused` tells a path that was there but unsafe.
std::wstring ResolveStoredName(const std::string& storedName, std::wstring* refused) {
  ExtractorState& state = State();
  std::wstring name = Utf8ToWide(storedName.c_str());
  std::wstring relative;
  if (state.naming == ExtractNaming::kStoredNames) {
    relative = name;
  } else {
    auto it = state.indexMap.find(name);
    if (it == state.indexMap.end()) {
      return name == kIndexFileName ? state.indexFilePath : std::wstring();
    }
    relative = it->second;
  }
  if (name.empty() && relative.empty()) return std::wstring();
  if (!IsContainedRelativePath(relative)) {
    if (refused) *refused = relative;
    return std::wstring();
  }
  // Both separators mean the same to the system; the folder steps look for "\".
  for (auto& c : relative) {
    if (c == L'/') c = L'\\';
  }
  return CombinePath(state.destinationWide, relative);
}

// ---- decoder callbacks ----

void* HeapAllocate(uint32_t size) {
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  if (block) {
    ExtractorState& state = State();
    state.heapInUse += HeapSize(GetProcessHeap(), 0, block);
    if (state.heapInUse > state.heapPeak) state.heapPeak = state.heapInUse;
  }
  return block;
}

void HeapRelease(void* block) {
  if (!block) return;
  ExtractorState& state = State();
  size_t size = HeapSize(GetProcessHeap(), 0, block);
  state.heapInUse = size <= state.heapInUse ? state.heapInUse - size : 0;
  HeapFree(GetProcessHeap(), 0, block);
}

cab::Descriptor FileOpen(const char* utf8Path, int flags, int mode) {
  std::wstring path = Utf8ToWide(utf8Path);
  if (path.empty()) return -1;
  return _wsopen(path.c_str(), flags, _SH_DENYNO, mode);
}

uint32_t FileRead(cab::Descriptor fd, void* buffer, uint32_t count) {
  int got = _read(int(fd), buffer, count);
  return got < 0 ? uint32_t(-1) : uint32_t(got);
}

uint32_t FileWrite(cab::Descriptor fd, const void* buffer, uint32_t count) noexcept {
  int written = _write(int(fd), buffer, count);
  try {
    NoteAnswer(Send(EXTRACT_WRITTEN, L"%d", int(count)));
  } catch (...) {
    // A handler that cannot take the message fails the write.
    return uint32_t(-1);
  }
  return written < 0 ? uint32_t(-1) : uint32_t(written);
}

int FileClose(cab::Descriptor fd) { return _close(int(fd)); }

int32_t FileSeek(cab::Descriptor fd, int32_t offset, int origin) { return _lseek(int(fd), offset, origin); }

// ---- notifications ----

int OpenTarget(const std::wstring& path) {
  return _wsopen(path.c_str(), _O_BINARY | _O_WRONLY | _O_SEQUENTIAL | _O_CREAT | _O_TRUNC, _SH_DENYNO,
                 _S_IREAD | _S_IWRITE);
}

// Hidden and system files refuse to be replaced just as read-only ones do:
// such a file is made normal and opened again. Only a refused open asks for
// the attributes, so a fresh file costs no more than its creation.
int CreateTarget(const std::wstring& path) {
  int fd = OpenTarget(path);
  if (fd != -1) return fd;
  DWORD attributes = GetFileAttributesW(path.c_str());
  const DWORD kProtective = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & kProtective))
    return -1;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return OpenTarget(path);
}

// A link on the way would lead the write elsewhere: the file is skipped.
bool RefusedForLink(const std::wstring& target, const std::wstring& link) {
  if (link.empty()) return false;
  Send(EXTRACT_FOLDER_FAILED, EscapePercent(target + L" (refused: " + link + L" is a link)"));
  return true;
}

enum class TargetCheck { kWrite, kSkip, kFolderFailed };

// Checked when the folder changes and held until it changes again, so that
// no link can be planted on the way meanwhile; each folder is made once. The
// file itself is looked at once, a look the journal shares.
TargetCheck CheckTarget(ExtractorState& state, DWORD& attributes) {
  std::wstring folder = FolderOf(state.currentTarget);
  if (folder != state.lastFolder) {
    state.linkOnTheWay = state.pins.Pin(folder);
    if (state.linkOnTheWay.empty() && !state.knownFolders.count(folder)) {
      if (!CreateFolderChain(folder)) {
        Send(EXTRACT_FOLDER_FAILED, EscapePercent(folder));
        return TargetCheck::kFolderFailed;
      }
      state.knownFolders.insert(folder);
      // The folders just made are held too.
      state.linkOnTheWay = state.pins.Pin(folder);
    }
    if (state.linkOnTheWay.empty()) Send(EXTRACT_FOLDER, EscapePercent(folder));
    state.lastFolder = folder;
  }
  if (RefusedForLink(state.currentTarget, state.linkOnTheWay)) return TargetCheck::kSkip;
  attributes = GetFileAttributesW(state.currentTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    RefusedForLink(state.currentTarget, state.currentTarget);
    return TargetCheck::kSkip;
  }
  return TargetCheck::kWrite;
}

intptr_t CopyFileNotification(const cab::Notification& record) {
  ExtractorState& state = State();
  std::wstring refused;
  state.currentTarget = ResolveStoredName(record.text1 ? record.text1 : "", &refused);
  if (!refused.empty()) {
    NoteAnswer(Send(EXTRACT_TEXT, L"  Refused '%s': its target '%s' is not inside the target folder",
                    Utf8ToWide(record.text1), refused));
  }
  // A file without a target does not change the folder: it is skipped below.
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (!state.currentTarget.empty()) {
    TargetCheck check = CheckTarget(state, attributes);
    if (check == TargetCheck::kSkip) return 0;
    if (check == TargetCheck::kFolderFailed) return -1;
  }
  int answer = Send(fdintCOPY_FILE, EscapePercent(state.currentTarget));
  if (answer == EXTRACT_SKIP) return 0;
  NoteAnswer(answer);

  int fd = -1;
  if (!state.currentTarget.empty()) {
    // Journaled: a replaced file is moved aside as it was, a new one noted.
    Journal::Active().BeforeWrite(state.currentTarget, attributes);
    fd = CreateTarget(state.currentTarget);
    // A process without standard streams can hand out descriptor 0, which
    // the decoder would take for "skip this file".
    if (fd == 0) {
      int moved = _dup(0);
      _close(0);
      fd = moved;
    }
  }
  if (fd != 5) PrintLine(L"  file_open returned %d", fd);
  if (fd == -1) {
    PrintLine(L"  Failed to open %s for write.", state.currentTarget);
    return 0;
  }
  state.unfinishedTarget = state.currentTarget;
  return fd;
}

DWORD KeptAttributes(uint16_t attributes) {
  DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE);
  return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

bool StoredTime(uint16_t date, uint16_t time, FILETIME& utc) {
  FILETIME local;
  return DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc);
}

// On the handle that wrote the file, before it is closed: one call instead
// of opening the file again for its times and once more for its attributes.
bool RestoreOnHandle(int fd, uint16_t date, uint16_t time, uint16_t attributes) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  FILETIME utc;
  if (handle == INVALID_HANDLE_VALUE || !StoredTime(date, time, utc)) return false;
  FILE_BASIC_INFO info{};
  info.CreationTime.LowPart = utc.dwLowDateTime;
  info.CreationTime.HighPart = LONG(utc.dwHighDateTime);
  info.LastWriteTime = info.CreationTime;
  info.FileAttributes = KeptAttributes(attributes);
  return SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != FALSE;
}

void RestoreTimeAndAttributes(const std::wstring& path, uint16_t date, uint16_t time, uint16_t attributes) {
  {
    unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME utc;
    if (file && StoredTime(date, time, utc)) SetFileTime(file.get(), &utc, nullptr, &utc);
  }
  SetFileAttributesW(path.c_str(), KeptAttributes(attributes));
}

void DeleteEvenReadOnly(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

intptr_t CloseFileNotification(const cab::Notification& record) {
  ExtractorState& state = State();
  state.currentTarget = ResolveStoredName(record.text1 ? record.text1 : "", nullptr);
  std::wstring name = LastComponent(state.currentTarget);
  bool placeholder = name == kPlaceholderName;
  bool restored = !state.currentTarget.empty() && !placeholder &&
                  RestoreOnHandle(int(record.fd), record.date, record.time, record.attributes);
  _close(int(record.fd));
  // From here on, an abort answer would make the decoder close it again.
  state.closedDescriptor = true;
  if (state.currentTarget.empty()) return 1;
  if (placeholder) {
    PrintLine(L"  => Placeholder file removed");
    DeleteEvenReadOnly(state.currentTarget);
    return 1;
  }
  if (!restored) RestoreTimeAndAttributes(state.currentTarget, record.date, record.time, record.attributes);
  NoteAnswer(Send(fdintCLOSE_FILE_INFO, EscapePercent(state.currentTarget)));
  if (state.naming == ExtractNaming::kIndexFile && name == kIndexFileName) {
    LoadIndexFile();
    DeleteEvenReadOnly(state.indexFilePath);
  }
  return 1;
}

intptr_t Notify(cab::NotificationType type, cab::Notification* record) noexcept {
  // The decoder has written all the file's data, even when it is cancelled now.
  if (type == cab::kCloseFileInfo) State().unfinishedTarget.clear();
  if (AbortRequested()) return -1;
  State().closedDescriptor = false;
  try {
    switch (type) {
      case cab::kCopyFile:
        return CopyFileNotification(*record);
      case cab::kCloseFileInfo:
        return CloseFileNotification(*record);
      case cab::kPartialFile:
        NoteAnswer(Send(fdintPARTIAL_FILE,
                        L"fdintPARTIAL_FILE\n"
                        L"   name of continued file            = %s\n"
                        L"   name of cabinet where file starts = %s\n"
                        L"   name of disk where file starts    = %s\n",
                        Utf8ToWide(record->text1), Utf8ToWide(record->text2), Utf8ToWide(record->text3)));
        return 0;
      case cab::kNextCabinet:
        NoteAnswer(Send(fdintNEXT_CABINET,
                        L"fdintNEXT_CABINET\n"
                        L"   name of next cabinet where file continued = %s\n"
                        L"   name of next disk where file continued    = %s\n"
                        L"   cabinet path name                         = %s\n",
                        Utf8ToWide(record->text1), Utf8ToWide(record->text2), Utf8ToWide(record->text3)));
        return 0;
      default:
        return 0;
    }
  } catch (...) {
    // Nothing may unwind through the decoder; the copy ends instead. A
    // descriptor already closed here may by now belong to someone else, so
    // the decoder must not close it: that answer fails the copy too.
    return type == cab::kCloseFileInfo && State().closedDescriptor ? 0 : -1;
  }
}

std::wstring IndexFilePathFromEnvironment() {
  wchar_t buffer[256] = {0};
  DWORD n = GetEnvironmentVariableW(L"TEMP", buffer, 256);
  // Without a usable TEMP the file would land in the root of the drive.
  std::wstring folder = (n == 0 || n >= 256) ? TempFolder() : std::wstring(buffer, n);
  return CombinePath(folder, kIndexFileName);
}

// Splits a cabinet path into its folder (with one separator) and its name.
void SplitCabinetPath(const std::wstring& path, std::wstring& folder, std::wstring& name) {
  size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) {
    folder.clear();
    name = path;
  } else {
    folder = path.substr(0, last) + L'\\';
    name = path.substr(last + 1);
  }
}

// Destroys the context unless the extraction does it itself.
struct ContextOwner {
  cab::Context* context = nullptr;
  ~ContextOwner() {
    if (context) cab::Destroy(context);
  }
  bool Release() {
    cab::Context* c = context;
    context = nullptr;
    return cab::Destroy(c);
  }
};

int FailedExtraction(int answer) {
  if (answer == 2) {
    AbortRequested() = true;
    return 11;
  }
  return 0;
}

}  // namespace

int ExtractCabinet(const std::wstring& cabinetPath, const std::wstring& targetFolder, const ExtractHandler& handler,
                   ExtractNaming naming) {
  ExtractorState& state = State();
  state.handler = handler ? handler : ExtractHandler(DefaultExtractHandler);
  state.naming = naming;
  state.indexFilePath = IndexFilePathFromEnvironment();

  std::wstring folder = WithoutTrailingSeparators(targetFolder);
  std::wstring cabinetFolder, cabinetName;
  SplitCabinetPath(cabinetPath, cabinetFolder, cabinetName);
  std::string path8, name8, folder8, destination8;
  // A folder that does not fit the destination is refused: cutting or
  // dropping it would put the files somewhere else.
  if (folder.empty() || !WideToUtf8Limited(folder + L'\\', destination8)) {
    return FailedExtraction(Send(EXTRACT_TEXT, L"Target folder '%s' cannot be used: empty or too long", targetFolder));
  }
  if (cabinetName.empty() || !WideToUtf8Limited(cabinetPath, path8) || !WideToUtf8Limited(cabinetName, name8) ||
      !WideToUtf8Limited(cabinetFolder, folder8)) {
    return FailedExtraction(Send(EXTRACT_TEXT, L"Unable to open '%s' for input", cabinetPath));
  }
  state.destination = destination8;
  state.destinationWide = folder + L'\\';

  cab::Callbacks callbacks{HeapAllocate, HeapRelease, FileOpen, FileRead, FileWrite, FileClose, FileSeek};
  cab::ErrorRecord error;
  state.lastFolder.clear();
  state.knownFolders.clear();
  state.heapPeak = state.heapInUse;
  // Held folders could not be removed or renamed by anyone after us.
  struct PinsOwner {
    ~PinsOwner() { State().pins.Clear(); }
  } pinsOwner;
  ContextOwner owner;
  owner.context = cab::Create(callbacks, 1, &error);
  if (!owner.context) {
    return FailedExtraction(
        Send(EXTRACT_TEXT, L"FDICreate() failed: code %d [%s]", error.code, DecoderErrorText(error.code)));
  }

  int fd = _wsopen(cabinetPath.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL, _SH_DENYNO);
  if (fd == -1) {
    owner.Release();
    return FailedExtraction(Send(EXTRACT_TEXT, L"Unable to open '%s' for input", cabinetPath));
  }
  cab::CabinetInfo info;
  bool isCabinet = cab::IsCabinet(owner.context, fd, &info);
  _close(fd);
  if (!isCabinet) {
    owner.Release();
    return FailedExtraction(Send(EXTRACT_TEXT, L"FDIIsCabinet() failed: '%s' is not a cabinet", cabinetPath));
  }

  Send(EXTRACT_TEXT, L"Processing cabinet %s, %d files.", cabinetPath, int(info.files));
  state.unfinishedTarget.clear();
  if (!cab::Copy(owner.context, name8.c_str(), folder8.c_str(), 0, Notify, nullptr, nullptr)) {
    owner.Release();
    // A file cut off by a broken cabinet or a failed write must not stay
    // under its real name, where it would pass for the whole file.
    if (!state.unfinishedTarget.empty()) {
      DeleteEvenReadOnly(state.unfinishedTarget);
      state.unfinishedTarget.clear();
    }
    return FailedExtraction(
        Send(EXTRACT_TEXT, L"  FDICopy() failed: code %d [%s]", error.code, DecoderErrorText(error.code)));
  }
  if (!owner.Release()) {
    return FailedExtraction(
        Send(EXTRACT_TEXT, L"  FDIDestroy() failed: code %d [%s]", error.code, DecoderErrorText(error.code)));
  }
  return 1;
}

int DefaultExtractHandler(int code, std::wstring_view format, const FormatArg* args, size_t count) {
  std::wstring text = FormatArgs(format, args, count);
  if (code == fdintCOPY_FILE) {
    PrintLine(L"    => Extract: %s\r", LastComponent(text));
  } else if (code == EXTRACT_TEXT && !text.empty()) {
    PrintLine(L"%s", text);
  }
  return 0;
}

std::wstring ResolveTarget(const std::string& storedName) { return ResolveStoredName(storedName, nullptr); }

void LoadIndexFile() {
  ExtractorState& state = State();
  StruoIoFile file;
  if (file.Open(state.indexFilePath, GENERIC_READ, OPEN_EXISTING) != S_OK) return;
  if (file.fileSize() > kMaxIndexFileBytes) {
    PrintLine(L"  IndexFile.dat refused: larger than %u bytes", unsigned(kMaxIndexFileBytes));
    if (state.handler) {
      NoteAnswer(Send(EXTRACT_TEXT, L"  Refused IndexFile.dat of the cabinet: it is larger than %u bytes",
                      unsigned(kMaxIndexFileBytes)));
    }
    return;
  }
  std::wstring line;
  bool first = true;
  while (file.ReadLine(line)) {
    if (first && !line.empty() && line[0] == 0xFEFF) line.erase(0, 1);
    first = false;
    // The reader leaves the carriage return of a CR LF line end.
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    std::wstring key = line.substr(0, kIndexKeyColumns);
    while (!key.empty() && IsWhiteSpace(key.back())) key.pop_back();
    std::wstring path = line.size() > kIndexKeyColumns ? line.substr(kIndexKeyColumns) : std::wstring();
    if (key.empty() && path.empty()) continue;
    state.indexMap[key] = path;
  }
}

// Creating first: a new folder, the usual case, then costs one call; only a
// missing parent walks up the chain.
bool CreateFolderChain(const std::wstring& folder) {
  if (folder.empty()) return false;
  std::wstring trimmed = WithoutTrailingSeparators(folder);
  if (!trimmed.empty() && CreateDirectoryW(trimmed.c_str(), nullptr)) {
    Journal::Active().FolderCreated(trimmed);
    return true;
  }
  DWORD error = GetLastError();
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND) return false;
  size_t last = trimmed.find_last_of(L'\\');
  if (trimmed.empty() || last == std::wstring::npos) return false;
  std::wstring parent = trimmed.substr(0, last + 1);
  if (parent.size() >= folder.size()) return false;
  if (!CreateFolderChain(parent)) return false;
  if (!CreateDirectoryW(trimmed.c_str(), nullptr)) return false;
  Journal::Active().FolderCreated(trimmed);
  return true;
}

const std::map<std::wstring, std::wstring>& ExtractIndexMap() { return State().indexMap; }

size_t LastExtractionPeakMemory() { return State().heapPeak; }

void SetExtractDiagnostics(bool enabled) { State().diagnostics = enabled; }

std::wstring EscapePercent(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    out += c;
    if (c == L'%') out += L'%';
  }
  return out;
}

const wchar_t* DecoderErrorText(int code) {
  switch (code) {
    case 0: return L"No error";
    case 1: return L"Cabinet not found";
    case 2: return L"Not a cabinet";
    case 3: return L"Unknown cabinet version";
    case 4: return L"Corrupt cabinet";
    case 5: return L"Memory allocation failed";
    case 6: return L"Unknown compression type";
    case 7: return L"Failure decompressing data";
    case 8: return L"Failure writing to target file";
    case 9: return L"Cabinets in set have different RESERVE sizes";
    case 10: return L"Cabinet returned on fdintNEXT_CABINET is incorrect";
    case 11: return L"User aborted";
    default: return L"Unknown error";
  }
}

bool WideToUtf8Limited(std::wstring_view text, std::string& out) {
  if (text.empty()) {
    out.clear();
    return true;
  }
  if (text.size() >= kNarrowBuffer) return false;
  int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::wstring shown(text);
  if (needed <= 0) {
    PrintConversion(L"  => Failed char count %s", shown);
    return false;
  }
  if (size_t(needed) + 1 > kNarrowBuffer) {
    PrintConversion(L"Failed to convert Unicode string to MBCS. Translation exceeds MBCS buffer length.");
    return false;
  }
  std::string converted(size_t(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), converted.data(), needed, nullptr, nullptr) !=
      needed) {
    PrintConversion(L"  => Failed to translate %s", shown);
    return false;
  }
  out = std::move(converted);
  return true;
}

std::wstring Utf8ToWide(const char* text) {
  if (!text || !*text) return std::wstring();
  int needed = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (needed <= 0) {
    PrintConversion(L"  => Failed char count string");
    return std::wstring();
  }
  std::wstring out(size_t(needed), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), needed) != needed) {
    PrintConversion(L"  => Failed to translate string");
    return std::wstring();
  }
  out.resize(size_t(needed) - 1);
  return out;
}

namespace {
void WriteConsoleText(FILE* stream, const std::wstring& text) {
  std::string bytes = ToUtf8(text);
  fwrite(bytes.data(), 1, bytes.size(), stream);
}
}  // namespace

void PrintLineText(std::wstring text) {
  if (!State().diagnostics) return;
  wchar_t end = L'\n';
  if (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) {
    end = text.back();
    text.pop_back();
  }
  text.resize(77, L' ');
  text += end;
  WriteConsoleText(stderr, text);
  fflush(stderr);
}

void PrintConversionText(std::wstring text) {
  if (!State().diagnostics) return;
  bool carriageReturn = !text.empty() && text.back() == L'\r';
  if (carriageReturn) text.pop_back();
  text.resize(78, L' ');
  text += carriageReturn ? L'\r' : L'\n';
  WriteConsoleText(stdout, text);
}

}  // namespace orvo
