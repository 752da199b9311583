// LZX: Huffman-coded LZ77 over a window of 2^15..2^21 bytes, one frame of
// 32 KB per data block. Block state (trees, repeated offsets, remaining
// length) carries over from frame to frame; each frame's bits start at its
// data block, since frames end on a 16-bit boundary.
#include <type_traits>

#include "cab_decoder.h"
#include "cab_format.h"
#include "codec.h"

namespace orvo::cab::detail {
namespace {

// A wide bit buffer where registers allow: fewer refills per symbol.
using BitBuf = std::conditional_t<(sizeof(void*) >= 8), uint64_t, uint32_t>;
constexpr int kBufBits = int(sizeof(BitBuf) * 8);

// 16-bit little-endian words, most significant bit first. Past the end of
// the block it reads zeros; the position keeps counting so that byte
// offsets derived from it stay consistent.
class BitReader {
 public:
  void Start(const uint8_t* data, size_t len, size_t pos) {
    data_ = data;
    len_ = len;
    pos_ = pos;
    buf_ = 0;
    bits_ = 0;
  }
  // After Ensure(n) with n <= 17 at least n bits are buffered.
  inline void Ensure(int n) {
    if (bits_ < n) Refill();
  }
  inline uint32_t Peek(int n) const { return uint32_t(buf_ >> (kBufBits - n)); }
  inline void Drop(int n) {
    buf_ <<= n;
    bits_ -= n;
  }
  inline uint32_t Read(int n) {
    if (n == 0) return 0;
    Ensure(n);
    uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  int Bits() const { return bits_; }
  // Byte offset of the next unread bit, valid when Bits() is a multiple of 16.
  size_t BytePos() const { return pos_ - size_t(bits_ / 8); }

 private:
  void Refill() {
    if constexpr (kBufBits == 64) {
      if (bits_ <= 32 && pos_ + 4 <= len_) {
        const uint8_t* p = data_ + pos_;
        uint32_t w = (uint32_t(p[1]) << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[3]) << 8) | p[2];
        buf_ |= BitBuf(w) << (32 - bits_);
        bits_ += 32;
        pos_ += 4;
        return;
      }
    }
    while (bits_ <= kBufBits - 16) {
      uint32_t w = 0;
      if (pos_ + 1 < len_)
        w = uint32_t(data_[pos_]) | (uint32_t(data_[pos_ + 1]) << 8);
      else if (pos_ < len_)
        w = data_[pos_];
      pos_ += 2;
      buf_ |= BitBuf(w) << (kBufBits - 16 - bits_);
      bits_ += 16;
    }
  }

  const uint8_t* data_ = nullptr;
  size_t len_ = 0;
  size_t pos_ = 0;
  BitBuf buf_ = 0;
  int bits_ = 0;
};

// Canonical Huffman code decoded through a table of 2^kTableBits entries;
// longer codes continue in sub-tables. Entry: symbol | length << 16, or
// kSub | sub-table bits << 16 | sub-table start; 0 marks a code that the
// (incomplete) tree does not have.
template <int kTableBits, int kSymbols, int kMaxLen, int kSubCapacity>
class Huffman {
 public:
  // False for an over-subscribed tree, or one too ragged for the sub-table
  // room (no tree a real encoder builds).
  bool Build(const uint8_t* lengths) {
    uint16_t count[kMaxLen + 1] = {};
    for (int s = 0; s < kSymbols; ++s) {
      if (lengths[s] > kMaxLen) return false;
      ++count[lengths[s]];
    }
    count[0] = 0;
    int32_t left = 1;
    uint32_t next[kMaxLen + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxLen; ++len) {
      left = (left << 1) - count[len];
      if (left < 0) return false;
      code = (code + count[len - 1]) << 1;
      next[len] = code;
    }
    std::memset(entry_, 0, sizeof(uint32_t) << kTableBits);
    uint8_t longest[1 << kTableBits] = {};
    uint16_t codes[kSymbols];
    bool anyLong = false;
    for (int s = 0; s < kSymbols; ++s) {
      int len = lengths[s];
      if (!len) continue;
      uint32_t c = next[len]++;
      codes[s] = uint16_t(c);
      if (len <= kTableBits) {
        uint32_t first = c << (kTableBits - len), n = 1u << (kTableBits - len);
        for (uint32_t i = 0; i < n; ++i) entry_[first + i] = uint32_t(s) | (uint32_t(len) << 16);
      } else {
        uint32_t prefix = c >> (len - kTableBits);
        if (len > longest[prefix]) longest[prefix] = uint8_t(len);
        anyLong = true;
      }
    }
    if (!anyLong) return true;
    uint32_t used = 1u << kTableBits;
    for (uint32_t p = 0; p < (1u << kTableBits); ++p) {
      if (!longest[p]) continue;
      uint32_t bits = longest[p] - kTableBits, size = 1u << bits;
      if (used + size > kEntries) return false;
      std::memset(entry_ + used, 0, size * sizeof(uint32_t));
      entry_[p] = kSub | (bits << 16) | used;
      used += size;
    }
    for (int s = 0; s < kSymbols; ++s) {
      int len = lengths[s];
      if (len <= kTableBits) continue;
      uint32_t c = codes[s], extra = len - kTableBits;
      uint32_t head = entry_[c >> extra];
      uint32_t bits = (head >> 16) & 0xFF, start = head & 0xFFFF;
      uint32_t first = (c & ((1u << extra) - 1)) << (bits - extra), n = 1u << (bits - extra);
      for (uint32_t i = 0; i < n; ++i) entry_[start + first + i] = uint32_t(s) | (uint32_t(len) << 16);
    }
    return true;
  }

