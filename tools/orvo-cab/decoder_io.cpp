#include "decoder_io.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "file_io.h"

namespace orvo::cabtool {
namespace {

size_t inUse = 0;
size_t peak = 0;

// The decoder frees without a size: keep it in front of each block.
constexpr size_t kHeader = 16;

void* Allocate(uint32_t size) {
  auto* block = static_cast<uint8_t*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  *reinterpret_cast<size_t*>(block) = size;
  inUse += size;
  if (inUse > peak) peak = inUse;
  return block + kHeader;
}

void Release(void* p) {
  if (!p) return;
  uint8_t* block = static_cast<uint8_t*>(p) - kHeader;
  inUse -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}

std::FILE* Stream(cab::Descriptor fd) { return reinterpret_cast<std::FILE*>(fd); }

cab::Descriptor Open(const char* utf8Path, int flags, int mode) {
  // The decoder opens cabinets only, and only for reading.
  cab::FilePtr file = cab::OpenFile(utf8Path, "rb");
  if (!file) return -1;
  return reinterpret_cast<cab::Descriptor>(file.release());
}

uint32_t Read(cab::Descriptor fd, void* buffer, uint32_t count) {
  if (fd == kMemoryDescriptor) return uint32_t(-1);
  size_t got = std::fread(buffer, 1, count, Stream(fd));
  if (got < count && std::ferror(Stream(fd))) return uint32_t(-1);
  return uint32_t(got);
}

uint32_t Write(cab::Descriptor fd, const void* buffer, uint32_t count) {
  if (fd == kMemoryDescriptor) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    MemorySink().insert(MemorySink().end(), bytes, bytes + count);
    return count;
  }
  return uint32_t(std::fwrite(buffer, 1, count, Stream(fd)));
}

int Close(cab::Descriptor fd) {
  if (fd == kMemoryDescriptor) return 0;
  return std::fclose(Stream(fd));
}

int32_t Seek(cab::Descriptor fd, int32_t offset, int origin) {
  if (fd == kMemoryDescriptor) return -1;
  int whence = origin == cab::kSeekCur ? SEEK_CUR : origin == cab::kSeekEnd ? SEEK_END : SEEK_SET;
  if (std::fseek(Stream(fd), offset, whence) != 0) return -1;
  long position = std::ftell(Stream(fd));
  return position < 0 || position > 0x7FFFFFFFL ? -1 : int32_t(position);
}

const cab::Callbacks kCallbacks{Allocate, Release, Open, Read, Write, Close, Seek};

}  // namespace

const cab::Callbacks& StreamCallbacks() { return kCallbacks; }

std::vector<uint8_t>& MemorySink() {
  static std::vector<uint8_t> sink;
  return sink;
}

size_t DecoderPeakMemory() { return peak; }
void ResetDecoderPeakMemory() { peak = inUse; }

}  // namespace orvo::cabtool
