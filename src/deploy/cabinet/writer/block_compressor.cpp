#include "block_compressor.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "cab_format.h"

namespace orvo::cab {
namespace {

// Collects the stream into 32 KB frames; subclasses turn a frame into a block.
class FramedCompressor : public BlockCompressor {
 public:
  explicit FramedCompressor(BlockSink sink) : sink_(std::move(sink)) { frame_.reserve(kMaxBlockUncompressed); }

  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      size_t take = std::min(size, kMaxBlockUncompressed - frame_.size());
      frame_.insert(frame_.end(), data, data + take);
      data += take;
      size -= take;
      if (frame_.size() == kMaxBlockUncompressed && !Flush()) return false;
    }
    return true;
  }

  bool Finish() override { return frame_.empty() || Flush(); }

 protected:
  virtual bool Compress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) = 0;

 private:
  bool Flush() {
    out_.clear();
    if (!Compress(frame_, out_)) return false;
    bool ok = sink_(out_.data(), out_.size(), uint32_t(frame_.size()));
    frame_.clear();
    if (!ok && error_.empty()) error_ = "data block rejected";
    return ok;
  }

  BlockSink sink_;
  std::vector<uint8_t> frame_;
  std::vector<uint8_t> out_;
};

class StoredCompressor final : public FramedCompressor {
 public:
  using FramedCompressor::FramedCompressor;

 protected:
  bool Compress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) override {
    out = frame;
    return true;
  }
};

// Each block is "CK" and a complete raw deflate stream; the decoder keeps the
// previous block's output as history, so the stream is primed with it.
class MszipCompressor final : public FramedCompressor {
 public:
  MszipCompressor(BlockSink sink, int level) : FramedCompressor(std::move(sink)) {
    std::memset(&zs_, 0, sizeof zs_);
    if (level < 1 || level > 9) level = 6;
    // memLevel 9 keeps zlib's symbol buffer at a whole frame, so an
    // incompressible frame costs at most two stored blocks.
    ready_ = deflateInit2(&zs_, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    if (!ready_) error_ = "deflateInit2 failed";
  }
  ~MszipCompressor() override {
    if (ready_) deflateEnd(&zs_);
  }

 protected:
  bool Compress(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) override {
    if (!ready_) return false;
    if (deflateReset(&zs_) != Z_OK) return Fail("deflateReset failed");
    if (!history_.empty() &&
        deflateSetDictionary(&zs_, history_.data(), uInt(history_.size())) != Z_OK)
      return Fail("deflateSetDictionary failed");
    out.resize(2 + deflateBound(&zs_, uLong(frame.size())) + 16);
    out[0] = 'C';
    out[1] = 'K';
    zs_.next_in = const_cast<Bytef*>(frame.data());
    zs_.avail_in = uInt(frame.size());
    zs_.next_out = out.data() + 2;
    zs_.avail_out = uInt(out.size() - 2);
    if (deflate(&zs_, Z_FINISH) != Z_STREAM_END) return Fail("deflate did not finish");
    out.resize(out.size() - zs_.avail_out);
    // Decoders size their input for 32768 + 12 bytes: fall back to one
    // stored deflate block when deflate would need more.
    if (out.size() > frame.size() + 7) {
      out.resize(7 + frame.size());
      out[2] = 0x01;  // BFINAL, stored
      WriteLe16(&out[3], uint16_t(frame.size()));
      WriteLe16(&out[5], uint16_t(~frame.size()));
      std::memcpy(&out[7], frame.data(), frame.size());
    }
    history_ = frame;
    return true;
  }

 private:
  bool Fail(const char* what) {
    error_ = what;
    return false;
  }
  z_stream zs_;
  bool ready_ = false;
  std::vector<uint8_t> history_;
};

}  // namespace

std::unique_ptr<BlockCompressor> MakeStoredCompressor(BlockSink sink) {
  return std::make_unique<StoredCompressor>(std::move(sink));
}

std::unique_ptr<BlockCompressor> MakeMszipCompressor(BlockSink sink, int level) {
  return std::make_unique<MszipCompressor>(std::move(sink), level);
}

}  // namespace orvo::cab
