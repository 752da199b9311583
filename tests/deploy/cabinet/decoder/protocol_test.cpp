// The notification protocol of Copy, and cabinets that are wrong on purpose:
// each must end with its documented code, with every descriptor closed and
// every allocation returned.
#include <gtest/gtest.h>

#include <cstring>

#include "cab_format.h"
#include "decoder_harness.h"

namespace orvo::cab::test {
namespace {

constexpr uint16_t kMszip = 1;

std::vector<TestFile> ThreeFiles() {
  return {{"a.txt", TextData(50000, 11)}, {"b.bin", NoiseData(40000, 12)}, {"c.txt", TextData(30000, 13)}};
}

class Decoder : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles::Get().Reset();
    baseline_ = MemoryFiles::Get().allocated;
  }
  void TearDown() override {
    EXPECT_EQ(MemoryFiles::Get().openDescriptors, 0) << "a descriptor was left open";
    EXPECT_EQ(MemoryFiles::Get().allocated, baseline_) << "memory was not given back";
  }
  static void Put(const std::string& name, const Bytes& cab) { MemoryFiles::Get().Put("c/" + name, cab); }
  static Extraction Run(const std::string& name, std::function<intptr_t(const Event&)> answer = nullptr) {
    Extraction x;
    x.answer = std::move(answer);
    x.Run("c/", name);
    return x;
  }
  static void PutSet(const std::vector<TestFile>& files, const CabOptions& o, std::vector<Cut> cuts,
                     const std::vector<std::string>& names = {"s1.cab", "s2.cab", "s3.cab"}) {
    std::vector<std::string> n(names.begin(), names.begin() + long(cuts.size() + 1));
    std::vector<Bytes> set = BuildSet(files, o, n, cuts);
    for (size_t k = 0; k < set.size(); ++k) Put(n[k], set[k]);
  }
  size_t baseline_ = 0;
};

// ---- the notification protocol ----------------------------------------------

TEST_F(Decoder, AnswersToCopyAndClose) {
  CabOptions o;
  o.method = kMszip;
  Put("m.cab", BuildCabinet(ThreeFiles(), o));

  // 0 skips a file; the folder is still decoded through it, history included.
  Extraction skip = Run("m.cab", [](const Event& e) -> intptr_t {
    return e.type == kCopyFile && e.text1 == "b.bin" ? 0 : Extraction::kDefault;
  });
  ASSERT_TRUE(skip.ok) << skip.error.code;
  EXPECT_EQ(skip.Trace(), "0: 5: 2:a.txt 3:a.txt 2:b.bin 2:c.txt 3:c.txt 5:");
  EXPECT_TRUE(*skip.File("c.txt") == ThreeFiles()[2].data);

  // -1 aborts at once with code 11.
  Extraction abort = Run("m.cab", [](const Event& e) -> intptr_t {
    return e.type == kCopyFile && e.text1 == "b.bin" ? -1 : Extraction::kDefault;
  });
  EXPECT_FALSE(abort.ok);
  EXPECT_EQ(abort.error.code, kErrorUserAbort);
  EXPECT_EQ(abort.Trace(), "0: 5: 2:a.txt 3:a.txt 2:b.bin");

  // A close answered false is a failed target file (8); -1 is an abort
  // (11), and then the decoder closes the descriptor itself.
  for (intptr_t answer : {intptr_t(0), intptr_t(-1)}) {
    Extraction x = Run("m.cab", [answer](const Event& e) -> intptr_t {
      return e.type == kCloseFileInfo && e.text1 == "a.txt" ? answer : Extraction::kDefault;
    });
    EXPECT_FALSE(x.ok);
    EXPECT_EQ(x.error.code, answer == 0 ? kErrorTargetFile : kErrorUserAbort);
    EXPECT_EQ(x.Trace(), "0: 5: 2:a.txt 3:a.txt");
  }
}

