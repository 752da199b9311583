// Writes "MSCF" cabinets and cabinet sets: stored, MSZIP and LZX folders,
// several folders per cabinet, optional reserve areas, and sets split at a
// size limit with files continued from cabinet to cabinet. Files are
// streamed: the writer holds one compression window, not the files.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cab_format.h"

namespace orvo::cab {

enum class Method : uint8_t { kStored, kMszip, kLzx };

struct Compression {
  Method method = Method::kMszip;
  unsigned windowBits = 21;  // LZX: 15..21
  int level = 6;             // MSZIP: zlib level 1..9; LZX: search effort 1..9
  bool e8Translation = true;  // LZX: translate x86 call targets

  uint16_t TypeCompress() const;
  static Compression Stored() { return {Method::kStored, 0, 0, false}; }
  static Compression Mszip(int level = 6) { return {Method::kMszip, 0, level, false}; }
  // Effort 3 by default: on the media's content it packs as tightly as 6
  // in half the time; mixed binaries lose about one percent.
  static Compression Lzx(unsigned windowBits = 21, int level = 3) {
    return {Method::kLzx, windowBits, level, true};
  }
};

// "stored" (or "none"), "mszip", "lzx" (window 2^21) or "lzx:N" for N in 15..21.
std::optional<Compression> ParseCompression(std::string_view text);
std::string CompressionName(const Compression& c);

// DOS date and time as stored in file entries.
constexpr uint16_t DosDate(int year, int month, int day) {
  return uint16_t(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t DosTime(int hour, int minute, int second) {
  return uint16_t((hour << 11) | (minute << 5) | (second / 2));
}
// Local time of t; times before 1980 become 1980-01-01 00:00.
void DosDateTimeFromTime(std::time_t t, uint16_t* date, uint16_t* time);

struct FileEntry {
  std::string name;  // stored name, UTF-8, at most 255 bytes
  uint16_t date = DosDate(1980, 1, 1);
  uint16_t time = 0;
  uint16_t attribs = kAttribArchive;  // the UTF-8 name bit is added when needed
};

struct CabinetSetOptions {
  uint64_t maxCabinetSize = 0;  // 0: a single cabinet of any size
  uint16_t setId = 0;
  uint16_t headerReserve = 0;  // reserve areas, zero-filled
  uint8_t folderReserve = 0;
  uint8_t dataReserve = 0;
  // A file that would take a folder past this many bytes starts a new one.
  uint32_t maxFolderSize = 0x7FFF8000;
  // File name of cabinet `index` (0-based) of the set. By default the first
  // cabinet keeps its own name and cabinet n+1 is named "<stem><n+1><ext>".
  std::function<std::string(unsigned index)> cabinetName;
  // Disk name recorded for cabinet `index`; empty by default.
  std::function<std::string(unsigned index)> diskName;
};

class CabinetWriter {
 public:
  // `path` is the first cabinet; further cabinets of a set go beside it.
  explicit CabinetWriter(std::string path, CabinetSetOptions options = {});
  ~CabinetWriter();
  CabinetWriter(const CabinetWriter&) = delete;
  CabinetWriter& operator=(const CabinetWriter&) = delete;

  // Ends the current folder; later files go to a new one with this method.
  // Files added before any call go to an MSZIP folder.
  bool StartFolder(const Compression& compression);

  bool AddFile(const FileEntry& entry, const void* data, size_t size);
  bool AddFileFromPath(const FileEntry& entry, const std::string& path);

  // Streaming: exactly `size` bytes must follow through Write before EndFile.
  bool BeginFile(const FileEntry& entry, uint64_t size);
  bool Write(const void* data, size_t size);
  bool EndFile();

  // Flushes the last folder and writes the last cabinet.
  bool Finish();

  // Why the last call failed; once a call has failed, later calls fail too.
  const std::string& error() const;
  // Full paths of the cabinets written so far, in set order.
  const std::vector<std::string>& cabinetPaths() const;

  struct Totals {
    uint64_t uncompressedBytes = 0;
    uint64_t cabinetBytes = 0;  // sum of the written cabinets' sizes
    unsigned files = 0;
    unsigned folders = 0;
  };
  Totals totals() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvo::cab
