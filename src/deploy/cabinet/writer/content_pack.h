// Packs content the way the installer extracts it: the cabinet's first file
// is "IndexFile.dat", which maps generated stored names to the files' paths
// below the target folder; every other file is stored under its generated
// name. Empty folders travel as "empty.dir" placeholders.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cab_writer.h"

namespace orvo::cab {

constexpr size_t kIndexKeyColumns = 38;
constexpr char kIndexFileName[] = "IndexFile.dat";
constexpr char kPlaceholderName[] = "empty.dir";

struct PackItem {
  std::string relativePath;   // UTF-8, "/" or "\" between components
  std::string sourcePath;     // content is read from here when not empty
  std::vector<uint8_t> bytes;  // otherwise this is the content
  uint16_t date = DosDate(1980, 1, 1);
  uint16_t time = 0;
  uint16_t attribs = kAttribArchive;
};

struct PackOptions {
  Compression compression = Compression::Mszip();
  CabinetSetOptions set;
  // A new folder starts once a folder holds this many bytes; 0: one folder.
  uint64_t folderSize = 0;
};

struct PackResult {
  std::vector<std::string> cabinets;
  std::vector<std::pair<std::string, std::string>> index;  // stored name, relative path
  CabinetWriter::Totals totals;
};

// A relative path as the index records it: backslashes, no empty, "." or
// ".." components, no drive, no leading separator. Nothing when invalid.
std::optional<std::string> NormalizeRelativePath(std::string_view path);

// Stored name of the index-th file: unique per index, ASCII, at most 38
// characters, never "IndexFile.dat".
std::string StoredNameFor(size_t index, std::string_view relativePath);

// The bytes of "IndexFile.dat": one line per entry, the stored name padded
// with spaces to 38 columns, then the path, each line ended by a line feed.
// Single-byte text when every path is Latin-1, else UTF-16LE; nothing when a
// path is not valid UTF-8 or a key is longer than 38 characters.
std::optional<std::vector<uint8_t>> IndexFileBytes(
    const std::vector<std::pair<std::string, std::string>>& entries);

bool PackItems(const std::string& cabinetPath, const std::vector<PackItem>& items,
               const PackOptions& options, PackResult* result, std::string* error);

// The files below root, sorted by relative path, with their modification
// times; each empty folder gets an "empty.dir" placeholder.
bool CollectFolder(const std::string& root, std::vector<PackItem>* items, std::string* error);

bool PackFolder(const std::string& cabinetPath, const std::string& root, const PackOptions& options,
                PackResult* result, std::string* error);

}  // namespace orvo::cab
