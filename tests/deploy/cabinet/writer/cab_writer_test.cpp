// Cabinets from the writer, read back by tools no one here wrote: cabextract
// always, Wine's cabarc when it runs.
#include "cab_writer.h"
#include "lzx_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "writer_test_util.h"

namespace orvo::cab::test {
namespace {

struct Input {
  std::string name;
  Bytes data;
};

// Checks that cabextract tests and extracts the set starting at `first`
// to exactly `files`.
void ExpectCabextractGives(const fs::path& first, const std::vector<Input>& files) {
  CommandResult t = RunCommand("cabextract -t " + Quote(first));
  EXPECT_EQ(t.status, 0) << t.output;
  EXPECT_NE(t.output.find("All done, no errors."), std::string::npos) << t.output;
  fs::path out = first.parent_path() / ("x-" + first.stem().string());
  fs::remove_all(out);
  CommandResult x = RunCommand("cabextract -q -d " + Quote(out) + " " + Quote(first));
  ASSERT_EQ(x.status, 0) << x.output;
  size_t extracted = 0;
  for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file()) ++extracted;
  EXPECT_EQ(extracted, files.size());
  for (const Input& f : files) {
    Bytes got = ReadAll(out / f.name);
    EXPECT_TRUE(got == f.data) << f.name << ": " << got.size() << " bytes, expected " << f.data.size();
  }
}

// Writes `files` with one folder per entry of `folders` (consecutive runs of
// files, the last folder taking the rest), returning the cabinets.
std::vector<std::string> WriteCab(const fs::path& path, const std::vector<Input>& files,
                                  const std::vector<Compression>& folders, CabinetSetOptions opt = {}) {
  CabinetWriter w(path.string(), opt);
  size_t per = std::max<size_t>(1, files.size() / folders.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (i % per == 0 && i / per < folders.size()) EXPECT_TRUE(w.StartFolder(folders[i / per])) << w.error();
    FileEntry e{files[i].name, DosDate(2021, 6, 15), DosTime(13, 45, 30), kAttribArchive};
    EXPECT_TRUE(w.AddFile(e, files[i].data.data(), files[i].data.size())) << w.error();
  }
  EXPECT_TRUE(w.Finish()) << w.error();
  return w.cabinetPaths();
}

std::vector<Input> MixedFiles() {
  return {{"text.txt", TextLike(150000, 1)},   {"empty.dat", {}},
          {"code.bin", BinaryLike(120000, 2)}, {"random.bin", RandomBytes(70000, 3)},
          {"zeros.bin", Bytes(100000, 0)},     {"one.txt", {'x'}},
          {"frame.bin", TextLike(32768, 4)},   {"frame1.bin", BinaryLike(32769, 5)},
          {"records.bin", AlignedRecords(60000, 6)}};
}

std::vector<Compression> AllMethods() {
  std::vector<Compression> m = {Compression::Stored(), Compression::Mszip()};
  for (unsigned bits = kLzxMinWindowBits; bits <= kLzxMaxWindowBits; ++bits) m.push_back(Compression::Lzx(bits));
  return m;
}

class CabextractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("cabextract")) GTEST_SKIP() << "cabextract not installed";
    dir_ = ScratchDir();
  }
  fs::path dir_;
};

TEST_F(CabextractTest, EachMethodRoundTrips) {
  auto files = MixedFiles();
  for (const Compression& c : AllMethods()) {
    SCOPED_TRACE(CompressionName(c));
    fs::path cab = dir_ / ("m-" + std::to_string(c.TypeCompress()) + ".cab");
    auto cabs = WriteCab(cab, files, {c});
    ASSERT_EQ(cabs.size(), 1u);
    CabInfo info = ParseCab(ReadAll(cab));
    ASSERT_EQ(info.folders.size(), 1u);
    EXPECT_EQ(info.folders[0].typeCompress, c.TypeCompress());
    EXPECT_EQ(info.files.size(), files.size());
    EXPECT_EQ(info.files[0].date, DosDate(2021, 6, 15));
    EXPECT_EQ(info.files[0].time, DosTime(13, 45, 30));
    EXPECT_EQ(info.size, fs::file_size(cab));
    ExpectCabextractGives(cab, files);
  }
}

TEST_F(CabextractTest, SeveralFoldersWithDifferentMethods) {
  auto files = MixedFiles();
  std::vector<Compression> folders = {Compression::Lzx(21), Compression::Stored(), Compression::Mszip(9),
                                      Compression::Lzx(16)};
  fs::path cab = dir_ / "folders.cab";
  WriteCab(cab, files, folders);
  CabInfo info = ParseCab(ReadAll(cab));
  ASSERT_EQ(info.folders.size(), folders.size());
  for (size_t i = 0; i < folders.size(); ++i) EXPECT_EQ(info.folders[i].typeCompress, folders[i].TypeCompress());
  // Offsets restart with each folder.
  EXPECT_EQ(info.files[2].offset, 0u);
  EXPECT_EQ(info.files[2].folder, 1);
  ExpectCabextractGives(cab, files);
}

