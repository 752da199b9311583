// Writes the fuzz target's seed inputs into a folder: small cabinets of
// every method and layout the tests use, sets joined with the separator.
#include <cstdio>
#include <string>

#include "decoder_fuzz.h"
#include "decoder_harness.h"

using namespace orvo::cab::test;

namespace {

std::string folder;
int count = 0;

void Save(const std::vector<Bytes>& cabs) {
  Bytes all;
  for (size_t k = 0; k < cabs.size(); ++k) {
    if (k) all.insert(all.end(), std::begin(orvo::cab::fuzz::kSeparator), std::end(orvo::cab::fuzz::kSeparator));
    all.insert(all.end(), cabs[k].begin(), cabs[k].end());
  }
  std::string path = folder + "/seed-" + std::to_string(++count) + ".cab";
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(all.data(), 1, all.size(), f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SEED-FOLDER VECTOR-FOLDER\n", argv[0]);
    return 2;
  }
  folder = argv[1];
  std::string vectors = argv[2];
  std::vector<TestFile> files = {{"a.txt", TextData(5000, 1)}, {"b", NoiseData(700, 2)}, {"c.dat", {}},
                                 {"d.txt", TextData(3000, 3)}};
  for (uint16_t method : {0, 1}) {
    CabOptions o;
    o.method = method;
    o.blockSize = 2048;
    Save({BuildCabinet(files, o)});
    o.headerReserve = 4;
    o.folderReserve = 2;
    o.dataReserve = 3;
    Save({BuildCabinet(files, o)});
    Save(BuildSet(files, o, {"s1.cab", "s2.cab"}, {{2, true}}));
    Save(BuildSet(files, o, {"s1.cab", "s2.cab", "s3.cab"}, {{1, true}, {4, false}}));
  }
  // The first blocks of some LZX and Quantum folders.
  struct Pick {
    const char* cab;
    unsigned folder, blocks;
  } picks[] = {{"lzx-blocks.cab", 0, 3}, {"lzx-windows.cab", 0, 1}, {"lzx-windows.cab", 6, 1},
               {"quantum-windows.cab", 0, 1}, {"quantum-windows.cab", 5, 1}, {"quantum-windows.cab", 11, 2}};
  for (const Pick& p : picks) {
    Bytes cab;
    if (!ReadFileBytes(vectors + "/" + p.cab, &cab).empty()) return 1;
    std::vector<TestFile> all;
    CabOptions o;
    FolderData data = FolderOf(cab, p.folder, &all, &o.method);
    data.blocks.resize(p.blocks);
    size_t total = 0;
    for (const auto& b : data.blocks) total += b.uncompressed;
    Save({BuildSet({{"part", Bytes(total)}}, o, {"v.cab"}, {}, &data)});
    if (p.blocks > 1) Save(BuildSet({{"part", Bytes(total)}}, o, {"v1.cab", "v2.cab"}, {{1, true}}, &data));
  }
  std::printf("%d seeds in %s\n", count, folder.c_str());
  return 0;
}
