// LZX and Quantum: the cabinets of data/ (made by data/make_vectors.py and
// checked with cabextract when made) must decode to the sizes and CRCs that
// data/vectors.txt lists; also when their folders are split across a set,
// and within the memory the decoder promises.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

#include "decoder_harness.h"

namespace orvo::cab::test {
namespace {

const std::string kData = std::string(ORVO_SOURCE_DIR) + "/tests/deploy/cabinet/decoder/data/";

struct Expected {
  std::string file;
  size_t size;
  uint32_t crc;
};

std::map<std::string, std::vector<Expected>> Manifest() {
  std::map<std::string, std::vector<Expected>> m;
  std::ifstream in(kData + "vectors.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string cab;
    Expected e;
    s >> cab >> e.file >> e.size >> std::hex >> e.crc;
    m[cab].push_back(e);
  }
  return m;
}

uint32_t Crc(const Bytes& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }

Bytes LoadVector(const std::string& name) {
  Bytes b;
  EXPECT_EQ(ReadFileBytes(kData + name, &b), "");
  return b;
}

void ExpectFiles(const Extraction& x, const std::vector<Expected>& expected) {
  ASSERT_TRUE(x.ok) << "code " << x.error.code;
  ASSERT_EQ(x.files.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(x.files[i].first, expected[i].file);
    EXPECT_EQ(x.files[i].second.size(), expected[i].size) << expected[i].file;
    EXPECT_EQ(Crc(x.files[i].second), expected[i].crc) << expected[i].file;
  }
  EXPECT_EQ(MemoryFiles::Get().openDescriptors, 0);
}

class Formats : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles::Get().Reset(); }
};

TEST_F(Formats, VectorsDecodeToTheirFiles) {
  auto manifest = Manifest();
  ASSERT_EQ(manifest.size(), 3u) << "vectors.txt not found or incomplete";
  for (const auto& [cab, expected] : manifest) {
    SCOPED_TRACE(cab);
    MemoryFiles::Get().Reset();
    MemoryFiles::Get().Put("v/" + cab, LoadVector(cab));
    Extraction x;
    x.Run("v/", cab);
    ExpectFiles(x, expected);
  }
}

// The window comes from the memory callback, beside the two block buffers;
// a window too large for the allocator fails the copy with code 5.
TEST_F(Formats, MemoryStaysWithinWindowAndBlocks) {
  MemoryFiles& m = MemoryFiles::Get();
  m.Put("v/lzx-windows.cab", LoadVector("lzx-windows.cab"));
  size_t before = m.allocated;
  m.peakAllocated = before;
  Extraction x;
  x.Run("v/", "lzx-windows.cab");
  ASSERT_TRUE(x.ok) << x.error.code;
  EXPECT_LE(m.peakAllocated - before, (size_t(1) << 21) + 256 * 1024);
  EXPECT_EQ(m.allocated, before) << "the decoder leaked";

  m.failAllocAbove = (size_t(1) << 20);
  Extraction big;
  big.Run("v/", "lzx-windows.cab");
  EXPECT_FALSE(big.ok);
  EXPECT_EQ(big.error.code, kErrorOutOfMemory);
  EXPECT_EQ(big.files.size(), 12u) << "the folders of windows up to 2^20 come out first";
  EXPECT_EQ(m.openDescriptors, 0);
  EXPECT_EQ(m.allocated, before);
}

// A folder split across cabinets, inside a data block and between blocks,
// decodes as one stream: the method's state carries over.
TEST_F(Formats, FoldersSplitAcrossCabinets) {
  auto manifest = Manifest();
  struct Case {
    const char* cab;
    unsigned folder;
    std::vector<Cut> cuts;
  } cases[] = {{"lzx-blocks.cab", 0, {{2, true}, {4, false}}},
               {"quantum-windows.cab", 9, {{1, true}, {2, true}}},
               {"lzx-windows.cab", 6, {{30, true}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cab);
    MemoryFiles::Get().Reset();
    std::vector<TestFile> files;
    CabOptions o;
    FolderData blocks = FolderOf(LoadVector(c.cab), c.folder, &files, &o.method);
    std::vector<std::string> names = {"s1.cab", "s2.cab", "s3.cab"};
    names.resize(c.cuts.size() + 1);
    std::vector<Bytes> set = BuildSet(files, o, names, c.cuts, &blocks);
    for (size_t k = 0; k < set.size(); ++k) MemoryFiles::Get().Put("v/" + names[k], set[k]);
    Extraction x;
    x.Run("v/", "s1.cab");
    std::vector<Expected> expected;
    for (const Expected& e : manifest[c.cab])
      for (const TestFile& f : files)
        if (f.name == e.file) expected.push_back(e);
    ExpectFiles(x, expected);
  }
}

}  // namespace
}  // namespace orvo::cab::test