TEST_F(Decoder, AbortFromEveryOtherNotification) {
  CabOptions o;
  o.method = kMszip;
  PutSet(ThreeFiles(), o, {{2, true}});
  for (NotificationType type : {kCabinetInfo, kEnumerate, kNextCabinet}) {
    Extraction x = Run("s1.cab", [type](const Event& e) -> intptr_t {
      return e.type == type ? -1 : Extraction::kDefault;
    });
    EXPECT_FALSE(x.ok) << type;
    EXPECT_EQ(x.error.code, kErrorUserAbort) << type;
    ASSERT_FALSE(x.events.empty());
    EXPECT_EQ(x.events.back().type, type) << "nothing follows the abort";
  }
  Extraction partial = Run("s2.cab", [](const Event& e) -> intptr_t {
    return e.type == kPartialFile ? -1 : Extraction::kDefault;
  });
  EXPECT_EQ(partial.error.code, kErrorUserAbort);
}

TEST_F(Decoder, RecordsCarryTheEntryFields) {
  std::vector<TestFile> files = {{"run.exe", TextData(1000, 1), 0x61, 0x4E21, 0x8C03}, {"plain.txt", {}, 0x27}};
  CabOptions o;
  o.setId = 0x1357;
  PutSet(files, o, {});
  Extraction x = Run("s1.cab");
  ASSERT_TRUE(x.ok);
  ASSERT_EQ(x.events.size(), 7u) << x.Trace();
  const Event& copy = x.events[2];
  EXPECT_EQ(copy.type, kCopyFile);
  EXPECT_EQ(copy.size, 1000u);
  EXPECT_EQ(copy.date, 0x4E21);
  EXPECT_EQ(copy.time, 0x8C03);
  EXPECT_EQ(copy.attributes, 0x21) << "the run-after-extraction bit is taken off";
  EXPECT_EQ(x.events[3].attributes, 0x21);
  EXPECT_EQ(x.events[5].attributes, 0x27);
  EXPECT_EQ(x.events[0].setId, 0x1357);
  EXPECT_EQ(x.events[0].text3, "c/");
  EXPECT_EQ(x.File("plain.txt")->size(), 0u);
}

// ---- sets ----------------------------------------------------------------------

TEST_F(Decoder, SetsFollowTheNextCabinet) {
  // The folder runs through three cabinets, cut inside a block and between
  // blocks: b.bin goes on into the second, c.txt from there into the third.
  CabOptions o;
  o.method = kMszip;
  o.dataReserve = 5;
  o.folderReserve = 2;
  PutSet(ThreeFiles(), o, {{2, true}, {3, false}});
  Extraction x = Run("s1.cab");
  ASSERT_TRUE(x.ok) << x.error.code << " " << x.Trace();
  EXPECT_EQ(x.Trace(), "0:s2.cab 5: 2:a.txt 3:a.txt 2:b.bin 4:s2.cab 0:s3.cab 3:b.bin 5: "
                       "5: 2:c.txt 4:s3.cab 0: 3:c.txt 5: 5: 5:");
  for (const TestFile& f : ThreeFiles()) EXPECT_TRUE(*x.File(f.name) == f.data) << f.name;
  EXPECT_EQ(MemoryFiles::Get().opened, (std::vector<std::string>{"c/s1.cab", "c/s2.cab", "c/s3.cab"}));
  const Event& next = x.events[5];
  EXPECT_EQ(next.text2, "Disk 2");
  EXPECT_EQ(next.text3, "c/");

  // Started in the second cabinet: b.bin began in the first and is
  // passed over; so is c.txt, whose folder began there too. The third
  // cabinet is still walked, for folders that begin in it.
  Extraction second = Run("s2.cab");
  ASSERT_TRUE(second.ok) << second.error.code;
  EXPECT_EQ(second.Trace(), "0:s3.cab 5: 1:b.bin 1:c.txt 5: 4:s3.cab 0: 5: 5:");
  EXPECT_EQ(second.events[2].text2, "s1.cab");
  EXPECT_EQ(second.events[2].text3, "Disk 1");
  EXPECT_TRUE(second.files.empty());
}

