// The writer's own checks and header fields, without outside tools.
#include <gtest/gtest.h>

#include "cab_writer.h"
#include "writer_test_util.h"

namespace orvo::cab::test {
namespace {

TEST(CompressionNames, ParseAndPrint) {
  EXPECT_EQ(ParseCompression("stored")->TypeCompress(), kCompressNone);
  EXPECT_EQ(ParseCompression("none")->TypeCompress(), kCompressNone);
  EXPECT_EQ(ParseCompression("mszip")->TypeCompress(), kCompressMszip);
  EXPECT_EQ(ParseCompression("lzx")->TypeCompress(), kCompressLzx | (21 << 8));
  EXPECT_EQ(ParseCompression("lzx:15")->TypeCompress(), kCompressLzx | (15 << 8));
  for (const char* bad : {"lzx:14", "lzx:22", "lzx:", "lzx:2", "quantum", "MSZIP", ""})
    EXPECT_FALSE(ParseCompression(bad)) << bad;
  EXPECT_EQ(CompressionName(*ParseCompression("lzx:17")), "lzx:17");
}

TEST(DosTimes, PackedLikeTheFormat) {
  EXPECT_EQ(DosDate(1980, 1, 1), 0x0021);
  EXPECT_EQ(DosDate(2024, 2, 29), ((2024 - 1980) << 9) | (2 << 5) | 29);
  EXPECT_EQ(DosTime(23, 59, 58), (23 << 11) | (59 << 5) | 29);
  uint16_t d = 1, t = 1;
  DosDateTimeFromTime(0, &d, &t);  // 1970: before the DOS epoch
  EXPECT_EQ(d, DosDate(1980, 1, 1));
  EXPECT_EQ(t, 0);
}

class WriterApi : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = ScratchDir(); }
  fs::path dir_;
};

TEST_F(WriterApi, RejectsMisuse) {
  const uint8_t data[4] = {1, 2, 3, 4};
  {
    CabinetWriter w((dir_ / "a.cab").string());
    EXPECT_FALSE(w.AddFile({""}, data, 4));
    EXPECT_NE(w.error().find("name"), std::string::npos);
  }
  {
    CabinetWriter w((dir_ / "b.cab").string());
    EXPECT_FALSE(w.AddFile({std::string(256, 'n')}, data, 4));
  }
  {
    CabinetWriter w((dir_ / "c.cab").string());
    ASSERT_TRUE(w.BeginFile({"f"}, 3));
    EXPECT_FALSE(w.Write(data, 4));
  }
  {
    CabinetWriter w((dir_ / "d.cab").string());
    ASSERT_TRUE(w.BeginFile({"f"}, 5));
    ASSERT_TRUE(w.Write(data, 4));
    EXPECT_FALSE(w.EndFile());
    EXPECT_FALSE(w.Finish());  // errors stick
  }
  {
    CabinetSetOptions opt;
    opt.maxFolderSize = 100;
    CabinetWriter w((dir_ / "e.cab").string(), opt);
    Bytes big(101, 7);
    EXPECT_FALSE(w.AddFile({"big"}, big.data(), big.size()));
  }
  {
    CabinetSetOptions opt;
    opt.maxCabinetSize = 60;
    CabinetWriter w((dir_ / "f.cab").string(), opt);
    Bytes big = RandomBytes(1000, 1);
    EXPECT_FALSE(w.AddFile({"x"}, big.data(), big.size()) && w.Finish());
    EXPECT_NE(w.error().find("too small"), std::string::npos) << w.error();
  }
  EXPECT_FALSE(fs::exists(dir_ / "a.cab.part"));
}

TEST_F(WriterApi, FoldersStartAtTheFolderLimitAndNamesAreMarkedUtf8) {
  CabinetSetOptions opt;
  opt.maxFolderSize = 250;
  CabinetWriter w((dir_ / "limit.cab").string(), opt);
  Bytes chunk(100, 'a');
  for (const char* name : {"1", "2", "3", "4", "d\xC3\xA9j\xC3\xA0.txt"})
    ASSERT_TRUE(w.AddFile({name}, chunk.data(), chunk.size())) << w.error();
  ASSERT_TRUE(w.Finish()) << w.error();
  CabInfo info = ParseCab(ReadAll(dir_ / "limit.cab"));
  ASSERT_EQ(info.files.size(), 5u);
  std::vector<uint16_t> folderOf;
  for (const auto& f : info.files) folderOf.push_back(f.folder);
  EXPECT_EQ(folderOf, (std::vector<uint16_t>{0, 0, 1, 1, 2}));
  EXPECT_EQ(info.files[2].offset, 0u);
  EXPECT_EQ(info.files[0].attribs & kAttribNameIsUtf, 0);
  EXPECT_EQ(info.files[4].attribs & kAttribNameIsUtf, kAttribNameIsUtf);
  EXPECT_EQ(w.totals().folders, 3u);
  EXPECT_EQ(w.totals().uncompressedBytes, 500u);
}

TEST_F(WriterApi, StreamsFilesFromDisk) {
  Bytes content = TextLike(200000, 3);
  WriteAll(dir_ / "in.txt", content);
  CabinetWriter w((dir_ / "disk.cab").string());
  ASSERT_TRUE(w.StartFolder(Compression::Lzx(17)));
  ASSERT_TRUE(w.AddFileFromPath({"in.txt"}, (dir_ / "in.txt").string())) << w.error();
  EXPECT_FALSE(w.AddFileFromPath({"missing"}, (dir_ / "missing").string()));
  EXPECT_FALSE(w.Finish());
  CabinetWriter w2((dir_ / "disk2.cab").string());
  ASSERT_TRUE(w2.AddFileFromPath({"in.txt"}, (dir_ / "in.txt").string())) << w2.error();
  ASSERT_TRUE(w2.Finish());
  CabInfo info = ParseCab(ReadAll(dir_ / "disk2.cab"));
  ASSERT_EQ(info.files.size(), 1u);
  EXPECT_EQ(info.files[0].size, content.size());
  EXPECT_EQ(info.folders[0].typeCompress, kCompressMszip);
}

}  // namespace
}  // namespace orvo::cab::test
