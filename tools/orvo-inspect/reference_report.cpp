#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "action/installer_session.h"
#include "deploy/reference_document.h"
#include "documents/paths.h"
#include "inspect.h"

namespace orvo::inspect {
namespace {

const wchar_t kAllUsers[] = L"All Users";

// Paths compare as the file system does: without regard to case.
std::wstring Key(std::wstring path) {
  if (!path.empty()) CharUpperBuffW(&path[0], DWORD(path.size()));
  return path;
}

std::wstring FolderKey(std::wstring path) {
  StripTrailingBackslashes(path);
  return Key(path) + L'\\';
}

// The codes of a ref attribute: each "{...}" one after the other; text
// outside braces is shown as it stands.
std::vector<std::wstring> SplitCodes(const std::wstring& refs) {
  std::vector<std::wstring> codes;
  size_t at = 0;
  while (at < refs.size()) {
    size_t end = refs[at] == L'{' ? refs.find(L'}', at) : refs.find(L'{', at) - 1;
    if (end == std::wstring::npos || end + 1 > refs.size()) end = refs.size() - 1;
    codes.push_back(refs.substr(at, end + 1 - at));
    at = end + 1;
  }
  return codes;
}

struct Document {
  std::wstring path;
  std::wstring owners;  // "All Users" or user names, comma separated
  XmlDocument xml;
};

struct Record {
  std::wstring file;  // full path
  const Document* document = nullptr;
  std::wstring cabinet, extractionPath, subDirectory, refs, hash;
  bool hasHash = false;
};

struct Search {
  AppIndex* index = nullptr;  // null when it did not open
  std::vector<std::unique_ptr<Document>> documents;
  std::vector<Record> records;
  std::multimap<std::wstring, size_t> byFile;  // Key(file) -> record