// A file through three cabinets: the middle one is walked after the data
// has moved past it, so it is opened once more, without a notification.
TEST_F(Decoder, FileThroughThreeCabinets) {
  std::vector<TestFile> files = {{"big", TextData(80000, 5)}, {"tail", TextData(100, 6)}};
  CabOptions o;
  o.method = kMszip;
  PutSet(files, o, {{1, true}, {2, true}});
  Extraction x = Run("s1.cab");
  ASSERT_TRUE(x.ok) << x.error.code;
  EXPECT_EQ(x.Trace(), "0:s2.cab 5: 2:big 4:s2.cab 0:s3.cab 4:s3.cab 0: 3:big 5: 5: 5: 5: 2:tail 3:tail 5:");
  EXPECT_TRUE(*x.File("big") == files[0].data);
  EXPECT_TRUE(*x.File("tail") == files[1].data);
  EXPECT_EQ(MemoryFiles::Get().opened, (std::vector<std::string>{"c/s1.cab", "c/s2.cab", "c/s3.cab", "c/s2.cab"}));
}

TEST_F(Decoder, NextCabinetMayNameAnotherFolder) {
  CabOptions o;
  std::vector<Bytes> set = BuildSet(ThreeFiles(), o, {"s1.cab", "s2.cab"}, {{2, true}});
  MemoryFiles::Get().Put("first/s1.cab", set[0]);
  MemoryFiles::Get().Put("moved/s2.cab", set[1]);
  Extraction x;
  x.answer = nullptr;
  Context* c = Create(MemoryFiles::Get().MakeCallbacks(), 1, &x.error);
  ASSERT_NE(c, nullptr);
  auto notify = [](NotificationType type, Notification* n) -> intptr_t {
    auto* files = static_cast<std::vector<std::string>*>(n->user);
    if (type == kNextCabinet) std::strcpy(n->text3, "moved/");
    if (type == kCopyFile) return MemoryFiles::Get().CreateOutput(n->text1);
    if (type == kCloseFileInfo) {
      files->push_back(n->text1);
      MemoryFiles::Get().MakeCallbacks().close(n->fd);
      return 1;
    }
    return 0;
  };
  std::vector<std::string> done;
  EXPECT_TRUE(Copy(c, "s1.cab", "first/", 0, notify, nullptr, &done)) << x.error.code;
  EXPECT_TRUE(Destroy(c));
  EXPECT_EQ(done.size(), 3u);
  EXPECT_EQ(MemoryFiles::Get().opened, (std::vector<std::string>{"first/s1.cab", "moved/s2.cab"}));
}

