// Internal interface between the cabinet walker and the compression methods.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace orvo::cab::detail {

// Every allocation goes through the caller's memory callbacks.
struct Memory {
  void* (*alloc)(uint32_t) = nullptr;
  void (*release)(void*) = nullptr;

  void* Get(size_t n) const { return n > 0x7FFFFFFF ? nullptr : alloc(uint32_t(n)); }
  void Put(void* p) const {
    if (p) release(p);
  }
  template <class T, class... Args>
  T* New(Args&&... args) const {
    void* p = Get(sizeof(T));
    return p ? new (p) T(std::forward<Args>(args)...) : nullptr;
  }
  template <class T>
  void Delete(T* p) const {
    if (!p) return;
    p->~T();
    release(p);
  }
};

constexpr uint32_t kFrameSize = 32768;
// Compressed bytes a data block may hold, beyond its uncompressed size.
constexpr uint32_t kMszipSlack = 12;
constexpr uint32_t kQuantumSlack = 10240;
constexpr uint32_t kLzxSlack = 6144;
constexpr uint32_t kMaxCompressed = kFrameSize + kQuantumSlack;

// Result codes of the methods are the decoder's error codes (0, 4, 5, 7).
class Codec {
 public:
  virtual ~Codec() = default;
  // Forget the previous folder.
  virtual void Reset() = 0;
  // Decodes one data block into exactly outLen bytes; *out stays valid until
  // the next call.
  virtual int Decode(const uint8_t* in, uint32_t inLen, uint32_t outLen, const uint8_t** out) = 0;
};

// outBuffer: the context's block of kFrameSize bytes, shared by the methods
// that cannot hand out bytes of their window.
Codec* NewStoredCodec(const Memory& memory);
Codec* NewMszipCodec(const Memory& memory, uint8_t* outBuffer);
Codec* NewLzxCodec(const Memory& memory, unsigned windowBits, uint8_t* outBuffer);
Codec* NewQuantumCodec(const Memory& memory, unsigned windowBits);

// Copies a match of len bytes from off bytes back into a circular window of
// `size` bytes. The destination never wraps (frames are laid out whole);
// the source may. Nothing past pos + len is touched: those bytes are still
// history for matches reaching back a whole window.
inline void CopyMatch(uint8_t* window, uint32_t size, uint32_t pos, uint32_t off, uint32_t len) {
  uint8_t* dst = window + pos;
  if (off <= pos) {
    const uint8_t* src = dst - off;
    if (off >= 8) {
      while (len >= 8) {
        uint64_t t;
        std::memcpy(&t, src, 8);
        std::memcpy(dst, &t, 8);
        dst += 8;
        src += 8;
        len -= 8;
      }
    } else if (off == 1) {
      std::memset(dst, src[0], len);
      return;
    }
    while (len--) *dst++ = *src++;
    return;
  }
  uint32_t s = pos + size - off;
  for (uint32_t i = 0; i < len; ++i) {
    dst[i] = window[s];
    if (++s == size) s = 0;
  }
}

}  // namespace orvo::cab::detail