  // The symbol, or -1 for a code the tree lacks.
  inline int Decode(BitReader& br) const {
    br.Ensure(16);
    uint32_t e = entry_[br.Peek(kTableBits)];
    if (e & kSub) {
      uint32_t bits = (e >> 16) & 0xFF;
      e = entry_[(e & 0xFFFF) + (br.Peek(kTableBits + int(bits)) & ((1u << bits) - 1))];
    }
    int len = int((e >> 16) & 0xFF);
    if (len == 0) return -1;
    br.Drop(len);
    return int(e & 0xFFFF);
  }

 private:
  static constexpr uint32_t kSub = 0x80000000u;
  static constexpr uint32_t kEntries = (1u << kTableBits) + kSubCapacity;
  uint32_t entry_[kEntries];
};

constexpr int kMaxSlots = 50;
constexpr int kMainMax = 256 + 8 * kMaxSlots;
constexpr int kLengthSymbols = 249;
constexpr int kPreSymbols = 20;
constexpr int kBlockVerbatim = 1, kBlockAligned = 2, kBlockUncompressed = 3;
constexpr uint32_t kE8Frames = 32768;  // translation stops after the first 1 GB

struct SlotTables {
  uint8_t extra[kMaxSlots];
  uint32_t base[kMaxSlots];
  constexpr SlotTables() : extra(), base() {
    uint32_t b = 0;
    for (int i = 0; i < kMaxSlots; ++i) {
      int e = i < 4 ? 0 : (i - 2) / 2;
      extra[i] = uint8_t(e > 17 ? 17 : e);
      base[i] = b;
      b += 1u << extra[i];
    }
  }
};
constexpr SlotTables kSlots;

unsigned SlotCount(unsigned windowBits) {
  static const uint8_t kCounts[] = {30, 32, 34, 36, 38, 42, 50};
  return kCounts[windowBits - 15];
}

class LzxCodec final : public Codec {
 public:
  LzxCodec(const Memory& memory, unsigned windowBits, uint8_t* out)
      : memory_(memory),
        out_(out),
        windowSize_(1u << windowBits),
        mainSymbols_(256 + 8 * SlotCount(windowBits)) {}
  ~LzxCodec() override { memory_.Put(window_); }

  bool Init() {
    window_ = static_cast<uint8_t*>(memory_.Get(windowSize_));
    Reset();
    return window_ != nullptr;
  }

  void Reset() override {
    pos_ = 0;
    total_ = 0;
    frames_ = 0;
    started_ = false;
    e8Size_ = 0;
    translate_ = false;
    blockType_ = 0;
    blockLeft_ = 0;
    blockOdd_ = false;
    padPending_ = false;
    r0_ = r1_ = r2_ = 1;
    std::memset(mainLen_, 0, sizeof mainLen_);
    std::memset(lengthLen_, 0, sizeof lengthLen_);
  }

