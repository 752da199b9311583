#include "media_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cab_decoder.h"
#include "cab_directory.h"
#include "content_pack.h"
#include "decoder_io.h"
#include "documents/contained_path.h"
#include "file_digest.h"
#include "media/sha256.h"
#include "media_documents.h"
#include "media_rules.h"
#include "xml_text.h"

namespace orvo::media {
namespace {

namespace fs = std::filesystem;

std::string Trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return std::string();
  return text.substr(start, text.find_last_not_of(" \t\r\n") + 1 - start);
}

// A media path as the installer joins it: "\" and "/" both separate.
fs::path Below(const fs::path& folder, const std::string& relative) {
  std::string slashed = relative;
  for (auto& c : slashed) {
    if (c == '\\') c = '/';
  }
  return folder / fs::u8path(slashed);
}

bool ReadBytes(const fs::path& path, std::string* bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *bytes = buffer.str();
  return !in.bad();
}

void FindAll(const XmlElement& e, const char* name, std::vector<const XmlElement*>* found) {
  for (const auto& child : e.children) {
    if (child->name == name) found->push_back(child.get());
    FindAll(*child, name, found);
  }
}

// Decoding the whole set proves every block's data; the bytes are dropped.
constexpr cab::Descriptor kDiscard = 0x7FFF0002;
uint32_t DiscardWrite(cab::Descriptor fd, const void* buffer, uint32_t count) {
  return fd == kDiscard ? count : cabtool::StreamCallbacks().write(fd, buffer, count);
}
int DiscardClose(cab::Descriptor fd) { return fd == kDiscard ? 0 : cabtool::StreamCallbacks().close(fd); }
intptr_t DiscardNotify(cab::NotificationType type, cab::Notification*) {
  switch (type) {
    case cab::kCopyFile: return kDiscard;
    case cab::kCloseFileInfo: return 1;
    default: return 0;  // the decoder opens continuing cabinets beside the first
  }
}

std::string DecoderError(int code) {
  switch (code) {
    case cab::kErrorCabinetNotFound: return "a cabinet of the set cannot be opened";
    case cab::kErrorNotACabinet: return "not a cabinet";
    case cab::kErrorCorruptCabinet: return "corrupt or cut short";
    case cab::kErrorUnknownCompression: return "unknown compression";
    case cab::kErrorDecompression: return "data does not decompress";
    case cab::kErrorReserveMismatch: return "cabinets of the set differ in their reserve sizes";
    case cab::kErrorWrongCabinet: return "the next cabinet belongs to another set";
    default: return "error " + std::to_string(code);
  }
}

class Checker {
 public:
  Checker(fs::path media, bool verbose) : media_(std::move(media)), verbose_(verbose) {}

  unsigned Run() {
    fs::path content = media_ / "Content";
    const std::string shown = "Content/" + std::string(kMasterFile);
    XmlDocument master;
    if (!Load(content / kMasterFile, shown, &master)) return problems_;
    const XmlElement& root = *master.root;
    Report report = At(shown);
    CheckMasterStructure(root, report);
    CheckSchema(root, content, report);

    std::vector<const XmlElement*> orvos;
    FindAll(root, "Orvo", &orvos);
    std::set<std::string> names;
    for (const XmlElement* orvo : orvos) {
      const std::string* name = orvo->Attribute("Name");
      if (!name) continue;  // reported with the structure
      if (!names.insert(*name).second) report(orvo->line, "Orvo " + *name + " is listed twice: the later entry wins");
      const std::string* standalone = orvo->Attribute("Standalone");
      if (standalone && *standalone == "true") {
        if (verbose_) std::printf("%s: Orvo %s is standalone: not followed\n", shown.c_str(), name->c_str());
        continue;
      }
      const XmlElement* mediaPath = orvo->Child("MediaPath");
      std::string relative = mediaPath ? Trim(mediaPath->text) : std::string();
      if (relative.empty()) {
        report(orvo->line, "Orvo " + *name + " has no MediaPath");
      } else if (!IsContainedRelativePath(WidenUtf8(relative))) {
        report(mediaPath->line, "Orvo " + *name + ": MediaPath " + relative + " does not lie inside the media folder");
      } else {
        CheckPack(*name, Below(content, relative), "Content/" + Below(fs::path(), relative).generic_u8string());
      }
    }
    if (verbose_) std::printf("%zu Orvos, %u problems\n", names.size(), problems_);
    return problems_;
  }

 private:
  fs::path media_;
  bool verbose_;
  unsigned problems_ = 0;

  void Problem(const std::string& where, const std::string& what) {
    ++problems_;
    std::printf("%s: %s\n", where.c_str(), what.c_str());
  }

  Report At(const std::string& where) {
    return [this, where](unsigned line, const std::string& what) {
      Problem(line ? where + ":" + std::to_string(line) : where, what);
    };
  }

  bool Load(const fs::path& path, const std::string& shown, XmlDocument* document) {
    std::string bytes, error;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      Problem(shown, "missing");
      return false;
    }
    if (!ReadBytes(path, &bytes)) {
      Problem(shown, "cannot be read");
      return false;
    }
    if (!ParseXml(bytes, document, &error)) {
      Problem(shown, "not well-formed XML: " + error);
      return false;
    }
    return true;
  }

