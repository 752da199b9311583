#include "documents/journal.h"

#include <algorithm>
#include <set>
#include <vector>

#include "action/installer_session.h"
#include "action/wformat.h"
#include "documents/contained_path.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"
#include "documents/text_lists.h"

namespace orvo {
namespace {

// One entry a line: operation, tab, path, tab, where it was put aside.
//   N  a new file, deleted again
//   M  a file moved aside, moved back
//   D  a folder of files moved aside whole, moved back
//   K  a document copied aside before it changed, copied back
//   F  a new folder, removed again when empty
//   R  the rollback of this journal has begun
const wchar_t kRollbackBegun = L'R';

struct Entry {
  wchar_t operation = 0;
  std::wstring path, aside;
};

std::wstring JournalName(const std::wstring& transaction, unsigned number) {
  return transaction + L"-" + std::to_wstring(number) + L".journal";
}

// The journals in the folder, each with its transaction and number.
struct Found {
  std::wstring transaction;
  unsigned number = 0;
  std::wstring path;
};

std::vector<Found> FindJournals(const std::wstring& folder) {
  std::vector<Found> found;
  for (const auto& path : FindFiles(folder, L"*.journal", false)) {
    std::wstring name = LastPathComponent(path);
    size_t dash = name.rfind(L'-');
    if (dash == std::wstring::npos || dash == 0) continue;
    Found entry;
    entry.transaction = name.substr(0, dash);
    entry.number = unsigned(std::wcstoul(name.c_str() + dash + 1, nullptr, 10));
    entry.path = path;
    found.push_back(entry);
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.number < b.number; });
  return found;
}

std::wstring AsideFolderOf(const std::wstring& journalPath) {
  std::wstring aside = journalPath;
  ChangeExtension(aside, L".aside", false);
  return CombinePath(aside);
}

std::vector<Entry> ReadEntries(const std::wstring& journalPath) {
  std::vector<Entry> entries;
  unique_hfile file(CreateFileW(journalPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return entries;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    // A line cut by a kill has no end: the change it announced never began.
    if (end == std::string::npos) break;
    std::wstring line = FromUtf8(std::string_view(bytes).substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.size() < 2 || line[1] != L'\t') continue;
    Entry entry;
    entry.operation = line[0];
    size_t tab = line.find(L'\t', 2);
    entry.path = line.substr(2, tab == std::wstring::npos ? std::wstring::npos : tab - 2);
    if (tab != std::wstring::npos) entry.aside = line.substr(tab + 1);
    entries.push_back(entry);
  }
  return entries;
}

bool HasRollbackBegun(const std::vector<Entry>& entries) {
  return std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.operation == kRollbackBegun; });
}