  int Decode(const uint8_t* in, uint32_t inLen, uint32_t outLen, const uint8_t** out) override {
    if (outLen == 0 || outLen > kFrameSize || pos_ + outLen > windowSize_) return kErrorDecompression;
    in_ = in;
    inLen_ = inLen;
    size_t raw = 0;
    if (padPending_) {
      raw = 1;  // an odd stored block ended the previous frame without its pad
      padPending_ = false;
    }
    br_.Start(in, inLen, raw);
    if (!started_) {
      started_ = true;
      if (br_.Read(1)) {
        uint32_t hi = br_.Read(16);
        e8Size_ = int32_t((hi << 16) | br_.Read(16));
        translate_ = true;
      }
    }
    frameStart_ = pos_;
    const uint32_t frameEnd = pos_ + outLen;
    while (pos_ < frameEnd) {
      if (blockLeft_ == 0) {
        if (!ReadBlockHeader(raw)) return kErrorDecompression;
        continue;  // a block may be empty
      }
      uint32_t run = blockLeft_ < frameEnd - pos_ ? blockLeft_ : frameEnd - pos_;
      if (blockType_ == kBlockUncompressed) {
        if (raw + run > inLen_) return kErrorDecompression;
        std::memcpy(window_ + pos_, in_ + raw, run);
        raw += run;
        pos_ += run;
        blockLeft_ -= run;
        if (blockLeft_ == 0) {
          if (blockOdd_) {
            if (raw < inLen_)
              ++raw;
            else
              padPending_ = true;
          }
          br_.Start(in_, inLen_, raw);
        }
      } else {
        if (!DecodeRun(pos_ + run)) return kErrorDecompression;
        blockLeft_ -= run;
      }
    }
    const uint8_t* result = window_ + frameStart_;
    if (translate_ && frames_ < kE8Frames && outLen > 10) {
      std::memcpy(out_, result, outLen);
      Translate(out_, outLen, uint32_t(total_));
      result = out_;
    }
    ++frames_;
    total_ += outLen;
    if (pos_ == windowSize_) pos_ = 0;
    *out = result;
    return kErrorNone;
  }

 private:
  bool ReadBlockHeader(size_t& raw) {
    int type = int(br_.Read(3));
    uint32_t size = br_.Read(16) << 8;
    size |= br_.Read(8);
    switch (type) {
      case kBlockAligned:
        for (int i = 0; i < 8; ++i) alignedLen_[i] = uint8_t(br_.Read(3));
        if (!aligned_.Build(alignedLen_)) return false;
        [[fallthrough]];
      case kBlockVerbatim:
        if (!ReadLengths(mainLen_, 0, 256) || !ReadLengths(mainLen_, 256, mainSymbols_) ||
            !main_.Build(mainLen_))
          return false;
        if (!ReadLengths(lengthLen_, 0, kLengthSymbols) || !length_.Build(lengthLen_)) return false;
        break;
      case kBlockUncompressed: {
        // 1 to 16 bits of padding up to the next word, then R0..R2.
        int drop = br_.Bits() & 15;
        if (drop == 0) drop = 16;
        br_.Ensure(drop);
        br_.Drop(drop);
        raw = br_.BytePos();
        if (raw + 12 > inLen_) return false;
        r0_ = ReadLe32(in_ + raw);
        r1_ = ReadLe32(in_ + raw + 4);
        r2_ = ReadLe32(in_ + raw + 8);
        raw += 12;
        if (!r0_ || !r1_ || !r2_) return false;
        blockOdd_ = (size & 1) != 0;
        if (size == 0) br_.Start(in_, inLen_, raw + (blockOdd_ ? 1 : 0));
        break;
      }
      default:
        return false;
    }
    blockType_ = type;
    blockLeft_ = size;
    return true;
  }

  // Code lengths as deltas against the previous tree, through a pretree.
  bool ReadLengths(uint8_t* lens, int first, int last) {
    uint8_t preLen[kPreSymbols];
    for (int i = 0; i < kPreSymbols; ++i) preLen[i] = uint8_t(br_.Read(4));
    if (!pre_.Build(preLen)) return false;
    for (int x = first; x < last;) {
      int z = pre_.Decode(br_);
      if (z < 0) return false;
      if (z <= 16) {
        lens[x] = uint8_t((lens[x] + 17 - z) % 17);
        ++x;
        continue;
      }
      int run;
      uint8_t value = 0;
      if (z == 17) {
        run = 4 + int(br_.Read(4));
      } else if (z == 18) {
        run = 20 + int(br_.Read(5));
      } else {
        run = 4 + int(br_.Read(1));
        int d = pre_.Decode(br_);
        if (d < 0 || d > 16) return false;
        value = uint8_t((lens[x] + 17 - d) % 17);
      }
      if (run > last - x) return false;
      std::memset(lens + x, value, size_t(run));
      x += run;
    }
    return true;
  }

