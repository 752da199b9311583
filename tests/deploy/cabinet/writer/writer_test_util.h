// Helpers for the writer's tests: scratch folders, generated content, the
// reference tools, and a reader for the cabinet header fields.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cab_format.h"

namespace orvo::cab::test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A fresh folder per test under the build tree.
inline fs::path ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::path(ORVO_BINARY_DIR) / "writer-tests" / info->test_suite_name() / info->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

inline Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

// Text with a skewed vocabulary, like documentation or source.
inline Bytes TextLike(size_t n, uint32_t seed) {
  static const char* kWords[] = {"the", "cabinet", "folder", "file", "install", "of", "and", "registry",
                                 "profile", "value", "to", "a", "is", "Orvo", "product", "user",
                                 "shortcut", "index", "for", "with", "directory", "catalogue", "\n",
                                 "=", "(", ")", "{", "}", ";", "return", "int", "const"};
  std::mt19937 rng(seed);
  std::geometric_distribution<int> pick(0.18);
  Bytes b;
  b.reserve(n + 16);
  while (b.size() < n) {
    const char* w = kWords[size_t(pick(rng)) % (sizeof kWords / sizeof *kWords)];
    b.insert(b.end(), w, w + std::char_traits<char>::length(w));
    b.push_back(rng() % 7 ? ' ' : ',');
  }
  b.resize(n);
  return b;
}

// Fixed-size records with small fields and x86 call opcodes with nearby
// targets, like tables and code in executables.
inline Bytes BinaryLike(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  b.reserve(n + 32);
  uint32_t counter = 0;
  while (b.size() < n) {
    switch (rng() % 4) {
      case 0: {  // call rel32 to one of a few functions
        uint32_t target = 0x1000 + (rng() % 16) * 0x40;
        int32_t rel = int32_t(target) - int32_t(b.size() + 5);
        b.push_back(0xE8);
        for (int k = 0; k < 4; ++k) b.push_back(uint8_t(uint32_t(rel) >> (8 * k)));
        break;
      }
      case 1: {  // record: id, flags, zero padding
        ++counter;
        for (int k = 0; k < 4; ++k) b.push_back(uint8_t(counter >> (8 * k)));
        b.push_back(uint8_t(rng() % 3));
        b.insert(b.end(), 7, 0);
        break;
      }
      case 2: {
        static const uint8_t kSeq[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x53, 0x56, 0x57};
        b.insert(b.end(), kSeq, kSeq + sizeof kSeq);
        break;
      }
      default:
        b.push_back(uint8_t(rng()));
        break;
    }
  }
  b.resize(n);
  return b;
}

// 8-byte records from a small pool: matches at distances that are multiples
// of eight, which favour aligned-offset blocks.
inline Bytes AlignedRecords(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes pool = RandomBytes(8 * 300, seed + 1);
  Bytes b;
  b.reserve(n + 8);
  while (b.size() < n) {
    size_t r = rng() % 300;
    b.insert(b.end(), pool.begin() + 8 * r, pool.begin() + 8 * r + 8);
  }
  b.resize(n);
  return b;
}

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command, stdout and stderr together.
inline CommandResult RunCommand(const std::string& cmd) {
  CommandResult r;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  r.status = pclose(p);
  return r;
}

inline bool HaveTool(const std::string& name) { return RunCommand("command -v " + name).status == 0; }

inline std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// The parts of a cabinet's header the tests look at.
struct FileRecord {
  std::string name;
  uint32_t size, offset;
  uint16_t folder, date, time, attribs;
};
struct FolderRecord {
  uint32_t dataStart;
  uint16_t blocks, typeCompress;
};
struct CabInfo {
  uint32_t size = 0;
  uint16_t flags = 0, setId = 0, index = 0;
  uint16_t headerReserve = 0;
  uint8_t folderReserve = 0, dataReserve = 0;
  std::string prevName, prevDisk, nextName, nextDisk;
  std::vector<FolderRecord> folders;
  std::vector<FileRecord> files;
};

inline CabInfo ParseCab(const Bytes& b) {
  CabInfo c;
  auto str = [&](size_t& o) {
    std::string s;
    while (o < b.size() && b[o]) s += char(b[o++]);
    ++o;
    return s;
  };
  if (b.size() < kHeaderSize || std::string(b.begin(), b.begin() + 4) != "MSCF") return c;
  c.size = ReadLe32(&b[8]);
  uint32_t coffFiles = ReadLe32(&b[16]);
  unsigned nFolders = ReadLe16(&b[26]), nFiles = ReadLe16(&b[28]);
  c.flags = ReadLe16(&b[30]);
  c.setId = ReadLe16(&b[32]);
  c.index = ReadLe16(&b[34]);
  size_t o = kHeaderSize;
  if (c.flags & kFlagReservePresent) {
    c.headerReserve = ReadLe16(&b[o]);
    c.folderReserve = b[o + 2];
    c.dataReserve = b[o + 3];
    o += 4 + c.headerReserve;
  }
  if (c.flags & kFlagPrevCabinet) {
    c.prevName = str(o);
    c.prevDisk = str(o);
  }
  if (c.flags & kFlagNextCabinet) {
    c.nextName = str(o);
    c.nextDisk = str(o);
  }
  for (unsigned i = 0; i < nFolders; ++i, o += kFolderSize + c.folderReserve)
    c.folders.push_back({ReadLe32(&b[o]), ReadLe16(&b[o + 4]), ReadLe16(&b[o + 6])});
  o = coffFiles;
  for (unsigned i = 0; i < nFiles; ++i) {
    FileRecord f;
    f.size = ReadLe32(&b[o]);
    f.offset = ReadLe32(&b[o + 4]);
    f.folder = ReadLe16(&b[o + 8]);
    f.date = ReadLe16(&b[o + 10]);
    f.time = ReadLe16(&b[o + 12]);
    f.attribs = ReadLe16(&b[o + 14]);
    o += kFileSize;
    f.name = str(o);
    c.files.push_back(f);
  }
  return c;
}

}  // namespace orvo::cab::test
