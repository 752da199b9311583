// What orvo-cab reads from a cabinet without extracting it: the header and
// file table, and the "IndexFile.dat" map. Portable.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvo::cabtool {

struct DirectoryEntry {
  std::string name;  // stored name, as stored (UTF-8 when the name bit is set)
  uint32_t size = 0;
  uint16_t folder = 0;  // the raw folder index, continuation marks included
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attributes = 0;
};

struct CabinetDirectory {
  uint32_t cabinetSize = 0;
  uint16_t folders = 0;
  uint16_t setId = 0;
  uint16_t cabinetIndex = 0;
  std::string previousCabinet, nextCabinet;
  std::vector<uint16_t> folderMethods;  // typeCompress of each folder
  std::vector<DirectoryEntry> files;
};

// False with a message when the file is not a readable cabinet.
bool ReadCabinetDirectory(const std::string& utf8Path, CabinetDirectory* directory, std::string* error);

// The decoded bytes of the cabinet's "IndexFile.dat"; false when it has none
// or it cannot be decoded.
bool ReadIndexFile(const std::string& utf8Path, std::vector<uint8_t>* bytes, std::string* error);

// Stored name to relative path, read as the installer reads the file: key in
// the first 38 columns (trailing white space removed), path after them.
std::map<std::string, std::string> ParseIndexFile(const std::vector<uint8_t>& bytes);

std::string DescribeMethod(uint16_t typeCompress);
std::string DosDateText(uint16_t date);
std::string DosTimeText(uint16_t time);
std::string AttributeText(uint16_t attributes);

}  // namespace orvo::cabtool
