// orvo-media: builds installation media from content folders: the master
// document, one pack document and cabinet set per Orvo, and the schemas
// beside them; and checks media as the installer would read them.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "content_pack.h"
#include "documents/contained_path.h"
#include "file_digest.h"
#include "media_check.h"
#include "media_documents.h"
#include "media_schemas.h"
#include "xml_text.h"

namespace {

namespace fs = std::filesystem;
using namespace orvo::media;

const char kUsage[] =
    "usage:\n"
    "  orvo-media init MEDIA\n"
    "  orvo-media add MEDIA NAME FOLDER --directory DIR [--per-user] [--method stored|mszip|lzx:N]\n"
    "             [--split BYTES] [--language L]... [--region R]... [--supersedes X]... [--inherits Y]...\n"
    "             [--profile FILE] [--shortcut NAME=TARGET[,ARGS]]...\n"
    "  orvo-media check [--verbose] MEDIA\n"
    "--profile FILE: Profile elements and registry entries (HKLM, HKCU, HKCR, ...) copied into\n"
    "the pack document's Registry section\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "orvo-media: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "orvo-media: %s\n%s", message.c_str(), kUsage);
  return 2;
}

struct Arguments {
  std::string command;
  std::vector<std::string> positional;
  std::string directory, method = "mszip", profile;
  uint64_t split = 0;
  bool perUser = false, verbose = false;
  std::vector<std::string> languages, regions, supersedes, inherits, shortcuts;
};

using orvo::tools::ParseSize;

bool ReadBytes(const fs::path& path, std::string* bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *bytes = buffer.str();
  return in.good() || in.eof();
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  out.close();
  return !out.fail();
}

std::string Schema(const unsigned char* bytes, size_t size) { return std::string(reinterpret_cast<const char*>(bytes), size); }

// A list entry of its own: the installer splits Orvo lists at ";".
bool IsListItem(const std::string& text) {
  return !text.empty() && text.find(';') == std::string::npos && text.front() != ' ' && text.back() != ' ';
}

int Init(const Arguments& args) {
  if (args.positional.size() != 1) return Usage("init takes MEDIA");
  fs::path content = fs::u8path(args.positional[0]) / "Content";
  std::error_code ec;
  if (fs::exists(content / kMasterFile, ec)) return Fail((content / kMasterFile).u8string() + " already exists");
  fs::create_directories(content, ec);
  if (ec) return Fail("cannot create " + content.u8string() + ": " + ec.message());
  if (!WriteBytes(content / kMasterFile, MasterDocumentText()) ||
      !WriteBytes(content / kMasterSchemaFile, Schema(kMasterSchemaBytes, sizeof kMasterSchemaBytes)) ||
      !WriteBytes(content / kPackSchemaFile, Schema(kPackSchemaBytes, sizeof kPackSchemaBytes))) {
    return Fail("cannot write into " + content.u8string());
  }
  std::printf("wrote %s with an empty list of Orvos\n", (content / kMasterFile).u8string().c_str());
  return 0;
}

// Whether `inner` is `outer` or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  fs::path a = fs::weakly_canonical(inner, ec), b = fs::weakly_canonical(outer, ec);
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // a trailing separator
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

