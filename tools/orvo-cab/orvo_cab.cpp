// orvo-cab: makes, lists and extracts content cabinets. The Windows build
// extracts with the installer's own extractor, so files land exactly where
// an installation would put them.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cab_directory.h"
#include "command_line.h"
#include "content_pack.h"
#include "file_io.h"

#ifdef _WIN32
#include <windows.h>

#include "action/wformat.h"
#include "deploy/cabinet_extractor.h"
#else
#include "native_extract.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace orvo::cabtool;

const char kUsage[] =
    "usage:\n"
    "  orvo-cab create [--method stored|mszip|lzx:N] [--split BYTES] CABINET FOLDER\n"
    "  orvo-cab list CABINET\n"
    "  orvo-cab extract [--stored-names] CABINET FOLDER\n"
    "options: --verbose (-v) prints more of what happens\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "orvo-cab: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "orvo-cab: %s\n%s", message.c_str(), kUsage);
  return 2;
}

struct Arguments {
  std::string command;
  std::vector<std::string> positional;
  std::string method = "mszip";
  uint64_t split = 0;
  bool storedNames = false;
  bool verbose = false;
};

using orvo::tools::ParseSize;

int Create(const Arguments& args) {
  if (args.positional.size() != 2) return Usage("create takes CABINET and FOLDER");
  std::optional<orvo::cab::Compression> compression = orvo::cab::ParseCompression(args.method);
  if (!compression) return Usage("unknown method '" + args.method + "' (stored, mszip, lzx:15 to lzx:21)");
  const std::string& cabinet = args.positional[0];
  const std::string& folder = args.positional[1];
  std::error_code ec;
  if (!fs::is_directory(fs::u8path(folder), ec)) return Fail("not a folder: " + folder);

  orvo::cab::PackOptions options;
  options.compression = *compression;
  options.set.maxCabinetSize = args.split;
  orvo::cab::PackResult result;
  std::string error;
  if (!orvo::cab::PackFolder(cabinet, folder, options, &result, &error)) {
    return Fail("cannot create " + cabinet + ": " + error);
  }
  for (const std::string& path : result.cabinets) {
    uint64_t size = 0;
    orvo::cab::FileSize(path, &size);
    std::printf("wrote %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(size));
  }
  if (args.verbose) {
    for (const auto& [stored, relative] : result.index) std::printf("  %-38s %s\n", stored.c_str(), relative.c_str());
  }
  std::printf("%u files, %u folders, %s: %llu bytes in %llu bytes of cabinets\n", result.totals.files,
              result.totals.folders, orvo::cab::CompressionName(*compression).c_str(),
              static_cast<unsigned long long>(result.totals.uncompressedBytes),
              static_cast<unsigned long long>(result.totals.cabinetBytes));
  return 0;
}

std::string FolderText(uint16_t folder) {
  switch (folder) {
    case 0xFFFD: return "0<";    // continued from the previous cabinet
    case 0xFFFE: return "last>";  // continued in the next cabinet
    case 0xFFFF: return "0<>";
    default: return std::to_string(folder);
  }
}

int List(const Arguments& args) {
  if (args.positional.size() != 1) return Usage("list takes CABINET");
  const std::string& cabinet = args.positional[0];
  CabinetDirectory directory;
  std::string error;
  if (!ReadCabinetDirectory(cabinet, &directory, &error)) return Fail(error);

  std::map<std::string, std::string> index;
  bool hasIndex = false;
  for (const DirectoryEntry& e : directory.files) hasIndex |= e.name == orvo::cab::kIndexFileName;
  if (hasIndex) {
    std::vector<uint8_t> bytes;
    if (!ReadIndexFile(cabinet, &bytes, &error)) return Fail("cannot read IndexFile.dat: " + error);
    index = ParseIndexFile(bytes);
  }

  std::printf("Cabinet %s: %u bytes, set %u, index %u, %u folders, %zu files\n", cabinet.c_str(),
              directory.cabinetSize, directory.setId, directory.cabinetIndex, directory.folders,
              directory.files.size());
  if (!directory.previousCabinet.empty()) std::printf("  previous cabinet: %s\n", directory.previousCabinet.c_str());
  if (!directory.nextCabinet.empty()) std::printf("  next cabinet: %s\n", directory.nextCabinet.c_str());
  for (size_t i = 0; i < directory.folderMethods.size(); ++i) {
    std::printf("  folder %zu: %s\n", i, DescribeMethod(directory.folderMethods[i]).c_str());
  }
  std::printf("%10s  %-10s %-8s  %-5s %-6s %s%s\n", "Size", "Date", "Time", "Attr", "Folder", "Stored name",
              hasIndex ? " -> Path" : "");
  for (const DirectoryEntry& e : directory.files) {
    std::string mapped;
    if (hasIndex) {
      auto it = index.find(e.name);
      mapped = it != index.end() ? " -> " + it->second : e.name == orvo::cab::kIndexFileName ? "" : " -> (none)";
    }
    std::printf("%10u  %s %s  %s %-6s %s%s\n", e.size, DosDateText(e.date).c_str(), DosTimeText(e.time).c_str(),
                AttributeText(e.attributes).c_str(), FolderText(e.folder).c_str(), e.name.c_str(), mapped.c_str());
  }
  return 0;
}

#ifdef _WIN32

std::wstring FullPath(const std::wstring& path) {
  wchar_t buffer[1024];
  DWORD n = GetFullPathNameW(path.c_str(), 1024, buffer, nullptr);
  return n == 0 || n >= 1024 ? path : std::wstring(buffer, n);
}

void PrintText(FILE* stream, const std::wstring& text) {
  std::string bytes = orvo::ToUtf8(text);
  std::fprintf(stream, "%s\n", bytes.c_str());
}

std::wstring TrimmedMessage(std::wstring text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  size_t start = text.find_first_not_of(L' ');
  return start == std::wstring::npos ? std::wstring() : text.substr(start);
}

int Extract(const Arguments& args) {
  if (args.positional.size() != 2) return Usage("extract takes CABINET and FOLDER");
  std::wstring cabinet = FullPath(orvo::FromUtf8(args.positional[0]));
  std::wstring folder = FullPath(orvo::FromUtf8(args.positional[1]));
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';

  unsigned written = 0, unplaced = 0;
  std::set<std::wstring> pending;  // files begun and not yet closed
  std::wstring lastFailure;
  bool sawIndexFile = false;
  auto handler = [&](int code, std::wstring_view format, const orvo::FormatArg* a, size_t count) -> int {
    std::wstring text = orvo::FormatArgs(format, a, count);
    switch (code) {
      case orvo::EXTRACT_TEXT:
        if (text.rfind(L"Processing cabinet ", 0) == 0) {
          if (args.verbose) PrintText(stdout, text);
        } else {
          lastFailure = TrimmedMessage(text);
          PrintText(stderr, L"orvo-cab: " + lastFailure);
        }
        break;
      case orvo::fdintCOPY_FILE:
        if (text.empty()) {
          ++unplaced;
        } else if (text.compare(0, folder.size(), folder) == 0) {
          pending.insert(text);
        } else {
          sawIndexFile = true;  // the index goes to the temporary folder
        }
        break;
      case orvo::fdintCLOSE_FILE_INFO:
        if (pending.erase(text)) {
          ++written;
          PrintText(stdout, L"  " + text.substr(folder.size()));
        }
        break;
      case orvo::EXTRACT_FOLDER_FAILED:
        lastFailure = L"cannot create folder " + text;
        PrintText(stderr, L"orvo-cab: " + lastFailure);
        break;
      case orvo::fdintPARTIAL_FILE:
      case orvo::fdintNEXT_CABINET:
        if (args.verbose) PrintText(stdout, TrimmedMessage(text));
        break;
      default:
        break;
    }
    return 0;
  };
  orvo::SetExtractDiagnostics(args.verbose);
  int result = orvo::ExtractCabinet(
      cabinet, folder, handler, args.storedNames ? orvo::ExtractNaming::kStoredNames : orvo::ExtractNaming::kIndexFile);
  unsigned failed = 0;
  for (const std::wstring& path : pending) {
    // A placeholder is removed once written; the folder it kept is the point.
    if (path.size() >= 9 && path.compare(path.size() - 9, 9, L"empty.dir") == 0) continue;
    PrintText(stderr, L"orvo-cab: could not write " + path);
    ++failed;
  }
  if (result != 1) return Fail("extraction failed" + (lastFailure.empty() ? std::string() : ": " + orvo::ToUtf8(lastFailure)));
  std::printf("%u files extracted to %s\n", written, orvo::ToUtf8(folder).c_str());
  if (unplaced > 0) {
    std::string hint = !args.storedNames && !sawIndexFile ? " (the cabinet has no IndexFile.dat: try --stored-names)" : "";
    return Fail(std::to_string(unplaced) + " files had no safe target and were not extracted" + hint);
  }
  if (failed > 0) return Fail(std::to_string(failed) + " files could not be written");
  return 0;
}

#else

int Extract(const Arguments& args) {
  if (args.positional.size() != 2) return Usage("extract takes CABINET and FOLDER");
  if (!args.storedNames) {
    return Fail(
        "placing files by IndexFile.dat needs the Windows build (it runs the installer's extractor); "
        "use --stored-names here");
  }
  NativeExtractResult result;
  bool copied = ExtractStoredNames(args.positional[0], args.positional[1], true, &result);
  if (!copied) return Fail("extraction failed: " + result.error);
  std::printf("%u files extracted to %s\n", result.written, args.positional[1].c_str());
  if (result.refused > 0) return Fail(std::to_string(result.refused) + " files had no safe target and were not extracted");
  if (result.failed > 0) return Fail(std::to_string(result.failed) + " files could not be written");
  return 0;
}

#endif

int Run(const std::vector<std::string>& argv) {
  if (argv.size() < 2) return Usage("no command");
  Arguments args;
  args.command = argv[1];
  for (size_t i = 2; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a == "--method" && i + 1 < argv.size()) {
      args.method = argv[++i];
    } else if (a.rfind("--method=", 0) == 0) {
      args.method = a.substr(9);
    } else if (a == "--split" && i + 1 < argv.size()) {
      if (!ParseSize(argv[++i], &args.split)) return Usage("--split takes a positive number of bytes");
    } else if (a == "--stored-names") {
      args.storedNames = true;
    } else if (a == "--verbose" || a == "-v") {
      args.verbose = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage("unknown option " + a);
    } else {
      args.positional.push_back(a);
    }
  }
  if (args.command == "create") return Create(args);
  if (args.command == "list") return List(args);
  if (args.command == "extract") return Extract(args);
  if (args.command == "--help" || args.command == "-h" || args.command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  return Usage("unknown command " + args.command);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(orvo::tools::Utf8Arguments(argc, argv)); }
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv, argv + argc)); }
#endif
