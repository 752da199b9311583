#include "file_digest.h"

#include <fstream>
#include <vector>

#include "media/sha256.h"

namespace orvo::media {

std::string FileSha256(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  Sha256 hash;
  std::vector<char> block(1 << 20);
  while (in) {
    in.read(block.data(), std::streamsize(block.size()));
    if (in.gcount() > 0) hash.Update(block.data(), size_t(in.gcount()));
  }
  if (!in.eof()) return std::string();
  return hash.FinishHex();
}

}  // namespace orvo::media
