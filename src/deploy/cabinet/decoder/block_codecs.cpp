// The two methods that work block by block: stored and MSZIP.
#include <zlib.h>

#include "cab_decoder.h"
#include "codec.h"

namespace orvo::cab::detail {
namespace {

class StoredCodec final : public Codec {
 public:
  void Reset() override {}
  int Decode(const uint8_t* in, uint32_t inLen, uint32_t outLen, const uint8_t** out) override {
    if (inLen != outLen) return kErrorCorruptCabinet;
    *out = in;
    return kErrorNone;
  }
};

// Each MSZIP block is "CK" and a raw deflate stream of its own, but matches
// may reach into the previous 32 KB of the folder: that history is handed to
// zlib as a preset dictionary before every block.
class MszipCodec final : public Codec {
 public:
  MszipCodec(const Memory& memory, uint8_t* out) : memory_(memory), out_(out) {}
  ~MszipCodec() override {
    if (ready_) inflateEnd(&z_);
    memory_.Put(history_);
  }

  bool Init() {
    history_ = static_cast<uint8_t*>(memory_.Get(kFrameSize));
    if (!history_) return false;
    z_.zalloc = &ZAlloc;
    z_.zfree = &ZFree;
    z_.opaque = const_cast<Memory*>(&memory_);
    ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    return ready_;
  }

  void Reset() override { historyLen_ = 0; }

  int Decode(const uint8_t* in, uint32_t inLen, uint32_t outLen, const uint8_t** out) override {
    if (inLen < 2 || in[0] != 'C' || in[1] != 'K') return kErrorDecompression;
    if (inflateReset(&z_) != Z_OK) return kErrorDecompression;
    if (historyLen_ && inflateSetDictionary(&z_, history_, historyLen_) != Z_OK)
      return kErrorDecompression;
    z_.next_in = const_cast<Bytef*>(in + 2);
    z_.avail_in = inLen - 2;
    z_.next_out = out_;
    z_.avail_out = outLen;
    int rc = inflate(&z_, Z_FINISH);
    if (rc == Z_MEM_ERROR) return kErrorOutOfMemory;
    // A block must give exactly its stated size; whether its last deflate
    // block carried the final bit does not matter, the next block restarts.
    if (z_.avail_out != 0 || (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR))
      return kErrorDecompression;
    Remember(outLen);
    *out = out_;
    return kErrorNone;
  }

 private:
  void Remember(uint32_t n) {
    if (n >= kFrameSize) {
      std::memcpy(history_, out_ + (n - kFrameSize), kFrameSize);
      historyLen_ = kFrameSize;
      return;
    }
    uint32_t keep = historyLen_ + n > kFrameSize ? kFrameSize - n : historyLen_;
    std::memmove(history_, history_ + (historyLen_ - keep), keep);
    std::memcpy(history_ + keep, out_, n);
    historyLen_ = keep + n;
  }

  static voidpf ZAlloc(voidpf opaque, uInt items, uInt size) {
    if (size && items > 0x7FFFFFFFu / size) return Z_NULL;
    return static_cast<Memory*>(opaque)->Get(size_t(items) * size);
  }
  static void ZFree(voidpf opaque, voidpf p) { static_cast<Memory*>(opaque)->Put(p); }

  Memory memory_;
  uint8_t* out_;
  uint8_t* history_ = nullptr;
  uint32_t historyLen_ = 0;
  z_stream z_{};
  bool ready_ = false;
};

}  // namespace

Codec* NewStoredCodec(const Memory& memory) { return memory.New<StoredCodec>(); }

Codec* NewMszipCodec(const Memory& memory, uint8_t* outBuffer) {
  MszipCodec* c = memory.New<MszipCodec>(memory, outBuffer);
  if (c && !c->Init()) {
    memory.Delete(c);
    return nullptr;
  }
  return c;
}

}  // namespace orvo::cab::detail
