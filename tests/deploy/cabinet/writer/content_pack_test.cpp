#include "content_pack.h"

#include <gtest/gtest.h>

#include <set>

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif

#include "writer_test_util.h"

namespace orvo::cab::test {
namespace {

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(IndexFile, SingleByteLinesInColumns) {
  auto bytes = IndexFileBytes({{"00001_a.txt", "Sub\\a.txt"}, {std::string(38, 'k'), "b \xC3\xA9.txt"}});
  ASSERT_TRUE(bytes);
  std::string expected = "\r\n";
  expected += "00001_a.txt" + std::string(38 - 11, ' ') + "Sub\\a.txt\n";
  expected += std::string(38, 'k') + "b \xE9.txt\n";  // Latin-1, one byte per character
  EXPECT_EQ(Text(*bytes), expected);
}

TEST(IndexFile, Utf16WhenAPathNeedsIt) {
  // U+4E2D and U+1F600 (a surrogate pair) do not fit in one byte.
  auto bytes = IndexFileBytes({{"k", "\xE4\xB8\xAD\\\xF0\x9F\x98\x80"}});
  ASSERT_TRUE(bytes);
  std::vector<uint16_t> units;
  for (size_t i = 0; i + 1 < bytes->size(); i += 2) units.push_back(uint16_t((*bytes)[i] | ((*bytes)[i + 1] << 8)));
  std::vector<uint16_t> expected = {0xFEFF, '\n', 'k'};
  expected.insert(expected.end(), 37, ' ');
  expected.insert(expected.end(), {0x4E2D, '\\', 0xD83D, 0xDE00, '\n'});
  EXPECT_EQ(units, expected);
  EXPECT_EQ(bytes->size() % 2, 0u);
}

TEST(IndexFile, RefusesWhatTheReaderCannotTakeBack) {
  EXPECT_FALSE(IndexFileBytes({{std::string(39, 'k'), "a"}}));  // key past its columns
  EXPECT_FALSE(IndexFileBytes({{"key ", "a"}}));               // trailing blank is trimmed
  EXPECT_FALSE(IndexFileBytes({{"k", "bad\xC3"}}));            // broken UTF-8
  EXPECT_FALSE(IndexFileBytes({{"k", "two\nlines"}}));
}

TEST(StoredNames, ShortAsciiUniqueAndNeverTheIndex) {
  std::set<std::string> seen;
  for (size_t i = 1; i <= 3000; ++i) {
    std::string path = "Some Folder\\" + std::string(i % 50, 'x') + " \xC3\xA9 file.txt";
    std::string name = StoredNameFor(i, path);
    EXPECT_LE(name.size(), kIndexKeyColumns);
    EXPECT_NE(name, kIndexFileName);
    for (char c : name) EXPECT_TRUE(c > ' ' && (unsigned char)c < 0x80) << name;
    EXPECT_TRUE(seen.insert(name).second) << name;
  }
  EXPECT_EQ(StoredNameFor(7, "docs/read me.txt"), "00007_read_me.txt");
}

TEST(RelativePaths, NormalisedOrRefused) {
  EXPECT_EQ(*NormalizeRelativePath("a/b\\c.txt"), "a\\b\\c.txt");
  for (const char* bad : {"", "/abs", "\\abs", "C:x", "a/../b", "./a", "a//b", "a/", "a/b:c", "a|b"})
    EXPECT_FALSE(NormalizeRelativePath(bad)) << bad;
}

// Reads IndexFile.dat the way the installer does: UTF-16 when it starts with
// a byte-order mark, else one byte per character; lines end at LF; columns
// 1-38 are the key (trailing blanks trimmed), the rest the path.
std::map<std::string, std::u32string> ReadIndex(const Bytes& b) {
  std::u32string text;
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
      char32_t u = char32_t(b[i] | (b[i + 1] << 8));
      if (u >= 0xD800 && u < 0xDC00 && i + 3 < b.size()) {
        char32_t lo = char32_t(b[i + 2] | (b[i + 3] << 8));
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
      text += u;
    }
  } else {
    for (uint8_t c : b) text += char32_t(c);
  }
  std::map<std::string, std::u32string> map;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(U'\n', start);
    if (end == std::u32string::npos) end = text.size();
    std::u32string line = text.substr(start, end - start);
    std::u32string key = line.substr(0, 38);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t' || key.back() == '\r')) key.pop_back();
    std::string k(key.begin(), key.end());
    map[k] = line.size() > 38 ? line.substr(38) : U"";
    start = end + 1;
  }
  return map;
}

std::u32string Utf32(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    int n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (int k = 1; k <= n; ++k) cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
    out += cp;
    i += size_t(n) + 1;
  }
  return out;
}

