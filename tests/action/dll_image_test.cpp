// Reads the DLL's own PE image: it must be 32-bit, import system DLLs only
// and export exactly the undecorated entry points of its .def file.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <cstring>
#include <set>

#include "support/test_files.h"

using namespace orvo::test;

namespace {

struct Image {
  std::string bytes;
  std::vector<IMAGE_SECTION_HEADER> sections;
  const IMAGE_NT_HEADERS32* nt = nullptr;

  size_t Offset(DWORD rva) const {
    for (const auto& s : sections) {
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
        return rva - s.VirtualAddress + s.PointerToRawData;
    }
    return std::string::npos;
  }
  std::string StringAt(DWORD rva) const {
    size_t off = Offset(rva);
    if (off == std::string::npos || off >= bytes.size()) return std::string();
    return std::string(bytes.c_str() + off, strnlen(bytes.c_str() + off, bytes.size() - off));
  }
  template <class T>
  const T* At(size_t off) const {
    return off + sizeof(T) <= bytes.size() ? reinterpret_cast<const T*>(bytes.data() + off) : nullptr;
  }
};

bool Load(Image& image) {
  image.bytes = ReadFileBytes(DllPath());
  auto* dos = image.At<IMAGE_DOS_HEADER>(0);
  if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  image.nt = image.At<IMAGE_NT_HEADERS32>(size_t(dos->e_lfanew));
  if (!image.nt || image.nt->Signature != IMAGE_NT_SIGNATURE) return false;
  size_t first = size_t(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                 image.nt->FileHeader.SizeOfOptionalHeader;
  for (unsigned i = 0; i < image.nt->FileHeader.NumberOfSections; ++i) {
    auto* s = image.At<IMAGE_SECTION_HEADER>(first + i * sizeof(IMAGE_SECTION_HEADER));
    if (!s) return false;
    image.sections.push_back(*s);
  }
  return true;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(tolower(c)); });
  return s;
}

TEST(DllImage, IsPe32ForI386) {
  Image image;
  ASSERT_TRUE(Load(image));
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, image.nt->FileHeader.Machine);
  EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, image.nt->OptionalHeader.Magic);
  EXPECT_TRUE(image.nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST(DllImage, ImportsSystemDllsOnly) {
  static const std::set<std::string> kSystem = {
      "kernel32.dll", "advapi32.dll", "user32.dll",  "shell32.dll", "ole32.dll",   "oleaut32.dll",
      "msi.dll",      "wininet.dll",  "mpr.dll",     "psapi.dll",   "msvcrt.dll",  "shlwapi.dll",
      "rpcrt4.dll",   "version.dll",  "ws2_32.dll",  "gdi32.dll",   "userenv.dll", "crypt32.dll",
      "secur32.dll",  "netapi32.dll", "comctl32.dll", "bcrypt.dll"};
  Image image;
  ASSERT_TRUE(Load(image));
  const auto& dir = image.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(0u, dir.VirtualAddress);
  size_t off = image.Offset(dir.VirtualAddress);
  std::vector<std::string> names;
  for (;; off += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    auto* d = image.At<IMAGE_IMPORT_DESCRIPTOR>(off);
    ASSERT_NE(nullptr, d);
    if (d->Name == 0) break;
    names.push_back(Lower(image.StringAt(d->Name)));
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
  std::string def = ReadFileBytes(SourcePath(L"src\\orvo_Action.def"));
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
  const auto& dir = image.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(0u, dir.VirtualAddress);
  auto* exp = image.At<IMAGE_EXPORT_DIRECTORY>(image.Offset(dir.VirtualAddress));
  ASSERT_NE(nullptr, exp);
  std::set<std::string> exported;
  size_t namesOff = image.Offset(exp->AddressOfNames);
  for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
    auto* rva = image.At<DWORD>(namesOff + i * 4);
    ASSERT_NE(nullptr, rva);
    exported.insert(image.StringAt(*rva));
  }
  EXPECT_EQ(exp->NumberOfFunctions, exp->NumberOfNames) << "unnamed exports";
  EXPECT_EQ(declared, exported);
  for (const auto& name : exported) EXPECT_TRUE(kEntryPoints.count(name)) << "unexpected export: " << name;
  EXPECT_TRUE(exported.count("OrvoRollback"));
}

}  // namespace
