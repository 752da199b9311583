// SHA-256 of a byte stream, fed in pieces. Portable (no Windows headers):
// the library checks cabinets with it and orvo-media records them with it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo {

class Sha256 {
 public:
  Sha256() { Reset(); }
  void Reset();
  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hexadecimal digits; the object is reset.
  std::string FinishHex();

  // Whether `text` is 64 hexadecimal digits naming the same digest as
  // `hex` (either case).
  static bool SameDigest(const std::string& text, const std::string& hex);

 private:
  void Blocks(const uint8_t* data, size_t count);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_;
  size_t pendingSize_ = 0;
  uint64_t total_ = 0;
};

}  // namespace orvo
