// Cabinets made by tools no one here wrote (gcab, Wine's cabarc) must come
// out byte for byte as cabextract extracts them; and cabextract must read the
// harness's own cabinets, so that the hostile tests start from real ones.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "decoder_harness.h"

namespace orvo::cab::test {
namespace {

const std::string kWork = std::string(ORVO_BINARY_DIR) + "/cab-decoder-reference";

int Shell(const std::string& command) { return std::system((command + " </dev/null >/dev/null 2>&1").c_str()); }

void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

Bytes Load(const std::string& path) {
  Bytes b;
  std::string err = ReadFileBytes(path, &b);
  EXPECT_EQ(err, "");
  return b;
}

struct Input {
  std::string name;
  Bytes data;
};

std::vector<Input> Inputs() {
  return {{"text.txt", TextData(150000, 1)},
          {"noise.bin", NoiseData(70000, 2)},
          {"empty.dat", {}},
          {"small.txt", TextData(17, 3)},
          {"mixed.bin", [] {
             Bytes b = TextData(40000, 4), n = NoiseData(30000, 5);
             b.insert(b.end(), n.begin(), n.end());
             return b;
           }()}};
}

class ReferenceTools : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Shell("rm -rf '" + kWork + "'");
    Shell("mkdir -p '" + kWork + "/in'");
    for (const Input& i : Inputs()) WriteFile(kWork + "/in/" + i.name, i.data);
    // A private prefix; no Mono or Gecko prompts when it is made. The
    // loader is the one the test run names (Debian's wine script may pick a
    // 32-bit loader this machine cannot start).
    wine_ = "cd '" + kWork + "' && WINEPREFIX='" + kWork +
            "/wineprefix' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \"${WINELOADER:-wine}\" cabarc ";
  }

  void SetUp() override { MemoryFiles::Get().Reset(); }

  static std::string InFiles() {
    std::string s;
    for (const Input& i : Inputs()) s += " in/" + i.name;
    return s;
  }

  // Loads every cabinet of kWork/<prefix>*.cab into the in-memory files.
  static void LoadCabinets(const std::string& prefix, int count) {
    for (int k = 1; k <= count; ++k) {
      std::string name = prefix + (count > 1 ? std::to_string(k) : "") + ".cab";
      MemoryFiles::Get().Put("cabs/" + name, Load(kWork + "/" + name));
    }
  }

  // What cabextract makes of kWork/<cab>, file by file.
  static std::map<std::string, Bytes> Cabextract(const std::string& cab) {
    std::string out = kWork + "/x-" + cab;
    Shell("rm -rf '" + out + "'");
    EXPECT_EQ(Shell("cabextract -q -d '" + out + "' '" + kWork + "/" + cab + "'"), 0) << cab;
    std::map<std::string, Bytes> files;
    for (const Input& i : Inputs()) {
      Bytes b;
      if (ReadFileBytes(out + "/in/" + i.name, &b).empty() || ReadFileBytes(out + "/" + i.name, &b).empty())
        files[i.name] = b;
    }
    return files;
  }

  static void ExpectAllFiles(const Extraction& x, const std::map<std::string, Bytes>& reference) {
    ASSERT_TRUE(x.ok) << "code " << x.error.code << " trace " << x.Trace();
    for (const Input& i : Inputs()) {
      const Bytes* got = nullptr;
      for (const auto& f : x.files)
        if (f.first == i.name || f.first == "in\\" + i.name) got = &f.second;
      ASSERT_NE(got, nullptr) << i.name;
      EXPECT_TRUE(*got == i.data) << i.name;
      auto ref = reference.find(i.name);
      ASSERT_NE(ref, reference.end()) << "cabextract lacks " << i.name;
      EXPECT_TRUE(*got == ref->second) << i.name;
    }
    EXPECT_EQ(MemoryFiles::Get().openDescriptors, 0);
  }

  static std::string wine_;
};

std::string ReferenceTools::wine_;

TEST_F(ReferenceTools, GcabStoredAndMszip) {
  for (std::string flag : {"", "-z"}) {
    std::string cab = "gcab" + flag + ".cab";
    ASSERT_EQ(Shell("cd '" + kWork + "' && gcab -c -n " + flag + " " + cab + InFiles()), 0);
    MemoryFiles::Get().Reset();
    MemoryFiles::Get().Put("cabs/" + cab, Load(kWork + "/" + cab));
    Extraction x;
    x.Run("cabs/", cab);
    ExpectAllFiles(x, Cabextract(cab));
  }
}

