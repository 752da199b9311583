// download_bench BASE_URL NAME [DIGEST]: the media locator downloads NAME
// from BASE_URL into the temporary media folder, checking DIGEST when
// given; prints the result, bytes, seconds and MB/s, then deletes the file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "media/media_locator.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: download_bench BASE_URL NAME [DIGEST]\n");
    return 2;
  }
  orvo::MediaLocator locator;
  locator.SetUp(std::wstring(), argv[1]);
  std::wstring name = argv[2];
  std::wstring target = orvo::CombinePath(locator.tempMedia(), name);
  DeleteFileW(target.c_str());
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = locator.Locate(name, true, std::wstring(), std::wstring(), argc > 3 ? argv[3] : L"");
  QueryPerformanceCounter(&end);
  double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  unsigned long long bytes = 0;
  if (GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data))
    bytes = (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
  std::printf("result %d, %llu bytes in %.3f s: %.1f MB/s\n", result, bytes, seconds, bytes / seconds / 1e6);
  DeleteFileW(target.c_str());
  return result == orvo::MediaLocator::kInTempMedia ? 0 : 1;
}
