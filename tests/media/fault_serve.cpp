// media_fault_serve ROOT STATE: the fault server serving the files below
// ROOT to other machines (Wine prefixes). Writes STATE\port once it listens
// and ends when STATE\stop appears, or after ten minutes.
#include <windows.h>

#include <fstream>

#include "fault_server.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::wstring state = std::wstring(argv[2]) + L"\\";
  orvo::test::FaultServer server;
  server.ServeFolder(argv[1]);
  std::ofstream((state + L"port.tmp").c_str()) << server.port() << "\n";
  MoveFileW((state + L"port.tmp").c_str(), (state + L"port").c_str());  // read only once whole
  for (int i = 0; i < 6000 && GetFileAttributesW((state + L"stop").c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  return 0;
}