  // The installer copies the schema named by the document from beside it.
  void CheckSchema(const XmlElement& root, const fs::path& folder, const Report& report) {
    std::string location = SchemaLocation(root, report);
    if (location.empty()) return;
    std::error_code ec;
    if (!IsPlainFileName(WidenUtf8(location))) {
      report(root.line, "the schema " + location + " is not a file name beside the document");
    } else if (!fs::is_regular_file(folder / fs::u8path(location), ec)) {
      report(root.line, "the schema " + location + " is missing beside the document");
    }
  }

  void CheckPack(const std::string& orvo, const fs::path& path, const std::string& shown) {
    XmlDocument pack;
    if (!Load(path, shown, &pack)) return;
    const XmlElement& root = *pack.root;
    Report report = At(shown);
    CheckPackStructure(root, report);
    CheckSchema(root, path.parent_path(), report);

    // Where the installer looks for the cabinets.
    std::string cabFolder;
    if (const XmlElement* identification = root.Child("Identification")) {
      const XmlElement* folder = identification->Child("CabFolder");
      const XmlElement* id = identification->Child("OrvoId");
      if (folder) {
        const std::string* useId = folder->Attribute("UseIdAsCabFolder");
        cabFolder = useId && *useId == "yes" && id && !Trim(id->text).empty() ? Trim(id->text) : Trim(folder->text);
        if (!cabFolder.empty() && !IsContainedRelativePath(WidenUtf8(cabFolder))) {
          report(folder->line, "the cabinet folder " + cabFolder + " does not lie inside the Orvo's folder");
          return;
        }
      }
    }
    fs::path cabinets = cabFolder.empty() ? path.parent_path() : Below(path.parent_path(), cabFolder);
    fs::path shownCabinets = fs::u8path(shown).parent_path() / Below(fs::path(), cabFolder);

    std::vector<const XmlElement*> elements;
    FindAll(root, "Cabinet", &elements);
    std::set<long long> sequences;
    unsigned read = 0;
    for (const XmlElement* cabinet : elements) {
      const std::string* name = cabinet->Attribute("Name");
      const std::string* sequence = cabinet->Attribute("Sequence");
      std::string label = "Cabinet " + (name ? *name : std::string("(no name)"));
      if (!sequence || !IsWholeNumber(*sequence, true)) {
        if (!sequence) report(cabinet->line, label + " has no Sequence: the installer never reads it");
        continue;  // a bad number is reported with the structure
      }
      long long value = std::atoll(Trim(*sequence).c_str());
      if (value < 0) {
        report(cabinet->line, label + " has a negative Sequence: the installer never reads it");
        continue;
      }
      if (!sequences.insert(value).second) {
        report(cabinet->line, label + ": Sequence " + std::to_string(value) + " is taken: the installer never reads it");
        continue;
      }
      ++read;
      if (!cabinet->Attribute("Directory") && !cabinet->Attribute("Subscribe")) {
        report(cabinet->line, label + " has neither Directory nor Subscribe: it is extracted nowhere");
      }
      if (!name) continue;
      if (!IsPlainFileName(WidenUtf8(*name))) {
        report(cabinet->line, label + ": the name is not a plain file name");
        continue;
      }
      fs::path file = cabinets / fs::u8path(*name);
      std::string shownFile = (shownCabinets / fs::u8path(*name)).generic_u8string();
      std::vector<std::string> set;
      bool setRead = CheckCabinetSet(file, shownFile, &set);
      if (const std::string* digest = cabinet->Attribute("SHA256")) CheckDigest(file, shownFile, *digest);
      CheckContinuations(*cabinet, set, setRead, cabinets, shownCabinets, report);
    }
    if (read == 0 && verbose_) std::printf("%s: Orvo %s has no cabinets\n", shown.c_str(), orvo.c_str());
  }

