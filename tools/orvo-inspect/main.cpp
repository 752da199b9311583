// orvo-inspect: why a file stayed, and what an installation decided, from
// the documents the library keeps. Reads only.
//
//   orvo-inspect index [PATH]
//   orvo-inspect refs [--index PATH] PATH
//   orvo-inspect orvos MASTER
//
// Exit status 0 answered, 1 not found or a document that does not load,
// 2 bad usage.
#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "action/wformat.h"
#include "inspect.h"

namespace orvo::inspect {
namespace {

void Print(HANDLE out, const std::wstring& text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), DWORD(text.size()), &written, nullptr);
    return;
  }
  std::string bytes = ToUtf8(text);
  WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

const wchar_t kUsageText[] =
    L"usage: orvo-inspect index [PATH]\r\n"
    L"       orvo-inspect refs [--index PATH] PATH\r\n"
    L"       orvo-inspect orvos MASTER\r\n";

int Usage(const std::wstring& problem) {
  Print(GetStdHandle(STD_ERROR_HANDLE), L"orvo-inspect: " + problem + L"\r\n" + kUsageText);
  return kUsage;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return Usage(L"no command given");
  std::wstring command = argv[1];
  if (command == L"-h" || command == L"--help" || command == L"help") {
    Print(GetStdHandle(STD_OUTPUT_HANDLE), kUsageText);
    return kOk;
  }
  std::wstring indexPath;
  std::vector<std::wstring> operands;
  for (int i = 2; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--index" && command == L"refs") {
      if (i + 1 >= argc) return Usage(L"--index needs a value");
      indexPath = argv[++i];
    } else if (arg.size() > 1 && arg.compare(0, 2, L"--") == 0) {
      return Usage(L"unknown option " + arg);
    } else {
      operands.push_back(arg);
    }
  }
  if (command == L"index") {
    if (operands.size() > 1) return Usage(L"index takes at most one PATH");
    return ReportIndex(operands.empty() ? std::wstring() : operands[0]);
  }
  if (command == L"refs") {
    if (operands.size() != 1) return Usage(L"refs takes one PATH");
    return ReportReferences(operands[0], indexPath);
  }
  if (command == L"orvos") {
    if (operands.size() != 1) return Usage(L"orvos takes one MASTER");
    return ReportMaster(operands[0]);
  }
  return Usage(L"unknown command " + command);
}

}  // namespace

void Out(const std::wstring& line) { Print(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\r\n"); }

void Problem(const std::wstring& line) { Print(GetStdHandle(STD_ERROR_HANDLE), L"orvo-inspect: " + line + L"\r\n"); }

std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (!size) return path;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  full.resize(size);
  return full;
}

std::wstring OneLine(std::wstring text) {
  for (auto& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L' ' && !out.empty() && out.back() == L' ') continue;
    out += c;
  }
  while (!out.empty() && out.back() == L' ') out.pop_back();
  return out.empty() ? std::wstring(L"no reason given") : out;
}

}  // namespace orvo::inspect

int wmain(int argc, wchar_t** argv) {
  try {
    return orvo::inspect::Run(argc, argv);
  } catch (const std::exception& e) {
    orvo::inspect::Problem(orvo::FromUtf8(e.what()));
    return orvo::inspect::kNotFound;
  }
}
