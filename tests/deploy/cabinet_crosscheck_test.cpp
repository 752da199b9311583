// Our extraction against the system's cabinet.dll on the same cabinets:
// cabinets from the project's writer, from cabarc and from gcab.
#include <gtest/gtest.h>
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>
#include <io.h>
#include <sys/stat.h>

#include <map>

#include "cab_writer.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/deployment_state.h"
#include "support/test_files.h"

namespace cab = orvo::cab;
using namespace orvo::test;

namespace {

// ---- the system's decoder, loaded at run time ----

using CreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using CopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using DestroyFn = BOOL(DIAMONDAPI*)(HFDI);

FNALLOC(SysAlloc) { return malloc(cb); }
FNFREE(SysFree) { free(pv); }
FNOPEN(SysOpen) { return _open(pszFile, oflag, pmode); }
FNREAD(SysRead) { return UINT(_read(int(hf), pv, cb)); }
FNWRITE(SysWrite) { return UINT(_write(int(hf), pv, cb)); }
FNCLOSE(SysClose) { return _close(int(hf)); }
FNSEEK(SysSeek) { return _lseek(int(hf), dist, seektype); }

std::wstring systemTarget;
std::string nextCabinet;
bool cabinetSeen = false;

FNFDINOTIFY(SysNotify) {
  if (fdint == fdintCABINET_INFO && !cabinetSeen) {
    cabinetSeen = true;
    nextCabinet = pfdin->psz1;
  }
  if (fdint == fdintCOPY_FILE) {
    std::wstring path = systemTarget + ToWide(pfdin->psz1);
    for (auto& c : path) {
      if (c == L'/') c = L'\\';
    }
    orvo::CreateFolderChain(path.substr(0, path.find_last_of(L'\\') + 1));
    return _wopen(path.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY, _S_IREAD | _S_IWRITE);
  }
  if (fdint == fdintCLOSE_FILE_INFO) {
    _close(int(pfdin->hf));
    return TRUE;
  }
  return 0;
}

// Extracts with cabinet.dll by stored names; false with the error code.
// The system's copy ends with the files listed in the cabinet it was given
// (finishing the last one in the next cabinet), so a set takes one copy per
// cabinet, as its callers do.
bool SystemExtract(const std::wstring& cabinet, const std::wstring& target, int* error) {
  HMODULE module = LoadLibraryW(L"cabinet.dll");
  if (!module) return false;
  auto create = reinterpret_cast<CreateFn>(GetProcAddress(module, "FDICreate"));
  auto copy = reinterpret_cast<CopyFn>(GetProcAddress(module, "FDICopy"));
  auto destroy = reinterpret_cast<DestroyFn>(GetProcAddress(module, "FDIDestroy"));
  ERF erf{};
  HFDI fdi = create(SysAlloc, SysFree, SysOpen, SysRead, SysWrite, SysClose, SysSeek, cpu80386, &erf);
  systemTarget = target;
  std::string name = ToNarrow(cabinet.substr(cabinet.find_last_of(L'\\') + 1));
  std::string folder = ToNarrow(cabinet.substr(0, cabinet.find_last_of(L'\\') + 1));
  bool ok = fdi != nullptr;
  while (ok && !name.empty()) {
    cabinetSeen = false;
    nextCabinet.clear();
    ok = copy(fdi, name.data(), folder.data(), 0, SysNotify, nullptr, nullptr);
    name = nextCabinet;
  }
  *error = erf.erfOper;
  if (fdi) destroy(fdi);
  FreeLibrary(module);
  return ok;
}

// ---- content ----

std::map<std::string, std::string> Contents(unsigned seed) {
  std::map<std::string, std::string> files;
  uint32_t x = seed * 2654435761u + 7;
  auto next = [&x]() { return x = x * 1664525u + 1013904223u; };
  std::string text;
  while (text.size() < 150000) text += "line " + std::to_string(next() % 5000) + " of some repeated text\r\n";
  files["docs\\readme.txt"] = text;
  std::string noise(90000, '\0');
  for (auto& c : noise) c = char(next() >> 24);
  files["bin\\noise.dat"] = noise;
  std::string code(120000, '\0');
  for (size_t i = 0; i < code.size(); ++i) code[i] = (i % 9 == 0) ? char(0xE8) : char((next() >> 28) + (i & 3));
  files["bin\\tool.exe"] = code;
  files["zeros.bin"] = std::string(70000, '\0');
  files["empty.txt"] = "";
  files["tiny.txt"] = "x";
  return files;
}

std::map<std::wstring, std::string> Expected(const std::map<std::string, std::string>& files) {
  std::map<std::wstring, std::string> out;
  for (const auto& [k, v] : files) out[ToWide(k)] = v;
  return out;
}

bool RunProgram(const std::wstring& commandLine, const std::wstring& folder) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) return false;
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0;
}

class CrossCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    orvo::DeploymentState::Instance().abortRequested = false;
    orvo::SetExtractDiagnostics(false);
    scratch_ = ScratchFolder(L"cross");
  }
  void TearDown() override { RemoveTree(scratch_); }

  // Both extractions of the first cabinet of a set must give `expected`
  // (when given) and the same files; the system's may fail only where
  // `systemMayFail` says so.
  void Check(const std::wstring& cabinet, const std::map<std::wstring, std::string>* expected, const char* what,
             bool systemMayFail = false) {
    std::wstring ours = scratch_ + L"ours_" + std::to_wstring(++runs_) + L"\\";
    std::wstring theirs = scratch_ + L"system_" + std::to_wstring(runs_) + L"\\";
    CreateDirectoryW(ours.c_str(), nullptr);
    CreateDirectoryW(theirs.c_str(), nullptr);
    EXPECT_EQ(1, orvo::ExtractCabinet(cabinet, ours, nullptr, orvo::ExtractNaming::kStoredNames)) << what;
    std::map<std::wstring, std::string> ourTree = ReadTree(ours);
    EXPECT_FALSE(ourTree.empty()) << what;
    if (expected) EXPECT_TRUE(ourTree == *expected) << what << ": our extraction differs from the packed files";
    int error = 0;
    bool systemOk = SystemExtract(cabinet, theirs, &error);
    if (!systemOk && systemMayFail) {
      std::printf("[   NOTE   ] %s: cabinet.dll cannot extract it (error %d); it wrote %zu of %zu files\n", what,
                  error, ReadTree(theirs).size(), ourTree.size());
      return;
    }
    EXPECT_TRUE(systemOk) << what << ": cabinet.dll failed with " << error;
    std::map<std::wstring, std::string> theirTree = ReadTree(theirs);
    EXPECT_TRUE(theirTree == ourTree) << what << ": cabinet.dll extracts other bytes";
    for (const auto& [name, bytes] : ourTree) {
      auto it = theirTree.find(name);
      if (it == theirTree.end()) std::printf("  missing %s\n", ToNarrow(name).c_str());
      else if (it->second != bytes) std::printf("  %s: %zu vs %zu\n", ToNarrow(name).c_str(), bytes.size(), it->second.size());
    }
  }

  std::wstring WriteSources(const std::map<std::string, std::string>& files) {
    std::wstring source = scratch_ + L"source\\";
    for (const auto& [name, bytes] : files) {
      std::wstring path = source + ToWide(name);
      orvo::CreateFolderChain(path.substr(0, path.find_last_of(L'\\') + 1));
      WriteFileBytes(path, bytes);
    }
    return source;
  }

  std::wstring scratch_;
  int runs_ = 0;
};