// Content that exercises the encoder's corners: matches of the maximum
// length, matches from just inside the window, repeated offsets, frames
// that do not compress between frames that do, and x86 calls near frame
// ends.
TEST_F(CabextractTest, LzxEncoderCorners) {
  // Repeats at the largest distance of the smallest and the largest window.
  Bytes farRepeat;
  for (uint32_t bits : {15u, 21u}) {
    Bytes block = RandomBytes(3000, bits);
    Bytes filler = TextLike((size_t(1) << bits) - 3 - block.size(), bits + 1);
    farRepeat.insert(farRepeat.end(), block.begin(), block.end());
    farRepeat.insert(farRepeat.end(), filler.begin(), filler.end());
    farRepeat.insert(farRepeat.end(), block.begin(), block.end());
  }

  Bytes reps;
  Bytes a = RandomBytes(64, 11), b = RandomBytes(64, 12);
  for (int i = 0; i < 3000; ++i) {  // alternating sources: R0/R1/R2 swaps
    const Bytes& src = (i % 3 == 0) ? a : b;
    reps.insert(reps.end(), src.begin() + i % 7, src.begin() + 20 + i % 11);
    reps.push_back(uint8_t(i));
  }

  Bytes mixedFrames;
  for (int i = 0; i < 12; ++i) {
    Bytes part = i % 3 == 1 ? RandomBytes(32768, 20 + i) : TextLike(32768, 20 + i);
    mixedFrames.insert(mixedFrames.end(), part.begin(), part.end());
  }

  Bytes calls = BinaryLike(5 * 32768, 30);
  for (size_t f = 1; f <= 4; ++f)  // an E8 in each of the last ten bytes of a frame
    for (size_t k = 1; k <= 10; ++k) calls[f * 32768 - k * 3] = 0xE8;

  // Record data is what aligned-offset blocks are for: the first block of
  // such a folder (after the E8 bit, here 0) says type 2.
  {
    fs::path cab = dir_ / "aligned.cab";
    Compression c = Compression::Lzx(17);
    c.e8Translation = false;
    std::vector<Input> records = {{"records.bin", AlignedRecords(100000, 13)}};
    WriteCab(cab, records, {c});
    Bytes raw = ReadAll(cab);
    CabInfo info = ParseCab(raw);
    size_t data = info.folders[0].dataStart + kDataSize;
    unsigned firstWord = ReadLe16(&raw[data]);
    EXPECT_EQ(firstWord >> 15, 0u);
    EXPECT_EQ((firstWord >> 12) & 7, 2u);
    ExpectCabextractGives(cab, records);
  }

  std::vector<Input> files = {{"far.bin", farRepeat},
                              {"records.bin", AlignedRecords(70000, 14)},
                              {"runs.bin", Bytes(70000, 0xAB)},
                              {"reps.bin", reps},
                              {"mixed.bin", mixedFrames},
                              {"calls.bin", calls}};
  for (unsigned bits : {15u, 17u, 21u}) {
    for (bool e8 : {true, false}) {
      Compression c = Compression::Lzx(bits);
      c.e8Translation = e8;
      SCOPED_TRACE(CompressionName(c) + (e8 ? " e8" : ""));
      fs::path cab = dir_ / ("lzx" + std::to_string(bits) + (e8 ? "e" : "") + ".cab");
      WriteCab(cab, files, {c});
      ExpectCabextractGives(cab, files);
    }
  }
  for (int level : {1, 9}) {
    SCOPED_TRACE(level);
    fs::path cab = dir_ / ("level" + std::to_string(level) + ".cab");
    WriteCab(cab, files, {Compression::Lzx(21, level)});
    ExpectCabextractGives(cab, files);
  }
}

// The match finder keeps 24 bits of each position: past 16 MiB, strings
// last seen more than that far back name positions that hold other bytes,
// inside the window. Content seen, then 16 MiB of a few strings, then the
// same content again.
TEST_F(CabextractTest, LzxFolderPastSixteenMegabytes) {
  Bytes head = BinaryLike(1 << 20, 90);
  Bytes block = RandomBytes(4096, 91);
  Bytes stream = head;
  while (stream.size() < head.size() + (size_t(16) << 20)) stream.insert(stream.end(), block.begin(), block.end());
  stream.insert(stream.end(), head.begin(), head.end());
  std::vector<Input> files = {{"long.bin", stream}, {"tail.txt", TextLike(200000, 92)}};
  for (int level : {3, 9}) {
    SCOPED_TRACE(level);
    fs::path cab = dir_ / ("long" + std::to_string(level) + ".cab");
    WriteCab(cab, files, {Compression::Lzx(21, level)});
    ExpectCabextractGives(cab, files);
    fs::remove(cab);
  }
}