  void FindDocuments();
  void ReadRecords(const Document& document);
  void ReportFile(const std::wstring& file);
  std::vector<std::wstring> RemovalNotes(const Record& record, const std::vector<std::wstring>& codes);
};

void Search::FindDocuments() {
  // Folder -> owners, in the order the installer would come to them.
  std::vector<std::pair<std::wstring, std::wstring>> folders;
  auto add = [&](const std::wstring& folder, const std::wstring& owner) {
    for (auto& [known, owners] : folders) {
      if (FolderKey(known) != FolderKey(folder)) continue;
      if ((L", " + owners + L",").find(L", " + owner + L",") == std::wstring::npos) owners += L", " + owner;
      return;
    }
    folders.emplace_back(folder, owner);
  };
  add(CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos"), kAllUsers);
  if (index) {
    for (DomElement* product : ChildElements(index->root(), L"Product")) {
      for (DomElement* user : ChildElements(FirstChildElement(product, L"Users"), L"User")) {
        DomElement* local = FindChildElement(FirstChildElement(user, L"Directories"), L"Directory", L"Name",
                                             L"LocalAppDataFolder");
        std::wstring folder = AttributeText(local, L"Data");
        if (local && IsAbsolutePath(folder))
          add(CombinePath(folder, L"Keltra\\Orvos"), AttributeText(user, L"Name"));
      }
    }
  }
  Out(L"Reference documents:");
  size_t found = 0;
  for (const auto& [folder, owners] : folders) {
    TextList paths = FindFiles(folder, L"*_ref.xml", false);
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      ++found;
      auto document = std::make_unique<Document>();
      document->path = path;
      document->owners = owners;
      // The installer loads them validated: one that fails is one it skips.
      if (!document->xml.Load(path, FullValidation()) || !document->xml.root()) {
        Out(L"  " + path + L" (" + owners + L"): does not load, the installer skips it: " +
            OneLine(document->xml.LastError()));
        continue;
      }
      Out(L"  " + path + L" (" + owners + L")");
      ReadRecords(*document);
      documents.push_back(std::move(document));
    }
  }
  if (!found) Out(L"  (none)");
}

void Search::ReadRecords(const Document& document) {
  DomElement* cabinets = FirstChildElement(document.xml.root(), L"Cabinets");
  for (DomElement* cabinet : ChildElements(cabinets, L"Cabinet")) {
    for (DomElement* extraction : ChildElements(cabinet, L"ExtractionPath")) {
      std::wstring extractionPath = AttributeText(extraction, L"Path");
      for (DomElement* sub : ChildElements(extraction, L"SubDirectory")) {
        std::wstring relative = AttributeText(sub, L"Path");
        std::wstring folder = CombinePath(extractionPath, relative == L"\\" ? std::wstring() : relative);
        for (DomElement* file : ChildElements(sub, L"File")) {
          Record record;
          record.document = &document;
          record.cabinet = AttributeText(cabinet, L"Name");
          record.extractionPath = extractionPath;
          record.subDirectory = relative;
          record.file = CombinePath(folder, AttributeText(file, L"Name"));
          record.refs = AttributeText(file, L"ref");
          record.hasHash = file->getAttributeNode(L"hash") != nullptr;
          record.hash = AttributeText(file, L"hash");
          byFile.emplace(Key(record.file), records.size());
          records.push_back(record);
        }
      }
    }
  }
}

// Why a removal would leave the file, as the removal decides it.
std::vector<std::wstring> Search::RemovalNotes(const Record& record, const std::vector<std::wstring>& codes) {
  std::vector<std::wstring> notes;
  if (codes.size() > 1)
    notes.push_back(L"stays until every listed product is removed (each removal takes away only its own code)");
  if (!index) return notes;
  // A removal works only in folders the index records for the owner.
  bool trusted = false;
  bool anyKnown = false;
  TextList owners;
  SplitText(record.document->owners, L", ", owners, true);
  for (const auto& code : codes) {
    DirectoryTable product;
    UserDirectoryTables users;
    if (!index->CollectDirectories(code, product, users)) continue;
    anyKnown = true;
    for (const auto& owner : owners) {
      const DirectoryTable* table = &product;
      if (owner != kAllUsers) {
        auto found = users.find(owner);
        if (found == users.end()) continue;
        table = &found->second;
      }
      for (const auto& [name, entry] : *table) {
        if (IsAbsolutePath(entry.path) && FolderKey(entry.path) == FolderKey(record.extractionPath)) trusted = true;
      }
    }
  }
  if (anyKnown && !trusted)
    notes.push_back(L"the extraction path is no recorded directory of these products for this owner: "
                    L"removal refuses to delete here");
  return notes;
}

void Search::ReportFile(const std::wstring& file) {
  bool exists = PathExists(file) && !IsFolder(file);
  Out(L"");
  Out(L"File: " + file + (exists ? L"" : L" (not on disk)"));
  auto range = byFile.equal_range(Key(file));
  if (range.first == range.second) {
    Out(L"  Not recorded by any reference document: no removal deletes it.");
    return;
  }
  std::wstring currentHash;
  bool hashed = false;
  for (auto it = range.first; it != range.second; ++it) {
    const Record& record = records[it->second];
    Out(L"  Recorded by " + record.document->path + L" (" + record.document->owners + L")");
    Out(L"    Cabinet: " + record.cabinet);
    Out(L"    Extraction path: " + record.extractionPath);
    Out(L"    Subdirectory: " + record.subDirectory);
    std::vector<std::wstring> codes = SplitCodes(record.refs);
    std::wstring products;
    for (const auto& code : codes) {
      std::wstring known;
      if (index) {
        known = FindChildElement(index->root(), L"Product", L"ProductCode", code) ? L" (in the index)"
                                                                                  : L" (not in the index)";
      }
      products += (products.empty() ? L"" : L", ") + code + known;
    }
    Out(L"    Products: " + (products.empty() ? std::wstring(L"(none)") : products));
    if (!record.hasHash) {
      Out(L"    Hash: none recorded");
    } else {
      if (!hashed && exists) currentHash = FileHashText(file);
      hashed = true;
      std::wstring verdict = !exists                     ? L"the file is missing"
                             : currentHash.empty()        ? L"the file cannot be hashed"
                             : currentHash == record.hash ? L"the file matches"
                                                          : L"the file differs: user-modified, kept on removal";
      Out(L"    Hash: " + record.hash + L" (" + verdict + L")");
    }
    for (const auto& note : RemovalNotes(record, codes)) Out(L"    Note: " + note);
  }
}

}  // namespace

int ReportReferences(const std::wstring& path, const std::wstring& indexPath) {
  std::wstring target = FullPath(path);
  std::wstring indexFile = indexPath.empty() ? AppIndexPath() : indexPath;
  AppIndex index(indexFile);
  std::wstring reason;
  Search search;
  if (OpenIndex(index, indexFile, reason)) {
    search.index = &index;
    Out(L"Index: " + indexFile);
  } else {
    Out(L"Index: " + reason + L"; only the shared reference documents are searched");
  }
  search.FindDocuments();

  std::vector<std::wstring> files;
  if (IsFolder(target)) {
    for (const auto& file : ListFolder(target, kListFiles, true)) files.push_back(file);
  } else if (PathExists(target)) {
    files.push_back(target);
  }
  // Recorded files that are gone: exactly the path, or below it as a folder.
  std::set<std::wstring> seen;
  for (const auto& file : files) seen.insert(Key(file));
  std::wstring exact = Key(target);
  std::wstring below = FolderKey(target);
  for (const auto& record : search.records) {
    std::wstring key = Key(record.file);
    if (seen.count(key)) continue;
    if (key == exact || key.compare(0, below.size(), below) == 0) {
      files.push_back(record.file);
      seen.insert(key);
    }
  }
  if (files.empty()) {
    if (IsFolder(target)) {
      Out(L"");
      Out(L"Folder: " + target + L" holds no file and no reference document records one below it.");
      return kOk;
    }
    Problem(target + L" does not exist and no reference document records it");
    return kNotFound;
  }
  std::sort(files.begin(), files.end(), [](const std::wstring& a, const std::wstring& b) { return Key(a) < Key(b); });
  for (const auto& file : files) search.ReportFile(file);
  return kOk;
}

}  // namespace orvo::inspect
