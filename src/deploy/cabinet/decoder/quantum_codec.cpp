// Quantum: LZ77 over a window of 2^10..2^21 bytes with adaptive arithmetic
// coding. The models live for the whole folder; the coder starts afresh with
// every frame (data block), and whatever follows a frame's last symbol in its
// block is padding.
#include "cab_decoder.h"
#include "codec.h"

namespace orvo::cab::detail {
namespace {

// Bytes, most significant bit first; zeros past the end.
class BitReader {
 public:
  void Start(const uint8_t* data, size_t len) {
    data_ = data;
    len_ = len;
    pos_ = 0;
    buf_ = 0;
    bits_ = 0;
  }
  inline uint32_t Bit() {
    if (bits_ == 0) Refill();
    uint32_t v = buf_ >> 31;
    buf_ <<= 1;
    --bits_;
    return v;
  }
  // n <= 24
  uint32_t Read(int n) {
    if (n == 0) return 0;
    if (bits_ < n) Refill();
    uint32_t v = buf_ >> (32 - n);
    buf_ <<= n;
    bits_ -= n;
    return v;
  }

 private:
  void Refill() {
    while (bits_ <= 24) {
      uint32_t b = pos_ < len_ ? data_[pos_] : 0;
      ++pos_;
      buf_ |= b << (24 - bits_);
      bits_ += 8;
    }
  }
  const uint8_t* data_ = nullptr;
  size_t len_ = 0, pos_ = 0;
  uint32_t buf_ = 0;
  int bits_ = 0;
};

// Symbols ordered so that cumfreq falls: sym[i] covers
// [cumfreq[i+1], cumfreq[i]) of the total cumfreq[0].
struct Model {
  static constexpr int kMax = 64;
  int entries = 0;
  int shiftsLeft = 0;
  uint16_t sym[kMax + 1];
  uint16_t cumfreq[kMax + 1];

  void Init(int start, int n) {
    entries = n;
    shiftsLeft = 4;
    for (int i = 0; i <= n; ++i) {
      sym[i] = uint16_t(start + i);
      cumfreq[i] = uint16_t(n - i);
    }
  }

  void Bump(int index) {
    for (int i = 0; i <= index; ++i) cumfreq[i] = uint16_t(cumfreq[i] + 8);
    if (cumfreq[0] > 3800) Rescale();
  }

  // Halve the counts; every 50th time rebuild them from the frequencies and
  // sort the symbols by falling frequency.
  void Rescale() {
    if (--shiftsLeft) {
      for (int i = entries - 1; i >= 0; --i) {
        cumfreq[i] = uint16_t(cumfreq[i] >> 1);
        if (cumfreq[i] <= cumfreq[i + 1]) cumfreq[i] = uint16_t(cumfreq[i + 1] + 1);
      }
      return;
    }
    shiftsLeft = 50;
    for (int i = 0; i < entries; ++i)
      cumfreq[i] = uint16_t((cumfreq[i] - cumfreq[i + 1] + 1) >> 1);
    for (int i = 0; i < entries - 1; ++i) {
      for (int j = i + 1; j < entries; ++j) {
        if (cumfreq[i] < cumfreq[j]) {
          std::swap(cumfreq[i], cumfreq[j]);
          std::swap(sym[i], sym[j]);
        }
      }
    }
    for (int i = entries - 1; i >= 0; --i) cumfreq[i] = uint16_t(cumfreq[i] + cumfreq[i + 1]);
  }
};

struct Tables {
  uint32_t posBase[42];
  uint8_t posExtra[42];
  uint8_t lenBase[27];
  uint8_t lenExtra[27];
  constexpr Tables() : posBase(), posExtra(), lenBase(), lenExtra() {
    uint32_t b = 0;
    for (int i = 0; i < 42; ++i) {
      posExtra[i] = uint8_t(i < 4 ? 0 : (i - 2) / 2);
      posBase[i] = b;
      b += 1u << posExtra[i];
    }
    b = 0;
    for (int i = 0; i < 27; ++i) {
      lenExtra[i] = uint8_t(i < 6 || i == 26 ? 0 : (i - 2) / 4);
      lenBase[i] = uint8_t(b);
      b += 1u << lenExtra[i];
    }
  }
};
constexpr Tables kTables;

class QuantumCodec final : public Codec {
 public:
  QuantumCodec(const Memory& memory, unsigned windowBits)
      : memory_(memory),
        windowBits_(windowBits),
        windowSize_(1u << windowBits),
        // Frames are laid out whole, so a small window still gets a frame's room.
        bufferSize_(windowSize_ < kFrameSize ? kFrameSize : windowSize_) {}
  ~QuantumCodec() override { memory_.Put(window_); }