TEST(PackItems, RefusesDuplicatesThatDifferOnlyInCase) {
  fs::path dir = ScratchDir();
  std::vector<PackItem> items(2);
  items[0].relativePath = "Sub/Read.me";
  items[1].relativePath = "sub\\READ.ME";
  std::string error;
  EXPECT_FALSE(PackItems((dir / "dup.cab").string(), items, {}, nullptr, &error));
  EXPECT_NE(error.find("duplicate"), std::string::npos) << error;
}

// A file written at an even second keeps that second: the two clocks'
// readings must not push it back below the second.
TEST(CollectFolder, KeepsWholeSecondTimes) {
  fs::path dir = ScratchDir();
  std::vector<std::pair<std::string, std::time_t>> stamps;
  for (int i = 0; i < 8; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt";
    WriteAll(dir / name, TextLike(10, i));
    std::time_t t = std::time_t(1767330368) + 2 * i;  // whole even seconds
    struct utimbuf times = {t, t};
    ASSERT_EQ(0, utime((dir / name).string().c_str(), &times));
    stamps.push_back({name, t});
  }
  std::vector<PackItem> items;
  std::string error;
  ASSERT_TRUE(CollectFolder(dir.string(), &items, &error)) << error;
  ASSERT_EQ(items.size(), stamps.size());
  for (size_t i = 0; i < items.size(); ++i) {
    uint16_t date = 0, time = 0;
    DosDateTimeFromTime(stamps[i].second, &date, &time);
    EXPECT_EQ(items[i].time, time) << items[i].relativePath;
    EXPECT_EQ(items[i].date, date) << items[i].relativePath;
  }
}

class PackFolderTest : public ::testing::TestWithParam<bool> {};

// A tree with sub-folders, an empty folder and non-ASCII names goes through
// the writer and cabextract and comes back in place by the index.
TEST_P(PackFolderTest, TreeComesBackThroughTheIndex) {
  if (!HaveTool("cabextract")) GTEST_SKIP() << "cabextract not installed";
  bool wide = GetParam();
  fs::path dir = ScratchDir();
  fs::path src = dir / "src";
  std::map<std::string, Bytes> tree = {{"readme.txt", TextLike(3000, 1)},
                                       {"bin/tool.dll", BinaryLike(200000, 2)},
                                       {"bin/zero.dat", {}},
                                       {"data/deep/er/r\xC3\xA9sum\xC3\xA9.txt", TextLike(90000, 3)},
                                       {"data/packed.bin", RandomBytes(120000, 4)}};
  if (wide) tree["data/\xE4\xB8\xAD\xE6\x96\x87.txt"] = TextLike(5000, 5);
  for (const auto& [rel, bytes] : tree) WriteAll(src / fs::u8path(rel), bytes);
  fs::create_directories(src / "empty" / "folder");

  PackOptions opt;
  opt.compression = Compression::Lzx(20);
  opt.set.maxCabinetSize = 150000;
  opt.folderSize = 250000;
  PackResult result;
  std::string error;
  ASSERT_TRUE(PackFolder((dir / "content.cab").string(), src.string(), opt, &result, &error)) << error;
  ASSERT_GE(result.cabinets.size(), 2u);
  EXPECT_EQ(result.index.size(), tree.size() + 1);  // and the placeholder

  CabInfo first = ParseCab(ReadAll(result.cabinets[0]));
  ASSERT_FALSE(first.files.empty());
  EXPECT_EQ(first.files[0].name, kIndexFileName);
  EXPECT_EQ(first.files[0].offset, 0u);
  EXPECT_EQ(first.files[0].folder, 0);

  fs::path out = dir / "out";
  CommandResult x = RunCommand("cabextract -q -d " + Quote(out) + " " + Quote(result.cabinets[0]));
  ASSERT_EQ(x.status, 0) << x.output;
  Bytes index = ReadAll(out / kIndexFileName);
  EXPECT_EQ(index.size() >= 2 && index[0] == 0xFF && index[1] == 0xFE, wide);
  auto map = ReadIndex(index);

  std::map<std::u32string, Bytes> placed;
  for (const auto& [stored, rel] : result.index) {
    ASSERT_TRUE(map.count(stored)) << stored;
    EXPECT_TRUE(fs::exists(out / stored)) << stored;
    placed[map[stored]] = ReadAll(out / stored);
  }
  for (const auto& [rel, bytes] : tree) {
    std::string win = rel;
    for (char& c : win)
      if (c == '/') c = '\\';
    ASSERT_TRUE(placed.count(Utf32(win))) << rel;
    EXPECT_TRUE(placed[Utf32(win)] == bytes) << rel;
  }
  EXPECT_TRUE(placed.count(U"empty\\folder\\empty.dir"));
}

INSTANTIATE_TEST_SUITE_P(Encodings, PackFolderTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Utf16" : "SingleByte"; });

}  // namespace
}  // namespace orvo::cab::test
