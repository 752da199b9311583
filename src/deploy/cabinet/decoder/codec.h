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

template <class T>
inline T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
inline void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Copies len (>= 2) bytes forward where the source lies at least 8 bytes
// before the destination or apart from it: every move reads bytes that are
// final already, the last (overlapping) one included.
inline void CopyForward(uint8_t* dst, const uint8_t* src, uint32_t len) {
  if (len >= 8) {
    uint32_t i = 0;
    for (; i + 8 <= len; i += 8) Store(dst + i, Load<uint64_t>(src + i));
    if (i < len) Store(dst + len - 8, Load<uint64_t>(src + len - 8));
  } else if (len >= 4) {
    uint32_t a = Load<uint32_t>(src), b = Load<uint32_t>(src + len - 4);
    Store(dst, a);
    Store(dst + len - 4, b);
  } else {
    uint16_t a = Load<uint16_t>(src);
    uint8_t b = src[len - 1];
    Store(dst, a);
    dst[len - 1] = b;
  }
}

// Copies a match of len (>= 2) bytes from off bytes back into a circular
// window of `size` bytes. The destination never wraps (frames are laid out
// whole); the source may. Nothing past pos + len is touched: those bytes are
// still history for matches reaching back a whole window.
inline void CopyMatch(uint8_t* window, uint32_t size, uint32_t pos, uint32_t off, uint32_t len) {
  uint8_t* dst = window + pos;
  if (off <= pos) {
    const uint8_t* src = dst - off;
    if (off >= 8 || off >= len) {
      CopyForward(dst, src, len);
    } else if (off == 1) {
      std::memset(dst, src[0], len);
    } else {
      while (len--) *dst++ = *src++;
    }
    return;
  }
  // The source lies in the previous round of the window.
  uint32_t s = pos + size - off;
  if (s + len <= size && s - pos >= len) {
    CopyForward(dst, window + s, len);
    return;
  }
  for (uint32_t i = 0; i < len; ++i) {
    dst[i] = window[s];
    if (++s == size) s = 0;
  }
}

}  // namespace orvo::cab::detail