  bool DecodeRun(uint32_t end) {
    uint8_t* const window = window_;
    const uint32_t windowSize = windowSize_;
    const bool aligned = blockType_ == kBlockAligned;
    // Until a whole window was produced, matches may not reach before the
    // start of the folder.
    const bool warm = total_ >= windowSize;
    const uint32_t before = warm ? 0 : uint32_t(total_) - frameStart_;
    BitReader br = br_;
    uint32_t pos = pos_, r0 = r0_, r1 = r1_, r2 = r2_;
    bool ok = true;
    while (pos < end) {
      int sym = main_.Decode(br);
      if (sym < 256) {
        if (sym < 0) {
          ok = false;
          break;
        }
        window[pos++] = uint8_t(sym);
        continue;
      }
      sym -= 256;
      uint32_t len = uint32_t(sym & 7);
      uint32_t slot = uint32_t(sym >> 3);
      if (len == 7) {
        int more = length_.Decode(br);
        if (more < 0) {
          ok = false;
          break;
        }
        len += uint32_t(more);
      }
      len += 2;
      uint32_t off;
      if (slot == 0) {
        off = r0;
      } else if (slot == 1) {
        off = r1;
        r1 = r0;
        r0 = off;
      } else if (slot == 2) {
        off = r2;
        r2 = r0;
        r0 = off;
      } else {
        int extra = kSlots.extra[slot];
        off = kSlots.base[slot] - 2;
        if (aligned && extra >= 3) {
          if (extra > 3) off += br.Read(extra - 3) << 3;
          int a = aligned_.Decode(br);
          if (a < 0) {
            ok = false;
            break;
          }
          off += uint32_t(a);
        } else if (extra) {
          off += br.Read(extra);
        }
        r2 = r1;
        r1 = r0;
        r0 = off;
      }
      if (len > end - pos || off == 0 || off > windowSize || (!warm && off > before + pos)) {
        ok = false;
        break;
      }
      CopyMatch(window, windowSize, pos, off, len);
      pos += len;
    }
    br_ = br;
    pos_ = pos;
    r0_ = r0;
    r1_ = r1;
    r2_ = r2;
    return ok;
  }

  // Undo the encoder's rewriting of CALL targets (E8 xx xx xx xx) from
  // relative to absolute. Not applied to the last 10 bytes of a frame.
  void Translate(uint8_t* data, uint32_t n, uint32_t start) const {
    uint8_t* p = data;
    uint8_t* const stop = data + n - 10;
    while (p < stop) {
      p = static_cast<uint8_t*>(std::memchr(p, 0xE8, size_t(stop - p)));
      if (!p) break;
      int32_t cur = int32_t(start + uint32_t(p - data));
      int32_t abs = int32_t(ReadLe32(p + 1));
      if (abs >= -cur && abs < e8Size_) {
        uint32_t rel = abs >= 0 ? uint32_t(abs) - uint32_t(cur) : uint32_t(abs) + uint32_t(e8Size_);
        WriteLe32(p + 1, rel);
      }
      p += 5;
    }
  }

  Memory memory_;
  uint8_t* out_;
  uint8_t* window_ = nullptr;
  const uint32_t windowSize_;
  const int mainSymbols_;
  const uint8_t* in_ = nullptr;
  size_t inLen_ = 0;
  uint32_t pos_ = 0, frameStart_ = 0;
  uint64_t total_ = 0;
  uint32_t frames_ = 0;
  bool started_ = false, translate_ = false;
  int32_t e8Size_ = 0;
  int blockType_ = 0;
  uint32_t blockLeft_ = 0;
  bool blockOdd_ = false, padPending_ = false;
  uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
  BitReader br_;
  uint8_t mainLen_[kMainMax];
  uint8_t lengthLen_[kLengthSymbols];
  uint8_t alignedLen_[8];
  Huffman<11, kMainMax, 16, 4096> main_;
  Huffman<10, kLengthSymbols, 16, 2048> length_;
  Huffman<7, 8, 7, 0> aligned_;
  Huffman<8, kPreSymbols, 15, 2048> pre_;
};

}  // namespace

Codec* NewLzxCodec(const Memory& memory, unsigned windowBits, uint8_t* outBuffer) {
  if (windowBits < 15 || windowBits > 21) return nullptr;
  LzxCodec* c = memory.New<LzxCodec>(memory, windowBits, outBuffer);
  if (c && !c->Init()) {
    memory.Delete(c);
    return nullptr;
  }
  return c;
}

}  // namespace orvo::cab::detail