TEST_F(ReferenceTools, CabarcStoredMszipAndHeaderReserve) {
  struct Case {
    const char* options;
    const char* cab;
  } cases[] = {{"-m none", "arc-none.cab"}, {"-m mszip", "arc-mszip.cab"}, {"-s 6144 -m mszip", "arc-res.cab"}};
  for (const Case& c : cases) {
    ASSERT_EQ(Shell(wine_ + c.options + " N " + c.cab + InFiles()), 0) << c.options;
    MemoryFiles::Get().Reset();
    LoadCabinets(std::string(c.cab).substr(0, std::strlen(c.cab) - 4), 1);
    Extraction x;
    x.Run("cabs/", c.cab);
    ExpectAllFiles(x, Cabextract(c.cab));
  }
}

TEST_F(ReferenceTools, CabarcSplitSets) {
  for (std::string method : {"none", "mszip"}) {
    std::string prefix = "split-" + method;
    ASSERT_EQ(Shell(wine_ + "-m " + method + " -d 60000 N '" + prefix + "*.cab'" + InFiles()), 0);
    int count = 0;
    struct stat st;
    while (stat((kWork + "/" + prefix + std::to_string(count + 1) + ".cab").c_str(), &st) == 0) ++count;
    ASSERT_GE(count, 3) << "the split should give a set of several cabinets";
    MemoryFiles::Get().Reset();
    LoadCabinets(prefix, count);
    Extraction x;
    x.Run("cabs/", prefix + "1.cab");
    ExpectAllFiles(x, Cabextract(prefix + "1.cab"));
    int next = 0, info = 0;
    for (const Event& e : x.events) {
      next += e.type == kNextCabinet;
      info += e.type == kCabinetInfo;
    }
    EXPECT_EQ(next, count - 1) << x.Trace();
    EXPECT_EQ(info, count) << x.Trace();

    // Starting in the second cabinet: the file that began in the first is
    // reported as partial and passed over.
    MemoryFiles::Get().opened.clear();
    Extraction second;
    second.Run("cabs/", prefix + "2.cab");
    ASSERT_TRUE(second.ok) << second.error.code;
    ASSERT_FALSE(second.events.size() < 2);
    bool partial = false;
    for (const Event& e : second.events)
      if (e.type == kPartialFile) {
        partial = true;
        EXPECT_EQ(e.text2, prefix + "1.cab");
        EXPECT_EQ(second.File(e.text1), nullptr);
      }
    EXPECT_TRUE(partial) << second.Trace();
  }
}

// cabextract takes a continued folder to hold only the files continued into
// it (as cabarc makes sets), so the file spanning all three cabinets is the
// folder's last.
TEST_F(ReferenceTools, CabextractReadsHarnessCabinets) {
  std::vector<TestFile> files;
  for (const char* name : {"empty.dat", "small.txt", "text.txt", "mixed.bin", "noise.bin"})
    for (const Input& i : Inputs())
      if (i.name == name) files.push_back({i.name, i.data});
  CabOptions o;
  o.method = 1;
  o.headerReserve = 20;
  o.folderReserve = 3;
  o.dataReserve = 7;
  std::vector<std::string> names = {"h1.cab", "h2.cab", "h3.cab"};
  std::vector<Bytes> set = BuildSet(files, o, names, {{7, true}, {8, true}});
  for (size_t k = 0; k < set.size(); ++k) WriteFile(kWork + "/" + names[k], set[k]);
  std::map<std::string, Bytes> got = Cabextract("h1.cab");
  for (const TestFile& f : files) EXPECT_TRUE(got[f.name] == f.data) << f.name;
  EXPECT_EQ(Shell("cabextract -t '" + kWork + "/h1.cab'"), 0);

  for (size_t k = 0; k < set.size(); ++k) MemoryFiles::Get().Put("cabs/" + names[k], set[k]);
  Extraction x;
  x.Run("cabs/", "h1.cab");
  ExpectAllFiles(x, got);
  EXPECT_EQ(x.Trace(), "0:h2.cab 5: 2:empty.dat 3:empty.dat 2:small.txt 3:small.txt 2:text.txt 3:text.txt "
                       "2:mixed.bin 3:mixed.bin 2:noise.bin 4:h2.cab 0:h3.cab 4:h3.cab 0: 3:noise.bin 5: "
                       "5: 5: 5: 5:");
}

}  // namespace
}  // namespace orvo::cab::test
