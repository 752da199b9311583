#include "cab_directory.h"

#include <cstdio>
#include <cstring>

#include "cab_decoder.h"
#include "cab_format.h"
#include "action/utf8.h"
#include "decoder_io.h"
#include "file_io.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace orvo::cabtool {
namespace {

bool ReadAt(std::FILE* file, uint64_t offset, size_t count, std::vector<uint8_t>* out) {
  out->assign(count, 0);
  if (std::fseek(file, long(offset), SEEK_SET) != 0) return false;
  size_t got = std::fread(out->data(), 1, count, file);
  out->resize(got);
  return true;
}

// A NUL-terminated name of at most 256 bytes at `pos`; advances past it.
bool TakeName(const std::vector<uint8_t>& bytes, size_t* pos, std::string* name) {
  size_t start = *pos;
  for (size_t i = start; i < bytes.size() && i - start <= cab::kMaxNameBytes; ++i) {
    if (bytes[i] == 0) {
      name->assign(reinterpret_cast<const char*>(bytes.data() + start), i - start);
      *pos = i + 1;
      return true;
    }
  }
  return false;
}

bool LooksLikeUtf16(const std::vector<uint8_t>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return true;
#ifdef _WIN32
  // The installer's reader decides with the same test over the same bytes.
  int n = int(bytes.size() < 256 ? bytes.size() : 256);
  return n > 0 && IsTextUnicode(bytes.data(), n, nullptr) != FALSE;
#else
  size_t pairs = bytes.size() / 2, zeros = 0;
  for (size_t i = 0; i < pairs; ++i) zeros += bytes[2 * i + 1] == 0;
  return pairs > 0 && zeros * 2 > pairs;
#endif
}

}  // namespace

bool ReadCabinetDirectory(const std::string& utf8Path, CabinetDirectory* directory, std::string* error) {
  cab::FilePtr file = cab::OpenFile(utf8Path, "rb");
  if (!file) {
    *error = "cannot open " + utf8Path;
    return false;
  }
  std::vector<uint8_t> head;
  ReadAt(file.get(), 0, cab::kHeaderSize + 4, &head);
  if (head.size() >= cab::kHeaderSize && std::memcmp(head.data(), "MSCF", 4) == 0) {
    // Then as much as the reserve, the set names and the folder table can take.
    size_t reserves = (cab::ReadLe16(&head[30]) & cab::kFlagReservePresent) && head.size() >= cab::kHeaderSize + 4
                          ? cab::ReadLe16(&head[cab::kHeaderSize]) + size_t(head[cab::kHeaderSize + 2])
                          : 0;
    size_t folderBytes = size_t(cab::ReadLe16(&head[26])) * (cab::kFolderSize + (reserves ? 255 : 0));
    ReadAt(file.get(), 0, cab::kHeaderSize + 4 + reserves + 4 * 257 + folderBytes, &head);
  }
  if (head.size() < cab::kHeaderSize || std::memcmp(head.data(), "MSCF", 4) != 0) {
    *error = utf8Path + " is not a cabinet";
    return false;
  }
  if (head[24] != cab::kVersionMinor || head[25] != cab::kVersionMajor) {
    *error = utf8Path + ": unknown cabinet version " + std::to_string(head[25]) + "." + std::to_string(head[24]);
    return false;
  }
  CabinetDirectory d;
  d.cabinetSize = cab::ReadLe32(&head[8]);
  uint32_t filesOffset = cab::ReadLe32(&head[16]);
  d.folders = cab::ReadLe16(&head[26]);
  uint16_t fileCount = cab::ReadLe16(&head[28]);
  uint16_t flags = cab::ReadLe16(&head[30]);
  d.setId = cab::ReadLe16(&head[32]);
  d.cabinetIndex = cab::ReadLe16(&head[34]);
  size_t pos = cab::kHeaderSize;
  size_t folderReserve = 0;
  const std::string corrupt = utf8Path + ": corrupt cabinet header";
  if (flags & cab::kFlagReservePresent) {
    if (head.size() < pos + 4) {
      *error = corrupt;
      return false;
    }
    size_t headerReserve = cab::ReadLe16(&head[pos]);
    folderReserve = head[pos + 2];
    pos += 4 + headerReserve;
  }
  std::string disk;
  if (((flags & cab::kFlagPrevCabinet) && (!TakeName(head, &pos, &d.previousCabinet) || !TakeName(head, &pos, &disk))) ||
      ((flags & cab::kFlagNextCabinet) && (!TakeName(head, &pos, &d.nextCabinet) || !TakeName(head, &pos, &disk)))) {
    *error = corrupt;
    return false;
  }
  for (unsigned i = 0; i < d.folders; ++i, pos += cab::kFolderSize + folderReserve) {
    if (head.size() < pos + cab::kFolderSize) {
      *error = corrupt;
      return false;
    }
    d.folderMethods.push_back(cab::ReadLe16(&head[pos + 6]));
  }
  std::vector<uint8_t> table;
  ReadAt(file.get(), filesOffset, size_t(fileCount) * (cab::kFileSize + 256), &table);
  pos = 0;
  for (unsigned i = 0; i < fileCount; ++i) {
    if (table.size() < pos + cab::kFileSize) {
      *error = utf8Path + ": truncated file table";
      return false;
    }
    DirectoryEntry e;
    e.size = cab::ReadLe32(&table[pos]);
    e.folder = cab::ReadLe16(&table[pos + 8]);
    e.date = cab::ReadLe16(&table[pos + 10]);
    e.time = cab::ReadLe16(&table[pos + 12]);
    e.attributes = cab::ReadLe16(&table[pos + 14]);
    pos += cab::kFileSize;
    if (!TakeName(table, &pos, &e.name)) {
      *error = utf8Path + ": truncated file table";
      return false;
    }
    d.files.push_back(std::move(e));
  }
  *directory = std::move(d);
  return true;
}