void RemoveFileEvenReadOnly(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

void Undo(const Entry& entry) {
  switch (entry.operation) {
    case L'N':
      if (PathExists(entry.path) && !IsFolder(entry.path)) RemoveFileEvenReadOnly(entry.path);
      break;
    case L'M':
      // Gone from the aside folder: already moved back by an earlier try.
      if (!PathExists(entry.aside)) break;
      if (PathExists(entry.path)) RemoveFileEvenReadOnly(entry.path);
      EnsureFolder(ParentFolder(entry.path));
      MoveFileExW(entry.aside.c_str(), entry.path.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
      break;
    case L'D':
      if (!PathExists(entry.aside)) break;
      EnsureFolder(ParentFolder(entry.path));
      if (!IsFolder(entry.path)) {
        if (PathExists(entry.path)) RemoveFileEvenReadOnly(entry.path);
        if (MoveFileExW(entry.aside.c_str(), entry.path.c_str(), MOVEFILE_WRITE_THROUGH)) break;
      }
      // A folder stands there again (or the move failed): file by file, and
      // a try cut short goes on where it stopped.
      EnsureFolder(entry.path);
      for (const auto& file : ListFolder(entry.aside, kListFiles, false)) {
        std::wstring target = CombinePath(entry.path, LastPathComponent(file));
        if (PathExists(target)) RemoveFileEvenReadOnly(target);
        MoveFileExW(file.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
      }
      RemoveDirectoryW(entry.aside.c_str());
      break;
    case L'K':
      if (!PathExists(entry.aside)) break;
      if (PathExists(entry.path)) SetFileAttributesW(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL);
      EnsureFolder(ParentFolder(entry.path));
      CopyFileW(entry.aside.c_str(), entry.path.c_str(), FALSE);
      break;
    case L'F':
      RemoveDirectoryW(entry.path.c_str());
      break;
    default:
      break;
  }
}

// The file or folder open on the handle goes to the target path.
bool RenameOnHandle(HANDLE handle, const std::wstring& target, bool replace) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = DWORD(target.size() * sizeof(wchar_t));
  target.copy(rename->FileName, target.size());
  return SetFileInformationByHandle(handle, FileRenameInfo, rename, DWORD(buffer.size())) != FALSE;
}

// Deletes the journal and its aside folder: the aside folder first, so that
// a kill in between leaves a journal whose undo finds nothing to move back
// rather than an aside folder nobody knows.
void Forget(const std::wstring& journalPath) {
  DeletePath(AsideFolderOf(journalPath), true, true);
  DeleteFileW(journalPath.c_str());
}

bool MarkRollbackBegun(const std::wstring& journalPath) {
  unique_hfile file(CreateFileW(journalPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  static const char kLine[] = "R\t\r\n";
  DWORD written = 0;
  return WriteFile(file.get(), kLine, DWORD(sizeof kLine - 1), &written, nullptr) && written == sizeof kLine - 1;
}

void RollBack(const Found& journal) {
  std::vector<Entry> entries = ReadEntries(journal.path);
  if (!HasRollbackBegun(entries)) MarkRollbackBegun(journal.path);
  for (size_t i = entries.size(); i-- > 0;) Undo(entries[i]);
  Forget(journal.path);
}

}  // namespace

Journal& Journal::Active() {
  static Journal journal;
  return journal;
}

bool Journal::Begin(const std::wstring& folder, const std::wstring& transaction) {
  End();
  auto& session = InstallerSession::Instance();
  if (!IsUsableFolder(folder) || transaction.empty() || !IsPlainFileName(transaction)) return false;
  unsigned next = 1;
  for (const Found& found : FindJournals(folder)) {
    if (found.transaction == transaction) {
      next = std::max(next, found.number + 1);
      continue;
    }
    // Another transaction's: it was killed, or its commit never ran.
    if (HasRollbackBegun(ReadEntries(found.path))) {
      session.Log(L"  => Completing the interrupted rollback of %s", found.path);
      RollBack(found);
    } else {
      Forget(found.path);
    }
  }
  EnsureFolder(folder);
  std::wstring path = CombinePath(folder, JournalName(transaction, next));
  file_.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) {
    session.Log(L" !=> No rollback journal: %s could not be created: %s", path, SystemErrorText(GetLastError()));
    return false;
  }
  asideFolder_ = AsideFolderOf(path);
  asideCount_ = 0;
  return true;
}

void Journal::End() {
  file_.reset();
  asideFolder_.clear();
}

bool Journal::Append(wchar_t operation, const std::wstring& path, const std::wstring& aside) {
  // Written through to the system at once (no buffer of ours), so a killed
  // process leaves every entry it announced.
  std::string line = ToUtf8(std::wstring(1, operation) + L"\t" + path + L"\t" + aside) + "\r\n";
  DWORD written = 0;
  return WriteFile(file_.get(), line.data(), DWORD(line.size()), &written, nullptr) && written == line.size();
}

// At most 32 entries a folder: a new name is looked for, whatever its
// case, through every entry of its folder, so one flat folder of 20 000
// costs each move a scan of all before it.
std::wstring Journal::NextAside() {
  unsigned long number = ++asideCount_;
  std::wstring bucket = CombinePath(CombinePath(asideFolder_, std::to_wstring(number >> 5)));
  if (number == 1 || (number & 0x1F) == 0) EnsureFolder(bucket);
  return CombinePath(bucket, std::to_wstring(number));
}

bool Journal::BeforeWrite(const std::wstring& path, unsigned long attributes) {
  if (!active()) return true;
  if (attributes == INVALID_FILE_ATTRIBUTES) return Append(L'N', path, std::wstring());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
  return MoveAside(path);
}

bool Journal::MoveAside(const std::wstring& path) {
  if (!active()) return false;
  // Opened as a file (a folder refuses such an open), the link itself and
  // not its target: the look and the move are one open.
  unique_hfile file(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    // Refused for another reason than being a folder or missing: moved by path.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  }
  std::wstring aside = NextAside();
  if (!Append(L'M', path, aside)) return false;
  // A rename on the same volume; the installer's own backups work so too.
  if (file) {
    if (RenameOnHandle(file.get(), aside, true)) return true;
    file.reset();
  }
  // Another volume: moved by copying.
  return MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}

namespace {

// The folder holds exactly the names, each once, and nothing else: no
// folder, no link. Read on the handle, so it is the folder about to move.
bool HoldsExactly(HANDLE folder, const std::vector<std::wstring>& names) {
  std::set<std::wstring> expected;
  for (const auto& name : names) expected.insert(FoldCase(name));
  if (expected.size() != names.size()) return false;
  size_t seen = 0;
  std::vector<char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, kind, buffer.data(), DWORD(buffer.size()))) {
    kind = FileIdBothDirectoryInfo;
    for (size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        if (entry->FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        if (!expected.count(FoldCase(name))) return false;
        ++seen;
      }
      if (!entry->NextEntryOffset) break;
      offset += entry->NextEntryOffset;
    }
  }
  return GetLastError() == ERROR_NO_MORE_FILES && seen == expected.size();
}

}  // namespace

bool Journal::MoveFolderAside(const std::wstring& folder, const std::vector<std::wstring>& names,
                              std::wstring& aside) {
  if (!active() || names.empty()) return false;
  // The folder's own name, as a rename takes it.
  std::wstring path = folder;
  StripTrailingBackslashes(path);
  bool link = false;
  unsigned long attributes = 0;
  unique_hfile handle = OpenUnlinked(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, link, attributes);
  if (!handle || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || !HoldsExactly(handle.get(), names)) return false;
  aside = NextAside();
  if (!Append(L'D', path, aside)) return false;
  return RenameOnHandle(handle.get(), aside, false);
}

bool Journal::MoveFolderBack(const std::wstring& folder, const std::wstring& aside) {
  std::wstring path = folder;
  StripTrailingBackslashes(path);
  return MoveFileExW(aside.c_str(), path.c_str(), 0) != 0;
}

void Journal::KeepCopy(const std::wstring& path) {
  if (!active()) return;
  if (!PathExists(path)) {
    Append(L'N', path, std::wstring());
    return;
  }
  std::wstring aside = NextAside();
  if (Append(L'K', path, aside)) CopyFileW(path.c_str(), aside.c_str(), FALSE);
}

void Journal::FolderCreated(const std::wstring& folder) {
  if (active()) Append(L'F', folder, std::wstring());
}

int RollBackJournals(const std::wstring& folder, const std::wstring& transaction) {
  if (!IsUsableFolder(folder) || transaction.empty()) return 0;
  Journal::Active().End();
  std::vector<Found> journals = FindJournals(folder);
  int undone = 0;
  for (size_t i = journals.size(); i-- > 0;) {
    if (journals[i].transaction != transaction) continue;
    RollBack(journals[i]);
    ++undone;
  }
  return undone;
}

void CommitJournals(const std::wstring& folder, const std::wstring& transaction) {
  if (!IsUsableFolder(folder) || transaction.empty()) return;
  Journal::Active().End();
  for (const Found& found : FindJournals(folder)) {
    if (found.transaction == transaction) Forget(found.path);
  }
}

std::wstring JournalFolder(const std::wstring& masterDocument) {
  std::wstring folder = ParentFolder(masterDocument);
  return folder.empty() ? std::wstring() : CombinePath(folder, L"Rollback\\");
}

std::wstring PatchJournalFolder() { return CombinePath(TempFolder(), L"orvo_Patch.rollback\\"); }

}  // namespace orvo
