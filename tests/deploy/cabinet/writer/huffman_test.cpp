#include "huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace orvo::cab {
namespace {

// Kraft sum scaled by 2^maxBits; a complete code sums to exactly 2^maxBits.
uint64_t Kraft(const std::vector<uint8_t>& lens, unsigned maxBits) {
  uint64_t sum = 0;
  for (uint8_t l : lens)
    if (l) sum += uint64_t(1) << (maxBits - l);
  return sum;
}

void ExpectValidCode(const std::vector<uint32_t>& freq, unsigned maxBits) {
  std::vector<uint8_t> lens(freq.size());
  BuildCodeLengths(freq.data(), freq.size(), maxBits, lens.data());
  size_t used = 0;
  for (size_t i = 0; i < freq.size(); ++i) {
    EXPECT_LE(lens[i], maxBits) << "symbol " << i;
    if (freq[i]) {
      ++used;
      EXPECT_GT(lens[i], 0) << "used symbol " << i << " has no code";
    }
  }
  EXPECT_EQ(Kraft(lens, maxBits), uint64_t(1) << maxBits) << "code not complete";
  // A more frequent symbol never gets a longer code.
  for (size_t i = 0; i < freq.size(); ++i)
    for (size_t j = 0; j < freq.size(); ++j)
      if (freq[i] && freq[j] && freq[i] > freq[j]) EXPECT_LE(lens[i], lens[j]) << i << " vs " << j;
  if (used >= 2)
    for (size_t i = 0; i < freq.size(); ++i)
      if (!freq[i]) EXPECT_EQ(lens[i], 0) << "unused symbol " << i << " got a code";
}

TEST(HuffmanLengths, CompleteAndLimitedForSkewedAndRandomWeights) {
  // Fibonacci weights make the unconstrained tree as deep as the alphabet.
  std::vector<uint32_t> fib(30);
  fib[0] = fib[1] = 1;
  for (size_t i = 2; i < fib.size(); ++i) fib[i] = fib[i - 1] + fib[i - 2];
  ExpectValidCode(fib, 16);
  ExpectValidCode(fib, 7);
  std::vector<uint32_t> fib20(fib.begin(), fib.begin() + 20);
  ExpectValidCode(fib20, 15);  // pretree: 20 symbols, 4-bit lengths

  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    size_t n = 8 + rng() % 650;
    std::vector<uint32_t> freq(n);
    for (auto& f : freq) f = rng() % 3 == 0 ? 0 : (rng() % 2 ? rng() % 5 : 1u << (rng() % 20));
    ExpectValidCode(freq, 16);
  }
}

TEST(HuffmanLengths, FewSymbolsStillGiveACompleteCode) {
  for (size_t lone : {size_t(0), size_t(1), size_t(200)}) {
    std::vector<uint32_t> freq(249, 0);
    freq[lone] = 42;
    std::vector<uint8_t> lens(freq.size());
    BuildCodeLengths(freq.data(), freq.size(), 16, lens.data());
    EXPECT_EQ(lens[lone], 1);
    EXPECT_EQ(Kraft(lens, 16), 1u << 16);
  }
  std::vector<uint32_t> none(249, 0);
  std::vector<uint8_t> lens(none.size(), 9);
  BuildCodeLengths(none.data(), none.size(), 16, lens.data(), /*keepEmpty=*/true);
  EXPECT_TRUE(std::all_of(lens.begin(), lens.end(), [](uint8_t l) { return l == 0; }));
  BuildCodeLengths(none.data(), none.size(), 16, lens.data(), /*keepEmpty=*/false);
  EXPECT_EQ(Kraft(lens, 16), 1u << 16);
}

TEST(HuffmanCodes, CanonicalAndPrefixFree) {
  const std::vector<uint8_t> lens = {3, 3, 3, 3, 3, 2, 4, 4, 0};
  std::vector<uint16_t> codes(lens.size());
  BuildCanonicalCodes(lens.data(), lens.size(), codes.data());
  // Shorter codes first, equal lengths in symbol order.
  EXPECT_EQ(codes[5], 0b00);
  EXPECT_EQ(codes[0], 0b010);
  EXPECT_EQ(codes[4], 0b110);
  EXPECT_EQ(codes[6], 0b1110);
  EXPECT_EQ(codes[7], 0b1111);
  for (size_t i = 0; i < lens.size(); ++i)
    for (size_t j = 0; j < lens.size(); ++j) {
      if (i == j || !lens[i] || !lens[j] || lens[i] > lens[j]) continue;
      EXPECT_NE(codes[j] >> (lens[j] - lens[i]), codes[i]) << i << " is a prefix of " << j;
    }
}

}  // namespace
}  // namespace orvo::cab
