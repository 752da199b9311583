// Reads a built DLL's PE image without running it: the word size and
// machine of its build, system DLLs only among its imports, and exactly the
// undecorated entry points of its .def file among its exports. Portable, so
// the build that this machine cannot run is checked too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

struct Section {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

struct Image {
  std::string bytes;
  std::vector<Section> sections;
  uint16_t machine = 0, magic = 0, characteristics = 0;
  size_t dataDirectories = 0;  // offset of the optional header's data directories

  uint32_t U32(size_t off) const {
    uint32_t v = 0;
    if (off + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + off, 4);
    return v;
  }
  uint16_t U16(size_t off) const {
    uint16_t v = 0;
    if (off + 2 <= bytes.size()) std::memcpy(&v, bytes.data() + off, 2);
    return v;
  }
  size_t Offset(uint32_t rva) const {
    for (const auto& s : sections)
      if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
        return rva - s.virtualAddress + s.rawOffset;
    return std::string::npos;
  }
  std::string StringAt(uint32_t rva) const {
    size_t off = Offset(rva);
    if (off == std::string::npos || off >= bytes.size()) return std::string();
    return std::string(bytes.c_str() + off, strnlen(bytes.c_str() + off, bytes.size() - off));
  }
  // RVA of data directory `index` (0 exports, 1 imports).
  uint32_t Directory(int index) const { return U32(dataDirectories + 8 * index); }
};

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Load(Image& image) {
  image.bytes = ReadAll(ORVO_DLL_PATH);
  if (image.bytes.size() < 64 || image.U16(0) != 0x5A4D) return false;  // "MZ"
  size_t nt = image.U32(0x3C);
  if (image.U32(nt) != 0x00004550) return false;  // "PE\0\0"
  size_t file = nt + 4, optional = file + 20;
  image.machine = image.U16(file);
  unsigned sectionCount = image.U16(file + 2);
  unsigned optionalSize = image.U16(file + 16);
  image.characteristics = image.U16(file + 18);
  image.magic = image.U16(optional);
  image.dataDirectories = optional + (image.magic == 0x20B ? 112 : 96);
  size_t first = optional + optionalSize;
  for (unsigned i = 0; i < sectionCount; ++i) {
    size_t s = first + i * 40;
    if (s + 40 > image.bytes.size()) return false;
    image.sections.push_back({image.U32(s + 12), image.U32(s + 8), image.U32(s + 16), image.U32(s + 20)});
  }
  return true;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(tolower(c)); });
  return s;
}

TEST(DllImage, MachineAndWordSizeOfItsBuild) {
  Image image;
  ASSERT_TRUE(Load(image)) << ORVO_DLL_PATH;
  EXPECT_EQ(ORVO_DLL_MACHINE, image.machine);  // 0x14C i386, 0x8664 x64
  EXPECT_EQ(ORVO_DLL_MACHINE == 0x8664 ? 0x20B : 0x10B, image.magic);  // PE32+ or PE32
  EXPECT_TRUE(image.characteristics & 0x2000) << "not a DLL";
}

TEST(DllImage, ImportsSystemDllsOnly) {
  static const std::set<std::string> kSystem = {
      "kernel32.dll", "advapi32.dll", "user32.dll",  "shell32.dll", "ole32.dll",   "oleaut32.dll",
      "msi.dll",      "wininet.dll",  "mpr.dll",     "psapi.dll",   "msvcrt.dll",  "shlwapi.dll",
      "rpcrt4.dll",   "version.dll",  "ws2_32.dll",  "gdi32.dll",   "userenv.dll", "crypt32.dll",
      "secur32.dll",  "netapi32.dll", "comctl32.dll", "bcrypt.dll"};
  Image image;
  ASSERT_TRUE(Load(image));
  uint32_t dir = image.Directory(1);
  ASSERT_NE(0u, dir);
  std::vector<std::string> names;
  for (size_t off = image.Offset(dir);; off += 20) {  // IMAGE_IMPORT_DESCRIPTOR
    ASSERT_LE(off + 20, image.bytes.size());
    uint32_t name = image.U32(off + 12);
    if (name == 0) break;
    names.push_back(Lower(image.StringAt(name)));
  }
  EXPECT_FALSE(names.empty());
  for (const auto& name : names) EXPECT_TRUE(kSystem.count(name)) << "non-system import: " << name;
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "msi.dll"));
}

TEST(DllImage, ExportsExactlyTheDefNamesUndecorated) {
  static const std::set<std::string> kEntryPoints = {
      "OrvoInit",       "OrvoInstall",   "OrvoRemove",   "OrvoCleanup",  "OrvoPatch",
      "OrvoRegistry",   "OrvoShortcuts", "OrvoRemoteFolderAccess", "OrvoRollback",
      "AppIndexSetNoBackslashProps", "AppIndexWrite", "AppIndexUninstall"};
  std::set<std::string> declared;
  std::string def = ReadAll(ORVO_DEF_PATH);
  size_t exportsAt = def.find("EXPORTS");
  ASSERT_NE(std::string::npos, exportsAt);
  size_t pos = exportsAt + 7;
  while (pos < def.size()) {
    size_t end = def.find('\n', pos);
    std::string line = def.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? def.size() : end + 1;
    size_t a = line.find_first_not_of(" \t\r");
    if (a == std::string::npos || line[a] == ';') continue;
    size_t b = line.find_first_of(" \t\r=@", a);
    declared.insert(line.substr(a, b == std::string::npos ? std::string::npos : b - a));
  }

  Image image;
  ASSERT_TRUE(Load(image));
  uint32_t dir = image.Directory(0);
  ASSERT_NE(0u, dir);
  size_t exp = image.Offset(dir);  // IMAGE_EXPORT_DIRECTORY
  ASSERT_LE(exp + 40, image.bytes.size());
  uint32_t functions = image.U32(exp + 20), count = image.U32(exp + 24);
  size_t namesOff = image.Offset(image.U32(exp + 32));
  std::set<std::string> exported;
  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_LE(namesOff + i * 4 + 4, image.bytes.size());
    exported.insert(image.StringAt(image.U32(namesOff + i * 4)));
  }
  EXPECT_EQ(functions, count) << "unnamed exports";
  EXPECT_EQ(declared, exported);
  for (const auto& name : exported) EXPECT_TRUE(kEntryPoints.count(name)) << "unexpected export: " << name;
  EXPECT_TRUE(exported.count("OrvoRollback"));
}

}  // namespace