TEST_F(CabextractTest, ReserveAreas) {
  auto files = MixedFiles();
  // Whole-word and odd data reserves: checksums written either way, and
  // cabextract verifies them.
  for (uint8_t dataReserve : {uint8_t(8), uint8_t(5)}) {
    CabinetSetOptions opt;
    opt.headerReserve = 20;
    opt.folderReserve = 3;
    opt.dataReserve = dataReserve;
    fs::path cab = dir_ / ("reserve" + std::to_string(dataReserve) + ".cab");
    WriteCab(cab, files, {Compression::Mszip(), Compression::Lzx(18)}, opt);
    Bytes raw = ReadAll(cab);
    CabInfo info = ParseCab(raw);
    EXPECT_TRUE(info.flags & kFlagReservePresent);
    EXPECT_EQ(info.headerReserve, 20);
    EXPECT_EQ(info.folderReserve, 3);
    EXPECT_EQ(info.dataReserve, dataReserve);
    uint32_t firstChecksum = ReadLe32(&raw[info.folders[0].dataStart]);
    EXPECT_NE(firstChecksum, 0u);
    ExpectCabextractGives(cab, files);
  }
}

// Every cabinet of a set within the limit, linked by names, one set id,
// consecutive indices; the files come back whole from the first cabinet.
void ExpectWellFormedSet(const std::vector<std::string>& cabs, const CabinetSetOptions& opt) {
  ASSERT_GE(cabs.size(), 2u);
  for (size_t i = 0; i < cabs.size(); ++i) {
    SCOPED_TRACE(cabs[i]);
    Bytes raw = ReadAll(cabs[i]);
    CabInfo info = ParseCab(raw);
    EXPECT_LE(raw.size(), opt.maxCabinetSize);
    EXPECT_EQ(info.size, raw.size());
    EXPECT_EQ(info.setId, opt.setId);
    EXPECT_EQ(info.index, i);
    EXPECT_EQ(bool(info.flags & kFlagPrevCabinet), i > 0);
    EXPECT_EQ(bool(info.flags & kFlagNextCabinet), i + 1 < cabs.size());
    if (i > 0) EXPECT_EQ(info.prevName, fs::path(cabs[i - 1]).filename().string());
    if (i + 1 < cabs.size()) EXPECT_EQ(info.nextName, fs::path(cabs[i + 1]).filename().string());
    if (opt.diskName) {
      if (i > 0) EXPECT_EQ(info.prevDisk, opt.diskName(unsigned(i - 1)));
      if (i + 1 < cabs.size()) EXPECT_EQ(info.nextDisk, opt.diskName(unsigned(i + 1)));
    }
  }
}

TEST_F(CabextractTest, SplitSets) {
  auto files = MixedFiles();
  files.push_back({"last.txt", TextLike(5000, 40)});
  for (const Compression& c : {Compression::Stored(), Compression::Mszip(), Compression::Lzx(21)}) {
    for (uint64_t limit : {50000u, 70001u}) {
      SCOPED_TRACE(CompressionName(c) + " limit " + std::to_string(limit));
      CabinetSetOptions opt;
      opt.maxCabinetSize = limit;
      opt.setId = 0x4711;
      opt.diskName = [](unsigned i) { return "Disk " + std::to_string(i + 1); };
      fs::path cab = dir_ / ("set" + std::to_string(c.TypeCompress()) + "-" + std::to_string(limit) + ".cab");
      auto cabs = WriteCab(cab, files, {c}, opt);
      ExpectWellFormedSet(cabs, opt);
      ExpectCabextractGives(cab, files);
    }
  }
}