int Add(const Arguments& args) {
  if (args.positional.size() != 3) return Usage("add takes MEDIA, NAME and FOLDER");
  const std::string& name = args.positional[1];
  if (!IsListItem(name) || !orvo::IsPlainFileName(WidenUtf8(name))) {
    return Usage("'" + name + "' cannot name an Orvo: it must be a file name without ';'");
  }
  if (args.directory.empty()) return Usage("add needs --directory DIR, the directory the files go to");
  if (!std::regex_match(args.directory, std::regex("[A-Za-z_][A-Za-z0-9_.]*"))) {
    return Usage("--directory takes the name of a directory of the package, not '" + args.directory + "'");
  }
  std::optional<orvo::cab::Compression> compression = orvo::cab::ParseCompression(args.method);
  if (!compression) return Usage("unknown method '" + args.method + "' (stored, mszip, lzx:15 to lzx:21)");
  PackSpec packSpec;
  packSpec.name = name;
  packSpec.directory = args.directory;
  packSpec.perUser = args.perUser;
  packSpec.languages = args.languages;
  packSpec.regions = args.regions;
  packSpec.supersedes = args.supersedes;
  packSpec.inherits = args.inherits;
  for (const auto* list : {&args.languages, &args.regions, &args.supersedes, &args.inherits}) {
    for (const std::string& item : *list) {
      if (!IsListItem(item)) return Usage("'" + item + "' is not a single name");
    }
  }
  for (const std::string& text : args.shortcuts) {
    size_t equals = text.find('=');
    ShortcutSpec shortcut;
    if (equals != std::string::npos) {
      shortcut.name = text.substr(0, equals);
      std::string rest = text.substr(equals + 1);
      size_t comma = rest.find(',');
      shortcut.target = rest.substr(0, comma);
      if (comma != std::string::npos) shortcut.parameters = rest.substr(comma + 1);
    }
    if (shortcut.name.empty() || shortcut.target.empty()) return Usage("--shortcut takes NAME=TARGET[,ARGS]");
    packSpec.shortcuts.push_back(shortcut);
  }

  fs::path content = fs::u8path(args.positional[0]) / "Content";
  fs::path folder = fs::u8path(args.positional[2]);
  std::string masterBytes, error;
  if (!ReadBytes(content / kMasterFile, &masterBytes)) {
    return Fail("no " + (content / kMasterFile).u8string() + " (run orvo-media init first)");
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return Fail("not a folder: " + folder.u8string());
  if (!args.profile.empty()) {
    if (!ReadBytes(fs::u8path(args.profile), &packSpec.profileXml)) return Fail("cannot read " + args.profile);
    if (!CheckProfileFragment(packSpec.profileXml, &error)) return Fail(args.profile + ": " + error);
    if (packSpec.profileXml.compare(0, 3, "\xEF\xBB\xBF") == 0) packSpec.profileXml.erase(0, 3);
  }
  std::string updatedMaster;
  if (!RegisterOrvo(masterBytes, name, &updatedMaster, &error)) {
    return Fail((content / kMasterFile).u8string() + ": " + error);
  }

  fs::path orvoFolder = content / fs::u8path(name);
  if (IsWithin(orvoFolder, folder)) return Fail("the Orvo's media folder " + orvoFolder.u8string() + " lies inside " + folder.u8string());
  fs::create_directories(orvoFolder, ec);
  if (ec) return Fail("cannot create " + orvoFolder.u8string() + ": " + ec.message());
  // Cabinets of an earlier add of this Orvo: NAME.cab, NAME2.cab, ...
  const std::regex old(std::regex_replace(name, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "[0-9]*\\.cab",
                       std::regex::icase);
  for (const auto& entry : fs::directory_iterator(orvoFolder, ec)) {
    if (entry.is_regular_file(ec) && std::regex_match(entry.path().filename().u8string(), old)) fs::remove(entry.path(), ec);
  }

  orvo::cab::PackOptions options;
  options.compression = *compression;
  options.set.maxCabinetSize = args.split;
  orvo::cab::PackResult result;
  fs::path cabinet = orvoFolder / fs::u8path(name + ".cab");
  if (!orvo::cab::PackFolder(cabinet.u8string(), folder.u8string(), options, &result, &error)) {
    return Fail("cannot pack " + folder.u8string() + ": " + error);
  }
  // One element for the whole set: the extractor follows it from the first
  // cabinet, and only the first holds IndexFile.dat; the rest are listed in
  // it for their digests.
  CabinetSpec entry;
  entry.name = cabinet.filename().u8string();
  entry.cost = result.totals.uncompressedBytes;
  for (const auto& [stored, relative] : result.index) {
    size_t last = relative.find_last_of('\\');
    if ((last == std::string::npos ? relative : relative.substr(last + 1)) != orvo::cab::kPlaceholderName) ++entry.fileCount;
  }
  entry.sha256 = FileSha256(cabinet);
  if (entry.sha256.empty()) return Fail("cannot read " + cabinet.u8string());
  // The rest of a set, each with its digest: the installer checks every
  // cabinet it reads.
  for (size_t i = 1; i < result.cabinets.size(); ++i) {
    fs::path next = fs::u8path(result.cabinets[i]);
    ContinuationSpec continuation{next.filename().u8string(), FileSha256(next)};
    if (continuation.sha256.empty()) return Fail("cannot read " + next.u8string());
    entry.continuations.push_back(continuation);
  }
  packSpec.cabinets.push_back(entry);

  fs::path packPath = orvoFolder / fs::u8path(name + ".xml");
  if (!WriteBytes(packPath, PackDocumentText(packSpec)) ||
      !WriteBytes(orvoFolder / kPackSchemaFile, Schema(kPackSchemaBytes, sizeof kPackSchemaBytes))) {
    return Fail("cannot write into " + orvoFolder.u8string());
  }
  if (!WriteBytes(content / kMasterFile, updatedMaster)) return Fail("cannot write " + (content / kMasterFile).u8string());

  for (const std::string& path : result.cabinets) std::printf("wrote %s\n", path.c_str());
  std::printf("wrote %s: %u files, %llu bytes to %s\n", packPath.u8string().c_str(), entry.fileCount,
              static_cast<unsigned long long>(entry.cost), args.directory.c_str());
  if (args.perUser) {
    std::printf("note: %s is per-user only if the package lists it in INDEXED_PERUSERDIRS\n", args.directory.c_str());
  }
  return 0;
}

int Check(const Arguments& args) {
  if (args.positional.size() != 1) return Usage("check takes MEDIA");
  std::error_code ec;
  if (!fs::is_directory(fs::u8path(args.positional[0]), ec)) return Usage("not a folder: " + args.positional[0]);
  unsigned problems = CheckMedia(args.positional[0], args.verbose);
  if (problems == 0) {
    std::printf("%s: no problems\n", args.positional[0].c_str());
    return 0;
  }
  std::printf("%u problem%s\n", problems, problems == 1 ? "" : "s");
  return 1;
}

int Run(const std::vector<std::string>& argv) {
  if (argv.size() < 2) return Usage("no command");
  Arguments args;
  args.command = argv[1];
  // Options that take a value, and where the value goes.
  auto value = [&](const std::string& option) -> std::string* {
    if (option == "--directory") return &args.directory;
    if (option == "--method") return &args.method;
    if (option == "--profile") return &args.profile;
    return nullptr;
  };
  auto list = [&](const std::string& option) -> std::vector<std::string>* {
    if (option == "--language") return &args.languages;
    if (option == "--region") return &args.regions;
    if (option == "--supersedes") return &args.supersedes;
    if (option == "--inherits") return &args.inherits;
    if (option == "--shortcut") return &args.shortcuts;
    return nullptr;
  };
  for (size_t i = 2; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    bool hasNext = i + 1 < argv.size();
    if (std::string* target = value(a)) {
      if (!hasNext) return Usage(a + " takes a value");
      *target = argv[++i];
    } else if (std::vector<std::string>* items = list(a)) {
      if (!hasNext) return Usage(a + " takes a value");
      items->push_back(argv[++i]);
    } else if (a == "--split") {
      if (!hasNext || !ParseSize(argv[++i], &args.split)) return Usage("--split takes a positive number of bytes");
    } else if (a == "--per-user") {
      args.perUser = true;
    } else if (a == "--verbose" || a == "-v") {
      args.verbose = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage("unknown option " + a);
    } else {
      args.positional.push_back(a);
    }
  }
  if (args.command == "init") return Init(args);
  if (args.command == "add") return Add(args);
  if (args.command == "check") return Check(args);
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
