// Per-folder compressors: they take the folder's uncompressed stream and hand
// out finished data blocks (at most 32768 uncompressed bytes each).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvo::cab {

// Receives one data block: its compressed bytes and how many uncompressed
// bytes it stands for. Returning false stops the compressor.
using BlockSink = std::function<bool(const uint8_t* data, size_t size, uint32_t uncompressed)>;

class BlockCompressor {
 public:
  virtual ~BlockCompressor() = default;
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Emits every block still pending; the folder ends here.
  virtual bool Finish() = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

std::unique_ptr<BlockCompressor> MakeStoredCompressor(BlockSink sink);
// level: zlib level 1..9.
std::unique_ptr<BlockCompressor> MakeMszipCompressor(BlockSink sink, int level);

}  // namespace orvo::cab