namespace {

bool indexClosed = false;
bool indexTooLarge = false;

// The installer's extractor refuses a bigger index, so no file of such a
// cabinet has a mapped path; it is not read into memory either.
constexpr uint32_t kMaxIndexFileBytes = 16u << 20;

intptr_t CaptureIndexFile(cab::NotificationType type, cab::Notification* record) {
  switch (type) {
    case cab::kCopyFile:
      if (indexClosed) return -1;  // nothing after the index is wanted
      if (std::strcmp(record->text1, "IndexFile.dat") != 0) return 0;
      if (record->size > kMaxIndexFileBytes) {
        indexTooLarge = true;
        return -1;
      }
      return kMemoryDescriptor;
    case cab::kCloseFileInfo:
      indexClosed = true;
      return 1;
    case cab::kNextCabinet:
      return -1;
    default:
      return 0;
  }
}

}  // namespace

bool ReadIndexFile(const std::string& utf8Path, std::vector<uint8_t>* bytes, std::string* error) {
  std::string folder, name = utf8Path;
  size_t last = utf8Path.find_last_of("\\/");
  if (last != std::string::npos) {
    folder = utf8Path.substr(0, last + 1);
    name = utf8Path.substr(last + 1);
  }
  cab::ErrorRecord record;
  cab::Context* context = cab::Create(StreamCallbacks(), 1, &record);
  if (!context) {
    *error = "out of memory";
    return false;
  }
  MemorySink().clear();
  indexClosed = false;
  indexTooLarge = false;
  bool copied = cab::Copy(context, name.c_str(), folder.c_str(), 0, CaptureIndexFile, nullptr, nullptr);
  cab::Destroy(context);
  if (indexTooLarge) {
    *error = "it is larger than " + std::to_string(kMaxIndexFileBytes) + " bytes";
    return false;
  }
  if (!indexClosed) {
    if (!copied) *error = utf8Path + ": cannot decode (code " + std::to_string(record.code) + ")";
    return false;
  }
  *bytes = MemorySink();
  return true;
}

std::map<std::string, std::string> ParseIndexFile(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> chars;
  if (LooksLikeUtf16(bytes)) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) chars.push_back(uint32_t(bytes[i] | (bytes[i + 1] << 8)));
    if (!chars.empty() && chars[0] == 0xFEFF) chars.erase(chars.begin());
  } else {
    chars.assign(bytes.begin(), bytes.end());
  }
  std::map<std::string, std::string> map;
  size_t start = 0;
  while (start < chars.size()) {
    size_t end = start;
    while (end < chars.size() && chars[end] != '\n') ++end;
    size_t lineEnd = end;
    if (lineEnd > start && chars[lineEnd - 1] == '\r') --lineEnd;
    size_t keyEnd = std::min(lineEnd, start + 38);
    size_t trimmed = keyEnd;
    while (trimmed > start && (chars[trimmed - 1] == ' ' || chars[trimmed - 1] == '\t' || chars[trimmed - 1] == '\r' ||
                               chars[trimmed - 1] == '\v' || chars[trimmed - 1] == '\f'))
      --trimmed;
    std::string key, path;
    for (size_t i = start; i < trimmed; ++i) AppendUtf8(key, chars[i]);
    for (size_t i = keyEnd; i < lineEnd; ++i) AppendUtf8(path, chars[i]);
    if (!key.empty() || !path.empty()) map[key] = path;
    start = end + 1;
  }
  return map;
}

std::string DescribeMethod(uint16_t typeCompress) {
  switch (typeCompress & cab::kCompressMask) {
    case cab::kCompressNone: return "stored";
    case cab::kCompressMszip: return "mszip";
    case cab::kCompressQuantum: return "quantum:" + std::to_string(cab::CompressWindowBits(typeCompress));
    case cab::kCompressLzx: return "lzx:" + std::to_string(cab::CompressWindowBits(typeCompress));
    default: return "unknown(" + std::to_string(typeCompress & cab::kCompressMask) + ")";
  }
}

std::string DosDateText(uint16_t date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", 1980u + (date >> 9), (date >> 5) & 15u, date & 31u);
  return text;
}

std::string DosTimeText(uint16_t time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
  return text;
}

std::string AttributeText(uint16_t a) {
  std::string text;
  text += (a & cab::kAttribReadOnly) ? 'R' : '-';
  text += (a & cab::kAttribHidden) ? 'H' : '-';
  text += (a & cab::kAttribSystem) ? 'S' : '-';
  text += (a & cab::kAttribArchive) ? 'A' : '-';
  text += (a & cab::kAttribExecute) ? 'X' : '-';
  return text;
}

}  // namespace orvo::cabtool