TEST_F(Decoder, WrongMembersOfASet) {
  CabOptions o;
  o.method = kMszip;
  std::vector<Bytes> set = BuildSet(ThreeFiles(), o, {"s1.cab", "s2.cab"}, {{2, true}});
  struct Case {
    const char* what;
    int code;
    std::function<void(Bytes&)> edit;  // of the second cabinet
  } cases[] = {
      {"other set id", kErrorWrongCabinet, [](Bytes& b) { WriteLe16(b.data() + 32, 0x9999); }},
      {"other index", kErrorWrongCabinet, [](Bytes& b) { WriteLe16(b.data() + 34, 5); }},
      {"version 1.2", kErrorUnknownVersion, [](Bytes& b) { b[24] = 2; }},
      {"not a cabinet", kErrorNotACabinet, [](Bytes& b) { b[0] = 'X'; }},
      {"missing", kErrorCabinetNotFound, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFiles::Get().Reset();
    Bytes second = set[1];
    Put("s1.cab", set[0]);
    if (c.edit) {
      c.edit(second);
      Put("s2.cab", second);
    }
    Extraction x = Run("s1.cab");
    EXPECT_FALSE(x.ok);
    EXPECT_EQ(x.error.code, c.code);
    EXPECT_EQ(x.events.back().type, kNextCabinet) << x.Trace();
  }
  // A second member whose reserve sizes differ.
  CabOptions r = o;
  r.dataReserve = 4;
  std::vector<Bytes> other = BuildSet(ThreeFiles(), r, {"s1.cab", "s2.cab"}, {{2, true}});
  MemoryFiles::Get().Reset();
  Put("s1.cab", set[0]);
  Put("s2.cab", other[1]);
  Extraction x = Run("s1.cab");
  EXPECT_EQ(x.error.code, kErrorReserveMismatch);
}

// The next cabinet's name comes from the header: it may only name a file in
// the cabinet folder, never a path elsewhere or on another machine.
TEST_F(Decoder, NextCabinetNameMustBeAPlainFileName) {
  CabOptions o;
  o.method = kMszip;
  for (const char* name : {"../s2.cab", "sub/s2.cab", "sub\\s2.cab", "\\\\srv\\share\\s2.cab", "C:s2.cab", ".."}) {
    SCOPED_TRACE(name);
    std::vector<Bytes> set = BuildSet(ThreeFiles(), o, {"s1.cab", name}, {{2, true}});
    MemoryFiles::Get().Reset();
    Put("s1.cab", set[0]);
    MemoryFiles::Get().Put(std::string("c/") + name, set[1]);
    Extraction x = Run("s1.cab");
    EXPECT_FALSE(x.ok);
    EXPECT_EQ(x.error.code, kErrorCabinetNotFound);
    EXPECT_EQ(MemoryFiles::Get().opened, std::vector<std::string>{"c/s1.cab"});
  }
}

// ---- hostile cabinets ----------------------------------------------------------

TEST_F(Decoder, IsCabinetLooksAtTheHeaderOnly) {
  Context* c = nullptr;
  ErrorRecord error;
  error.code = 99;
  c = Create(MemoryFiles::Get().MakeCallbacks(), 1, &error);
  ASSERT_NE(c, nullptr);
  CabOptions o;
  o.setId = 0x2468;
  o.firstIndex = 3;
  o.headerReserve = 10;
  Bytes good = BuildSet(ThreeFiles(), o, {"x.cab", "y.cab"}, {{1, false}})[1];
  Bytes old = good;
  old[24] = 2;
  Bytes text(100, 'M');
  MemoryFiles::Get().Put("good", good);
  MemoryFiles::Get().Put("old", old);
  MemoryFiles::Get().Put("text", text);
  MemoryFiles::Get().Put("short", Bytes(good.begin(), good.begin() + 30));
  Callbacks k = MemoryFiles::Get().MakeCallbacks();
  auto check = [&](const char* name, CabinetInfo* info) {
    Descriptor fd = k.open(name, kOpenBinary, 0);
    bool result = IsCabinet(c, fd, info);
    k.close(fd);
    return result;
  };
  CabinetInfo info;
  EXPECT_FALSE(check("text", &info));
  EXPECT_FALSE(check("short", &info));
  EXPECT_EQ(error.code, 99) << "not a cabinet leaves the record alone";
  EXPECT_FALSE(error.failed);
  ASSERT_TRUE(check("good", &info));
  EXPECT_EQ(info.totalSize, good.size());
  EXPECT_EQ(info.folders, 1);
  EXPECT_EQ(info.setId, 0x2468);
  EXPECT_EQ(info.cabinetIndex, 4);
  EXPECT_TRUE(info.hasReserve && info.hasPrev && !info.hasNext);
  EXPECT_EQ(info.files, 3) << "a.txt continued from x.cab, b.bin and c.txt";
  EXPECT_FALSE(check("old", &info));
  EXPECT_EQ(error.code, kErrorUnknownVersion);
  EXPECT_TRUE(Destroy(c));
}

TEST_F(Decoder, RefusedFolders) {
  struct Case {
    const char* what;
    uint16_t method;
    int code;
  } cases[] = {
      {"method 4", 4, kErrorUnknownCompression},
      {"LZX window 2^14", 3 | (14 << 8), kErrorUnknownCompression},
      {"LZX window 2^22", 3 | (22 << 8), kErrorUnknownCompression},
      {"Quantum window 2^9", 2 | (9 << 8), kErrorUnknownCompression},
      {"Quantum window 2^22", 2 | (22 << 8), kErrorUnknownCompression},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFiles::Get().Reset();
    CabOptions o;  // stored blocks, labelled with another method
    o.method = c.method;
    Put("r.cab", BuildCabinet({{"empty", {}}, {"data", TextData(100, 1)}}, o));
    Extraction x = Run("r.cab");
    EXPECT_FALSE(x.ok);
    EXPECT_EQ(x.error.code, c.code);
    // An unknown method fails at the folder's first file, even an empty one.
    EXPECT_EQ(x.Trace(), "0: 5:");
  }
  // MSZIP blocks must open with "CK".
  MemoryFiles::Get().Reset();
  CabOptions o;
  o.method = kMszip;
  o.checksums = false;
  Bytes cab = BuildCabinet({{"empty", {}}, {"data", TextData(100, 1)}}, o);
  cab[LayoutOf(cab).firstBlock + 9] = 'X';
  Put("ck.cab", cab);
  Extraction x = Run("ck.cab");
  EXPECT_EQ(x.error.code, kErrorDecompression);
  EXPECT_EQ(x.Trace(), "0: 5: 2:empty 3:empty 2:data");
}

TEST_F(Decoder, Checksums) {
  CabOptions o;
  o.dataReserve = 6;
  Bytes cab = BuildCabinet(ThreeFiles(), o);
  size_t block = LayoutOf(cab).firstBlock;
  size_t data = block + 8 + 6;

  Bytes bad = cab;
  bad[block] ^= 1;
  Put("bad.cab", bad);
  Extraction x = Run("bad.cab");
  EXPECT_FALSE(x.ok);
  EXPECT_EQ(x.error.code, kErrorCorruptCabinet);

  // A zero checksum is not verified: the damage comes through.
  Bytes unchecked = cab;
  WriteLe32(unchecked.data() + block, 0);
  unchecked[data + 10] ^= 0x20;
  Put("zero.cab", unchecked);
  Extraction y = Run("zero.cab");
  ASSERT_TRUE(y.ok) << y.error.code;
  EXPECT_EQ((*y.File("a.txt"))[10], ThreeFiles()[0].data[10] ^ 0x20);

  // A sum over the reserve area too, as the format's description has it.
  Bytes withReserve = cab;
  uint16_t n = ReadLe16(cab.data() + block + 4);
  uint32_t sum = Checksum(cab.data() + data, n, Checksum(cab.data() + block + 8, 6, 0));
  WriteLe32(withReserve.data() + block, Checksum(cab.data() + block + 4, 4, sum));
  Put("res.cab", withReserve);
  EXPECT_TRUE(Run("res.cab").ok);
}

// Header fields that claim more than the file holds: the copy fails with
// code 4, without allocating by the claim.
TEST_F(Decoder, AbsurdFields) {
  CabOptions o;
  o.checksums = false;
  o.blockSize = 2048;
  Bytes cab = BuildCabinet({{"a.txt", TextData(3000, 1)}, {"b.bin", NoiseData(2000, 2)}, {"c.txt", TextData(900, 3)}}, o);
  Layout l = LayoutOf(cab);
  size_t firstFile = l.filesOffset;
  size_t block = l.firstBlock;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> edit;
  } cases[] = {
      {"65535 files", [](Bytes& b) { WriteLe16(b.data() + 28, 0xFFFF); }},
      {"files beyond the end", [](Bytes& b) { WriteLe32(b.data() + 16, 0x7FFFFFF0); }},
      {"files offset past 2 GB", [](Bytes& b) { WriteLe32(b.data() + 16, 0xFFFFFFF0); }},
      {"folder index 7", [&](Bytes& b) { WriteLe16(b.data() + firstFile + 8, 7); }},
      {"continued file without a next cabinet", [&](Bytes& b) { WriteLe16(b.data() + firstFile + 8, 0xFFFE); WriteLe32(b.data() + firstFile, 0xFFFFFFFF); }},
      {"4 GB file", [&](Bytes& b) { WriteLe32(b.data() + firstFile, 0xFFFFFFFF); }},
      {"file far into the folder", [&](Bytes& b) { WriteLe32(b.data() + firstFile + 4, 0xFFFFFF00); }},
      {"name without end", [&](Bytes& b) { std::fill(b.begin() + long(firstFile) + 16, b.end(), 'n'); }},
      {"fewer data blocks than the files need", [&](Bytes& b) { WriteLe16(b.data() + l.foldersOffset + 4, 1); }},
      {"data beyond the end", [&](Bytes& b) { WriteLe32(b.data() + l.foldersOffset, 0x7FFF0000); }},
      {"block larger than allowed", [&](Bytes& b) { WriteLe16(b.data() + block + 4, 40000); WriteLe16(b.data() + block + 6, 40000); }},
      {"stored sizes differ", [&](Bytes& b) { WriteLe16(b.data() + block + 6, 100); }},
      {"empty block inside the folder", [&](Bytes& b) { WriteLe16(b.data() + block + 6, 0); }},
      {"header reserve of 64 KB", [](Bytes& b) {
         b.insert(b.begin() + 36, {0xFF, 0xFF, 0, 0});
         WriteLe16(b.data() + 30, ReadLe16(b.data() + 30) | kFlagReservePresent);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFiles::Get().Reset();
    Bytes b = cab;
    c.edit(b);
    Put("x.cab", b);
    MemoryFiles::Get().peakAllocated = MemoryFiles::Get().allocated;
    Extraction x = Run("x.cab");
    EXPECT_FALSE(x.ok);
    EXPECT_EQ(x.error.code, kErrorCorruptCabinet);
    EXPECT_LT(MemoryFiles::Get().peakAllocated - baseline_, 128u * 1024);
    EXPECT_EQ(MemoryFiles::Get().openDescriptors, 0);
  }
}

TEST_F(Decoder, EveryTruncation) {
  CabOptions o;
  o.method = kMszip;
  o.headerReserve = 3;
  std::vector<TestFile> files = {{"a", TextData(70000, 3)}, {"b", {}}, {"c", NoiseData(300, 4)}};
  Bytes cab = BuildCabinet(files, o);
  for (size_t n = 0; n < cab.size(); n += n < 200 ? 1 : 97) {
    MemoryFiles::Get().Reset();
    Put("t.cab", Bytes(cab.begin(), cab.begin() + long(n)));
    Extraction x = Run("t.cab");
    ASSERT_FALSE(x.ok) << n;
    EXPECT_EQ(x.error.code, n < 4 ? kErrorNotACabinet : kErrorCorruptCabinet) << n;
    EXPECT_EQ(MemoryFiles::Get().openDescriptors, 0) << n;
  }
}

TEST_F(Decoder, EntriesOutOfOrderAndShortWrites) {
  // Entries that go back in the folder make it decode again from its start.
  std::vector<TestFile> files = ThreeFiles();
  CabOptions o;
  o.method = kMszip;
  Bytes cab = BuildCabinet(files, o);
  Layout l = LayoutOf(cab);
  // Swap the offsets and sizes of a.txt and c.txt: c.txt is listed first.
  size_t a = l.filesOffset, c = a + 16 + 6 + 16 + 6;
  Bytes b = cab;
  for (int k = 0; k < 8; ++k) std::swap(b[a + k], b[c + k]);
  std::swap(b[a + 16], b[c + 16]);
  Put("o.cab", b);
  Extraction x = Run("o.cab");
  ASSERT_TRUE(x.ok) << x.error.code;
  EXPECT_EQ(x.files[0].first, "c.txt");
  EXPECT_TRUE(x.files[0].second == files[2].data);
  EXPECT_TRUE(x.files[2].second == files[0].data) << "a.txt, now listed last";

  MemoryFiles::Get().Reset();
  MemoryFiles::Get().failWriteAfter = 60000;
  Put("m.cab", cab);
  Extraction y = Run("m.cab");
  EXPECT_FALSE(y.ok);
  EXPECT_EQ(y.error.code, kErrorTargetFile);
  EXPECT_EQ(y.Trace(), "0: 5: 2:a.txt 3:a.txt 2:b.bin");
}

TEST_F(Decoder, CreateWithoutMemory) {
  MemoryFiles::Get().failAllocAbove = 0;
  ErrorRecord error;
  EXPECT_EQ(Create(MemoryFiles::Get().MakeCallbacks(), 1, &error), nullptr);
  EXPECT_EQ(error.code, kErrorOutOfMemory);
  MemoryFiles::Get().failAllocAbove = 40000;  // the context, not its block buffers
  EXPECT_EQ(Create(MemoryFiles::Get().MakeCallbacks(), 1, &error), nullptr);
  EXPECT_EQ(error.code, kErrorOutOfMemory);
}

}  // namespace
}  // namespace orvo::cab::test
