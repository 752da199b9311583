// Canonical Huffman codes with a length limit, as both LZX trees and the
// decoders that read them expect: every code is complete (Kraft sum exactly
// one) unless no symbol is used at all.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::cab {

// Code lengths for freq[0..n) no longer than maxBits. Unused symbols get 0.
// When fewer than two symbols are used, symbols are added with length 1 so
// that the code stays complete; with no symbol used at all every length is 0
// unless keepEmpty is false, in which case symbols 0 and 1 get length 1.
void BuildCodeLengths(const uint32_t* freq, size_t n, unsigned maxBits, uint8_t* lengths,
                      bool keepEmpty = false);

// Canonical codes (shorter codes first, then by symbol), to be written most
// significant bit first.
void BuildCanonicalCodes(const uint8_t* lengths, size_t n, uint16_t* codes);

}  // namespace orvo::cab