TEST_F(CabextractTest, FileSpanningThreeCabinetsAndEmptyFilesAtTheCut) {
  std::vector<Input> files = {{"head.txt", TextLike(20000, 50)},
                              {"e1", {}},
                              {"big.bin", RandomBytes(130000, 51)},
                              {"e2", {}},
                              {"tail.txt", TextLike(9000, 52)},
                              {"e3", {}}};
  for (const Compression& c : {Compression::Stored(), Compression::Lzx(16)}) {
    SCOPED_TRACE(CompressionName(c));
    CabinetSetOptions opt;
    opt.maxCabinetSize = 45000;
    opt.cabinetName = [](unsigned i) { return "part" + std::string(1, char('a' + i)) + ".cab"; };
    fs::path cab = dir_ / "parta.cab";
    auto cabs = WriteCab(cab, files, {c}, opt);
    ExpectWellFormedSet(cabs, opt);
    // big.bin starts in one cabinet, fills at least one more and ends in a third.
    std::vector<uint16_t> marks;
    for (const auto& path : cabs)
      for (const FileRecord& f : ParseCab(ReadAll(path)).files)
        if (f.name == "big.bin") marks.push_back(f.folder);
    ASSERT_GE(marks.size(), 3u);
    EXPECT_EQ(marks.front(), kFolderContinuedToNext);
    EXPECT_EQ(marks[1], kFolderContinuedPrevAndNext);
    EXPECT_EQ(marks.back(), kFolderContinuedFromPrev);
    ExpectCabextractGives(cab, files);
    for (const auto& path : cabs) fs::remove(path);
  }
}

TEST_F(CabextractTest, LzxCompressesLikeOrBetterThanMszip) {
  std::vector<Input> files;
  for (uint32_t i = 0; i < 6; ++i) {
    files.push_back({"doc" + std::to_string(i) + ".txt", TextLike(300000, 60 + i)});
    files.push_back({"lib" + std::to_string(i) + ".dll", BinaryLike(300000, 70 + i)});
  }
  files.push_back({"packed.gz", RandomBytes(200000, 80)});
  uint64_t total = 0;
  for (const auto& f : files) total += f.data.size();
  auto sizeOf = [&](const Compression& c) {
    fs::path cab = dir_ / (CompressionName(c).substr(0, 3) + ".cab");
    WriteCab(cab, files, {c});
    return double(fs::file_size(cab));
  };
  double stored = sizeOf(Compression::Stored()), mszip = sizeOf(Compression::Mszip()),
         lzx = sizeOf(Compression::Lzx(21));
  std::printf("ratio on %llu bytes of mixed data: mszip %.3f lzx:21 %.3f (stored %.3f)\n",
              (unsigned long long)total, mszip / total, lzx / total, stored / total);
  EXPECT_LT(lzx, 0.6 * stored);
  EXPECT_LE(lzx, mszip);
  ExpectCabextractGives(dir_ / "lzx.cab", files);
}

// Wine's cabarc reads one cabinet per run; a set is extracted cabinet by
// cabinet into one folder.
TEST(WineCabarc, ReadsWriterCabinets) {
  if (!HaveTool("wine") || RunCommand("ls /usr/lib/*-linux-gnu/wine/*-windows/cabarc.exe").status != 0)
    GTEST_SKIP() << "wine or cabarc missing";
  fs::path dir = ScratchDir();
  fs::path prefix = fs::path(ORVO_BINARY_DIR) / "wine" / "prefix";
  fs::create_directories(prefix);
  // The loader the test run names: Debian's wine script may pick a 32-bit
  // one this machine cannot start.
  std::string env = "WINEPREFIX=" + Quote(prefix) + " WINEDEBUG=-all ";
  std::string wine = "\"${WINELOADER:-wine}\" ";
  std::string usage = RunCommand(env + "timeout 300 " + wine + "cabarc").output;
  ASSERT_NE(usage.find("Usage"), std::string::npos) << "cabarc does not start under Wine: " << usage;
  auto files = MixedFiles();
  struct Case {
    std::string name;
    std::vector<Compression> folders;
    uint64_t limit;
  };
  std::vector<Case> cases = {{"stored", {Compression::Stored()}, 0},
                             {"mszip", {Compression::Mszip()}, 0},
                             {"lzx", {Compression::Lzx(15), Compression::Lzx(21)}, 0},
                             {"set", {Compression::Lzx(19)}, 60000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CabinetSetOptions opt;
    opt.maxCabinetSize = c.limit;
    auto cabs = WriteCab(dir / (c.name + ".cab"), files, c.folders, opt);
    fs::path out = dir / ("x-" + c.name);
    fs::create_directories(out);
    CommandResult list = RunCommand("cd " + Quote(dir) + " && " + env + wine + "cabarc l " + c.name + ".cab");
    EXPECT_NE(list.output.find("text.txt"), std::string::npos) << list.output;
    for (const auto& cab : cabs) {
      CommandResult x = RunCommand("cd " + Quote(dir) + " && " + env + wine + "cabarc x " +
                            fs::path(cab).filename().string() + " 'x-" + c.name + "\\'");
      EXPECT_EQ(x.status, 0) << x.output;
    }
    for (const Input& f : files) EXPECT_TRUE(ReadAll(out / f.name) == f.data) << f.name;
  }
}

}  // namespace
}  // namespace orvo::cab::test