  // The installer takes no copy of the cabinet with another digest.
  void CheckDigest(const fs::path& file, const std::string& shown, const std::string& recorded) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return;  // reported as missing
    std::string actual = FileSha256(file);
    if (recorded.size() != 64 || recorded.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      Problem(shown, "SHA256 '" + recorded + "' is not 64 hexadecimal digits: the installer refuses the cabinet");
    } else if (actual.empty()) {
      Problem(shown, "cannot be read to check its SHA-256");
    } else if (!Sha256::SameDigest(recorded, actual)) {
      Problem(shown, "has SHA-256 " + actual + ", the pack document records " + recorded +
                         ": the installer refuses it");
    }
  }

  // The installer checks the continuing cabinets the element lists, the
  // extractor reads those the set names: the two lists must agree.
  void CheckContinuations(const XmlElement& cabinet, const std::vector<std::string>& set, bool setRead,
                          const fs::path& folder, const fs::path& shownFolder, const Report& report) {
    std::vector<const XmlElement*> listed;
    for (const auto& child : cabinet.children) {
      if (child->name == "Continuation") listed.push_back(child.get());
    }
    if (listed.empty()) {
      if (verbose_ && !set.empty()) {
        std::printf("%s: the cabinets that continue %s have no recorded digests: the installer does not check them\n",
                    shownFolder.generic_u8string().c_str(), cabinet.Attribute("Name")->c_str());
      }
      return;
    }
    auto same = [](const std::string& a, const std::string& b) {
      return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
             });
    };
    for (size_t i = 0; i < listed.size(); ++i) {
      const std::string* name = listed[i]->Attribute("Name");
      const std::string* digest = listed[i]->Attribute("SHA256");
      if (!name) continue;  // reported with the structure
      if (!IsPlainFileName(WidenUtf8(*name))) {
        report(listed[i]->line,
               "Continuation " + *name + " is not a plain file name: the installer leaves the cabinet out");
      } else if (setRead && i >= set.size()) {
        report(listed[i]->line, "Continuation " + *name + " is not in the set");
      } else if (setRead && !same(set[i], *name)) {
        report(listed[i]->line, "Continuation " + *name + " stands where the set continues with " + set[i]);
      } else if (digest) {
        CheckDigest(folder / fs::u8path(*name), (shownFolder / fs::u8path(*name)).generic_u8string(), *digest);
      }
    }
    if (setRead && set.size() > listed.size()) {
      report(cabinet.line, "the set continues with " + set[listed.size()] +
                               ", which has no Continuation: the installer does not check it");
    }
  }

  // The cabinet, those that continue it (their names into `set`; true when
  // the whole chain was read), and its IndexFile.dat.
  bool CheckCabinetSet(const fs::path& first, const std::string& shown, std::vector<std::string>* set) {
    using cabtool::CabinetDirectory;
    std::error_code ec;
    std::set<std::string> stored;
    fs::path path = first;
    std::string name = shown;
    CabinetDirectory head;
    for (unsigned index = 0;; ++index) {
      if (!fs::is_regular_file(path, ec)) {
        Problem(name, index == 0 ? "missing" : "missing (it continues " + shown + ")");
        return false;
      }
      CabinetDirectory directory;
      std::string error;
      if (!cabtool::ReadCabinetDirectory(path.u8string(), &directory, &error)) {
        Problem(name, "cannot be opened: " + error.substr(error.find(": ") == std::string::npos ? 0 : error.find(": ") + 2));
        return false;
      }
      if (index == 0) {
        head = directory;
        if (!directory.previousCabinet.empty() || directory.cabinetIndex != 0) {
          Problem(name, "is not the first cabinet of its set");
          return false;
        }
      } else if (directory.setId != head.setId || directory.cabinetIndex != index) {
        Problem(name, "does not belong to the set of " + shown);
        return false;
      }
      for (const auto& entry : directory.files) {
        // Files continued from the cabinet before are counted there.
        if (entry.folder != 0xFFFD && entry.folder != 0xFFFF) stored.insert(entry.name);
      }
      if (directory.nextCabinet.empty()) break;
      if (index > 1000 || !IsPlainFileName(WidenUtf8(directory.nextCabinet))) {
        Problem(name, "names an unusable next cabinet " + directory.nextCabinet);
        return false;
      }
      set->push_back(directory.nextCabinet);
      path = first.parent_path() / fs::u8path(directory.nextCabinet);
      name = (fs::u8path(shown).parent_path() / fs::u8path(directory.nextCabinet)).generic_u8string();
    }

    if (!stored.count(cab::kIndexFileName)) {
      Problem(shown, "has no IndexFile.dat: the installer places none of its files");
    } else {
      std::vector<uint8_t> bytes;
      std::string error;
      if (!cabtool::ReadIndexFile(first.u8string(), &bytes, &error)) {
        Problem(shown, "IndexFile.dat cannot be read: " + error);
      } else {
        std::map<std::string, std::string> index = cabtool::ParseIndexFile(bytes);
        for (const auto& [key, target] : index) {
          if (!IsContainedRelativePath(WidenUtf8(target))) {
            Problem(shown, "IndexFile.dat maps " + key + " to '" + target + "', which is not inside the target folder");
          }
        }
        for (const std::string& file : stored) {
          if (file != cab::kIndexFileName && !index.count(file)) {
            Problem(shown, "IndexFile.dat has no entry for " + file + ": the installer leaves it out");
          }
        }
      }
    }

    cab::Callbacks callbacks = cabtool::StreamCallbacks();
    callbacks.write = DiscardWrite;
    callbacks.close = DiscardClose;
    cab::ErrorRecord record;
    cab::Context* context = cab::Create(callbacks, 1, &record);
    if (!context) {
      Problem(shown, "out of memory");
      return true;
    }
    std::string folder = first.parent_path().u8string() + "/";
    bool decoded = cab::Copy(context, first.filename().u8string().c_str(), folder.c_str(), 0, DiscardNotify, nullptr, nullptr);
    cab::Destroy(context);
    if (!decoded) Problem(shown, "its set cannot be decoded: " + DecoderError(record.code));
    return true;
  }
};

}  // namespace

unsigned CheckMedia(const std::string& mediaRoot, bool verbose) {
  return Checker(fs::u8path(mediaRoot), verbose).Run();
}

}  // namespace orvo::media
