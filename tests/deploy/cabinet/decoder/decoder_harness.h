// Test harness for the cabinet decoder: in-memory files behind the decoder's
// callbacks, a recorder of notifications, and a small cabinet builder for
// stored and MSZIP folders (sets, reserves, checksums, hostile variants).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cab_decoder.h"

namespace orvo::cab::test {

using Bytes = std::vector<uint8_t>;

// The decoder's callbacks carry no user pointer, so the files live in one
// process-wide store. Cabinets are read from it; every file the decoder
// writes lands in it under a generated name.
class MemoryFiles {
 public:
  static MemoryFiles& Get();
  void Reset();
  void Put(const std::string& path, Bytes bytes) { files_[path] = std::move(bytes); }
  const Bytes* Find(const std::string& path) const;
  Callbacks MakeCallbacks() const;

  int openDescriptors = 0;       // open now
  std::vector<std::string> opened;  // paths the decoder opened, in order
  size_t allocated = 0;          // bytes held now
  size_t peakAllocated = 0;
  size_t failAllocAbove = SIZE_MAX;  // allocations larger than this fail
  size_t failWriteAfter = SIZE_MAX;  // bytes after which writes come up short

  // Descriptor for a new output file (what a COPY_FILE answer hands over).
  Descriptor CreateOutput(const std::string& name);
  const Bytes& Output(Descriptor fd) const;

 private:
  struct Open {
    std::string path;
    size_t pos = 0;
    bool output = false;
  };
  friend struct Access;
  std::map<std::string, Bytes> files_;
  std::map<Descriptor, Open> open_;
  std::map<void*, size_t> blocks_;
  Descriptor nextFd_ = 5;
  size_t written_ = 0;
};

struct Event {
  NotificationType type;
  std::string text1, text2, text3;
  uint32_t size = 0;
  uint16_t date = 0, time = 0, attributes = 0, folder = 0;
  uint16_t setId = 0, cabinetIndex = 0;
};

// Runs Copy over folder + name and records what happened. By default every
// file is extracted; `answer` may override the answer to any notification
// (return `kDefault` to keep the default).
struct Extraction {
  static constexpr intptr_t kDefault = INTPTR_MIN;
  std::function<intptr_t(const Event&)> answer;

  bool ok = false;
  ErrorRecord error;
  std::vector<Event> events;
  std::vector<std::pair<std::string, Bytes>> files;  // closed files, in order

  Extraction& Run(const std::string& folder, const std::string& name);
  // Concatenated "type:text1" of the notifications, e.g. "0:b.cab 2:a.txt 3:a.txt".
  std::string Trace() const;
  const Bytes* File(const std::string& name) const;
};

// ---- building test cabinets -----------------------------------------------

struct TestFile {
  std::string name;
  Bytes data;
  uint16_t attributes = 0x20;
  uint16_t date = 0x5A21, time = 0x6C40;
};

struct CabOptions {
  uint16_t method = 0;  // the folder's compression type word
  uint8_t versionMinor = 3, versionMajor = 1;
  uint16_t headerReserve = 0;
  uint8_t folderReserve = 0, dataReserve = 0;
  bool forceReserveFlag = false;  // reserve flag with all sizes 0
  bool checksums = true;
  uint16_t setId = 0x4242;
  uint16_t firstIndex = 0;
  size_t blockSize = 32768;  // uncompressed bytes per data block
};

// One folder of files compressed into data blocks (stored or MSZIP with the
// history carried from block to block).
struct FolderData {
  struct Block {
    Bytes data;
    uint16_t uncompressed;
  };
  std::vector<Block> blocks;
};
FolderData CompressFolder(const std::vector<TestFile>& files, const CabOptions& options);

// A cut splits the folder's data between cabinet k and k+1: before block
// `block`, or, with `splitBlock`, inside it (its bytes divided in two).
struct Cut {
  size_t block;
  bool splitBlock = false;
};

// Cabinets named names[0..] holding one folder, cut as given (no cuts: one
// cabinet). Files that cross a cut get the continued folder indices.
// With `blocks`, the folder's data blocks are taken as they are (the files
// must add up to their uncompressed bytes) and options.method names them.
std::vector<Bytes> BuildSet(const std::vector<TestFile>& files, const CabOptions& options,
                            const std::vector<std::string>& names, const std::vector<Cut>& cuts = {},
                            const FolderData* blocks = nullptr);
inline Bytes BuildCabinet(const std::vector<TestFile>& files, const CabOptions& options = {}) {
  return BuildSet(files, options, {"test.cab"})[0];
}

// Deterministic content: text-like (compressible) or noise.
Bytes TextData(size_t n, uint32_t seed);
Bytes NoiseData(size_t n, uint32_t seed);

// Offsets of the header fields of a built cabinet, for hostile edits.
struct Layout {
  size_t foldersOffset;  // first CFFOLDER
  size_t filesOffset;    // first CFFILE
  size_t firstBlock;     // first CFDATA
};
Layout LayoutOf(const Bytes& cab);

// The files and data blocks of folder `index` of a cabinet (one cabinet,
// no reserve areas), with its compression type word.
FolderData FolderOf(const Bytes& cab, unsigned index, std::vector<TestFile>* files, uint16_t* type);

std::string ReadFileBytes(const std::string& path, Bytes* out);  // "" or an error text

}  // namespace orvo::cab::test