TEST_F(CrossCheck, WriterCabinetsOfEveryMethodFoldersAndSets) {
  auto files = Contents(1);
  struct Case {
    const char* what;
    std::vector<cab::Compression> folders;
    uint64_t split;
  };
  const std::vector<Case> cases = {
      {"stored", {cab::Compression::Stored()}, 0},
      {"mszip", {cab::Compression::Mszip()}, 0},
      {"lzx:21", {cab::Compression::Lzx(21)}, 0},
      {"lzx:15", {cab::Compression::Lzx(15)}, 0},
      {"three folders", {cab::Compression::Stored(), cab::Compression::Mszip(9), cab::Compression::Lzx(17)}, 0},
      {"mszip set", {cab::Compression::Mszip()}, 60000},
      {"lzx set", {cab::Compression::Lzx(21)}, 50000},
  };
  for (const Case& c : cases) {
    std::wstring path = scratch_ + ToWide(std::string("w_") + std::to_string(runs_) + ".cab");
    cab::CabinetSetOptions set;
    set.maxCabinetSize = c.split;
    cab::CabinetWriter writer(ToNarrow(path), set);
    size_t i = 0, folder = SIZE_MAX;
    for (const auto& [name, bytes] : files) {
      // The files are spread evenly over the folders of the case.
      size_t wanted = i++ * c.folders.size() / files.size();
      if (wanted != folder) {
        folder = wanted;
        ASSERT_TRUE(writer.StartFolder(c.folders[folder])) << writer.error();
      }
      ASSERT_TRUE(writer.AddFile(cab::FileEntry{name}, bytes.data(), bytes.size())) << writer.error();
    }
    ASSERT_TRUE(writer.Finish()) << writer.error();
    if (c.split) {
      EXPECT_GT(writer.cabinetPaths().size(), 2u) << c.what;
    }
    auto expected = Expected(files);
    Check(path, &expected, c.what);
  }
}

TEST_F(CrossCheck, CabarcCabinets) {
  auto files = Contents(2);
  std::wstring source = WriteSources(files);
  std::wstring names;
  for (const auto& [name, bytes] : files) names += L" " + ToWide(name);
  struct Case {
    const char* what;
    std::wstring options;
    std::wstring cabinet;
    std::wstring first;
  };
  const std::vector<Case> cases = {
      {"cabarc -m mszip", L"-m mszip", L"mszip.cab", L"mszip.cab"},
      {"cabarc -m none", L"-m none", L"none.cab", L"none.cab"},
      {"cabarc -m mszip -d", L"-m mszip -d 100000", L"set*.cab", L"set1.cab"},
      {"cabarc -m none -d -s", L"-m none -d 120000 -s 6144", L"rset*.cab", L"rset1.cab"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(RunProgram(L"cabarc.exe -p " + c.options + L" N \"" + scratch_ + c.cabinet + L"\"" + names, source))
        << c.what;
    auto expected = Expected(files);
    Check(scratch_ + c.first, &expected, c.what);
  }
}

TEST_F(CrossCheck, GcabCabinets) {
  // Made before the run by the gcab fixture from the files it lists.
  std::wstring folder = BinaryPath(L"tests\\deploy\\gcab\\");
  if (!FileExists(folder + L"plain.cab")) GTEST_SKIP() << "the gcab fixture has not run";
  std::map<std::wstring, std::string> expected = ReadTree(folder + L"source\\");
  ASSERT_FALSE(expected.empty());
  Check(folder + L"plain.cab", &expected, "gcab");
  Check(folder + L"mszip.cab", &expected, "gcab -z");
}

TEST_F(CrossCheck, DecoderTestVectorsOfLzxAndQuantum) {
  // No tool here writes Quantum, nor LZX beyond our writer: the decoder's
  // vectors cover every window size and block type.
  std::wstring data = SourcePath(L"tests\\deploy\\cabinet\\decoder\\data\\");
  if (!FileExists(data + L"quantum-windows.cab")) GTEST_SKIP() << "no decoder vectors in this tree";
  Check(data + L"lzx-blocks.cab", nullptr, "lzx block types");
  Check(data + L"lzx-windows.cab", nullptr, "lzx windows 2^15..2^21");
  // Wine's cabinet.dll calls these Quantum folders corrupt; cabextract and
  // our decoder agree on them.
  Check(data + L"quantum-windows.cab", nullptr, "quantum windows 2^10..2^21", true);
}

}  // namespace
