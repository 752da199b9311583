// Published SHA-256 vectors, fed whole and in pieces that straddle the
// 64-byte blocks; both builds run it.
#include <gtest/gtest.h>

#include <string>

#include "media/sha256.h"

namespace {

std::string Digest(const std::string& message, size_t piece) {
  orvo::Sha256 hash;
  for (size_t at = 0; at < message.size(); at += piece) hash.Update(message.data() + at, std::min(piece, message.size() - at));
  return hash.FinishHex();
}

TEST(Sha256, PublishedVectorsInAnyPiecesAndDigestComparison) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [message, expected] : vectors) {
    for (size_t piece : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(4096), message.size() + 1}) {
      if (piece == 1 && message.size() > 10000) continue;
      EXPECT_EQ(expected, Digest(message, piece)) << message.size() << " bytes in pieces of " << piece;
    }
  }
  // The object starts afresh after a digest.
  orvo::Sha256 hash;
  hash.Update("abc", 3);
  hash.FinishHex();
  EXPECT_EQ(vectors[0].second, hash.FinishHex());

  const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
  EXPECT_TRUE(orvo::Sha256::SameDigest(upper, vectors[1].second));
  EXPECT_FALSE(orvo::Sha256::SameDigest(upper.substr(1), vectors[1].second));
  EXPECT_FALSE(orvo::Sha256::SameDigest("g" + upper.substr(1), "g" + vectors[1].second.substr(1)));
  EXPECT_FALSE(orvo::Sha256::SameDigest(vectors[0].second, vectors[1].second));
}

}  // namespace
