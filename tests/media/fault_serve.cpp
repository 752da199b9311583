// media_fault_serve ROOT STATE: the fault server as a program of its own,
// serving the files below ROOT, for a test whose clients are other
// machines (Wine prefixes of their own). Writes STATE\port once it
// listens; when STATE\stop appears, or after ten minutes at most, writes
// STATE\requests.txt, one line per request ("<path> <Range header or ->"),
// and ends.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "fault_server.h"

using orvo::test::FaultServer;

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: media_fault_serve ROOT STATE\n");
    return 2;
  }
  std::wstring state = argv[2];
  if (state.back() != L'\\') state += L'\\';
  FaultServer server;
  server.ServeFolder(argv[1]);
  {
    std::ofstream port((state + L"port.tmp").c_str());
    port << server.port() << "\n";
  }
  // The waiting script reads the port only once it is whole.
  MoveFileExW((state + L"port.tmp").c_str(), (state + L"port").c_str(), MOVEFILE_REPLACE_EXISTING);
  const std::wstring stop = state + L"stop";
  for (int waited = 0; waited < 6000 && GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited) Sleep(100);
  std::map<std::string, size_t> seen;
  std::ofstream out((state + L"requests.txt").c_str());
  for (const std::string& path : server.Paths()) {
    std::vector<std::string> ranges = server.Ranges(path);
    size_t index = seen[path]++;
    std::string range = index < ranges.size() ? ranges[index] : std::string();
    out << path << " " << (range.empty() ? "-" : range) << "\n";
  }
  return 0;
}
