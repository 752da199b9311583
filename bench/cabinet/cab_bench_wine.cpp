// Under Wine: our extraction against the system's cabinet.dll (FDICopy) in
// the same process, on the same cabinet, into the same folder.
//   cab_bench_wine CABINET OUTFOLDER REPEATS
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "action/wformat.h"
#include "deploy/cabinet_extractor.h"

namespace {

using CreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using CopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using DestroyFn = BOOL(DIAMONDAPI*)(HFDI);

size_t inUse = 0, peak = 0;

FNALLOC(SysAlloc) {
  void* p = HeapAlloc(GetProcessHeap(), 0, cb);
  if (p) {
    inUse += HeapSize(GetProcessHeap(), 0, p);
    if (inUse > peak) peak = inUse;
  }
  return p;
}
FNFREE(SysFree) {
  if (!pv) return;
  inUse -= HeapSize(GetProcessHeap(), 0, pv);
  HeapFree(GetProcessHeap(), 0, pv);
}
FNOPEN(SysOpen) { return _open(pszFile, oflag, pmode); }
FNREAD(SysRead) { return UINT(_read(int(hf), pv, cb)); }
FNWRITE(SysWrite) { return UINT(_write(int(hf), pv, cb)); }
FNCLOSE(SysClose) { return _close(int(hf)); }
FNSEEK(SysSeek) { return _lseek(int(hf), dist, seektype); }

std::wstring target;

// What a typical client does: write the file, then give it its time and
// attributes, as our extractor does too.
FNFDINOTIFY(SysNotify) {
  if (fdint == fdintCOPY_FILE) {
    std::wstring path = target + orvo::FromUtf8(pfdin->psz1);
    return _wopen(path.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY | _O_SEQUENTIAL, _S_IREAD | _S_IWRITE);
  }
  if (fdint == fdintCLOSE_FILE_INFO) {
    FILETIME local, utc;
    HANDLE h = HANDLE(_get_osfhandle(int(pfdin->hf)));
    if (DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
      SetFileTime(h, &utc, nullptr, &utc);
    }
    _close(int(pfdin->hf));
    std::wstring path = target + orvo::FromUtf8(pfdin->psz1);
    SetFileAttributesW(path.c_str(), (pfdin->attribs & 0x27) ? (pfdin->attribs & 0x27) : FILE_ATTRIBUTE_NORMAL);
    return TRUE;
  }
  return 0;
}

// Each run starts from an empty folder, so both create every file.
void EmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      std::wstring path = folder + data.cFileName;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: cab_bench_wine CABINET OUTFOLDER REPEATS\n");
    return 2;
  }
  std::wstring cabinet = argv[1];
  target = argv[2];
  if (target.back() != L'\\') target += L'\\';
  int repeats = _wtoi(argv[3]);
  CreateDirectoryW(target.c_str(), nullptr);

  HMODULE module = LoadLibraryW(L"cabinet.dll");
  auto create = module ? reinterpret_cast<CreateFn>(GetProcAddress(module, "FDICreate")) : nullptr;
  auto copy = module ? reinterpret_cast<CopyFn>(GetProcAddress(module, "FDICopy")) : nullptr;
  auto destroy = module ? reinterpret_cast<DestroyFn>(GetProcAddress(module, "FDIDestroy")) : nullptr;
  if (!create || !copy || !destroy) {
    std::fprintf(stderr, "cabinet.dll has no FDI\n");
    return 1;
  }
  std::string name = orvo::ToUtf8(cabinet.substr(cabinet.find_last_of(L'\\') + 1));
  std::string folder = orvo::ToUtf8(cabinet.substr(0, cabinet.find_last_of(L'\\') + 1));

  uint64_t bytes = 0;
  auto handler = [&bytes](int code, std::wstring_view format, const orvo::FormatArg* args, size_t count) {
    if (code == orvo::EXTRACT_WRITTEN && count == 1) bytes += uint64_t(args[0].s);
    return 0;
  };
  orvo::SetExtractDiagnostics(false);
  double ours = 1e30, theirs = 1e30;
  size_t ourPeak = 0, theirPeak = 0;
  for (int i = 0; i < repeats; ++i) {
    bytes = 0;
    EmptyFolder(target);
    double start = Now();
    int result = orvo::ExtractCabinet(cabinet, target, handler, orvo::ExtractNaming::kStoredNames);
    double seconds = Now() - start;
    if (result != 1) {
      std::fprintf(stderr, "our extraction failed: %d\n", result);
      return 1;
    }
    ours = std::min(ours, seconds);
    ourPeak = orvo::LastExtractionPeakMemory();

    ERF erf{};
    peak = inUse;
    EmptyFolder(target);
    start = Now();
    HFDI fdi = create(SysAlloc, SysFree, SysOpen, SysRead, SysWrite, SysClose, SysSeek, cpu80386, &erf);
    BOOL ok = fdi && copy(fdi, name.data(), folder.data(), 0, SysNotify, nullptr, nullptr);
    if (fdi) destroy(fdi);
    seconds = Now() - start;
    if (!ok) {
      std::fprintf(stderr, "cabinet.dll failed: %d\n", erf.erfOper);
      return 1;
    }
    theirs = std::min(theirs, seconds);
    theirPeak = peak;
  }
  // bytes, our seconds, cabinet.dll's seconds, our peak, cabinet.dll's peak
  std::printf("%llu %.4f %.4f %zu %zu\n", (unsigned long long)bytes, ours, theirs, ourPeak, theirPeak);
  return 0;
}
