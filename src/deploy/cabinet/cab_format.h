// On-disk layout of "MSCF" cabinets (format 1.3), shared by the decoder and
// the writer. Portable: no Windows headers, so it also builds natively.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::cab {

constexpr uint8_t kVersionMinor = 3;
constexpr uint8_t kVersionMajor = 1;

// Header flags.
constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;

// Folder compression types (low four bits of typeCompress).
constexpr uint16_t kCompressMask = 0x000F;
constexpr uint16_t kCompressNone = 0;
constexpr uint16_t kCompressMszip = 1;
constexpr uint16_t kCompressQuantum = 2;
constexpr uint16_t kCompressLzx = 3;
// Window power for Quantum and LZX lives in bits 8..12.
constexpr unsigned CompressWindowBits(uint16_t typeCompress) { return (typeCompress >> 8) & 0x1F; }

// Folder index values of files that span cabinets.
constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

// File attribute bits as stored.
constexpr uint16_t kAttribReadOnly = 0x01;
constexpr uint16_t kAttribHidden = 0x02;
constexpr uint16_t kAttribSystem = 0x04;
constexpr uint16_t kAttribArchive = 0x20;
constexpr uint16_t kAttribExecute = 0x40;
constexpr uint16_t kAttribNameIsUtf = 0x80;

constexpr size_t kHeaderSize = 36;        // fixed part of CFHEADER
constexpr size_t kFolderSize = 8;         // fixed part of CFFOLDER
constexpr size_t kFileSize = 16;          // fixed part of CFFILE, name follows
constexpr size_t kDataSize = 8;           // fixed part of CFDATA
constexpr size_t kMaxBlockUncompressed = 32768;
constexpr size_t kMaxNameBytes = 255;

inline uint16_t ReadLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void WriteLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

// The cabinet checksum: XOR of little-endian 32-bit words; the 1-3 bytes
// left over are folded in most significant first, as the format prescribes.
inline uint32_t Checksum(const uint8_t* p, size_t n, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = n / 4;
  for (size_t i = 0; i < words; ++i, p += 4) sum ^= ReadLe32(p);
  uint32_t tail = 0;
  switch (n & 3) {
    case 3: tail |= uint32_t(*p++) << 16; [[fallthrough]];
    case 2: tail |= uint32_t(*p++) << 8; [[fallthrough]];
    case 1: tail |= uint32_t(*p++); break;
    default: break;
  }
  return sum ^ tail;
}

// Checksum of one CFDATA block: over the compressed bytes first, then the
// cbData/cbUncomp words (bytes 4..7 of the header). The per-block reserve
// area is not covered: cabextract and gcab both reject blocks whose sum
// includes it.
inline uint32_t DataBlockChecksum(const uint8_t* header8, const uint8_t* data, size_t n) {
  uint32_t sum = Checksum(data, n, 0);
  return Checksum(header8 + 4, 4, sum);
}

}  // namespace orvo::cab