  bool Init() {
    window_ = static_cast<uint8_t*>(memory_.Get(bufferSize_));
    Reset();
    return window_ != nullptr;
  }

  void Reset() override {
    pos_ = 0;
    total_ = 0;
    int slots = int(windowBits_) * 2;
    selector_.Init(0, 7);
    for (int i = 0; i < 4; ++i) literal_[i].Init(i * 64, 64);
    offset3_.Init(0, slots < 24 ? slots : 24);
    offset4_.Init(0, slots < 36 ? slots : 36);
    offsetLong_.Init(0, slots);
    length_.Init(0, 27);
  }

  int Decode(const uint8_t* in, uint32_t inLen, uint32_t outLen, const uint8_t** out) override {
    if (outLen == 0 || outLen > kFrameSize || pos_ + outLen > bufferSize_) return kErrorDecompression;
    br_.Start(in, inLen);
    high_ = 0xFFFF;
    low_ = 0;
    code_ = br_.Read(16);
    const uint32_t start = pos_, end = pos_ + outLen;
    const bool warm = total_ >= windowSize_;
    const uint32_t before = warm ? 0 : uint32_t(total_) - start;
    while (pos_ < end) {
      int selector;
      if (!Symbol(selector_, selector)) return kErrorDecompression;
      if (selector < 4) {
        int literal;
        if (!Symbol(literal_[selector], literal)) return kErrorDecompression;
        window_[pos_++] = uint8_t(literal);
        continue;
      }
      uint32_t len, off;
      int slot;
      if (selector == 4) {
        if (!Symbol(offset3_, slot)) return kErrorDecompression;
        len = 3;
      } else if (selector == 5) {
        if (!Symbol(offset4_, slot)) return kErrorDecompression;
        len = 4;
      } else {
        int ls;
        if (!Symbol(length_, ls)) return kErrorDecompression;
        len = kTables.lenBase[ls] + br_.Read(kTables.lenExtra[ls]) + 5;
        if (!Symbol(offsetLong_, slot)) return kErrorDecompression;
      }
      off = kTables.posBase[slot] + br_.Read(kTables.posExtra[slot]) + 1;
      if (len > end - pos_ || off > windowSize_ || (!warm && off > before + pos_))
        return kErrorDecompression;
      CopyMatch(window_, bufferSize_, pos_, off, len);
      pos_ += len;
    }
    total_ += outLen;
    if (pos_ == bufferSize_) pos_ = 0;
    *out = window_ + start;
    return kErrorNone;
  }

 private:
  bool Symbol(Model& m, int& out) {
    uint32_t range = uint32_t(uint16_t(high_ - low_)) + 1;
    uint32_t total = m.cumfreq[0];
    uint32_t target = (uint32_t(uint16_t(code_ - low_ + 1)) * total - 1) / range;
    int i = 1;
    while (i < m.entries && m.cumfreq[i] > target) ++i;
    out = m.sym[i - 1];
    high_ = uint16_t(low_ + (m.cumfreq[i - 1] * range) / total - 1);
    low_ = uint16_t(low_ + (m.cumfreq[i] * range) / total);
    m.Bump(i - 1);
    // Shift out settled bits; on underflow (low 01..., high 10...) drop the
    // second bit instead.
    for (int guard = 0; guard < 64; ++guard) {
      if ((low_ ^ high_) & 0x8000) {
        if ((low_ & 0x4000) && !(high_ & 0x4000)) {
          code_ ^= 0x4000;
          low_ &= 0x3FFF;
          high_ |= 0x4000;
        } else {
          return true;
        }
      }
      low_ = uint16_t(low_ << 1);
      high_ = uint16_t((high_ << 1) | 1);
      code_ = uint16_t((code_ << 1) | br_.Bit());
    }
    return false;
  }

  Memory memory_;
  const unsigned windowBits_;
  const uint32_t windowSize_, bufferSize_;
  uint8_t* window_ = nullptr;
  uint32_t pos_ = 0;
  uint64_t total_ = 0;
  BitReader br_;
  uint16_t high_ = 0, low_ = 0, code_ = 0;
  Model selector_, literal_[4], offset3_, offset4_, offsetLong_, length_;
};

}  // namespace

Codec* NewQuantumCodec(const Memory& memory, unsigned windowBits) {
  if (windowBits < 10 || windowBits > 21) return nullptr;
  QuantumCodec* c = memory.New<QuantumCodec>(memory, windowBits);
  if (c && !c->Init()) {
    memory.Delete(c);
    return nullptr;
  }
  return c;
}

}  // namespace orvo::cab::detail
