// The text of the media documents orvo-media writes: the master document
// with its list of Orvos, and one pack document per Orvo.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::media {

constexpr char kMasterFile[] = "master.xml";
constexpr char kMasterSchemaFile[] = "master.xsd";
constexpr char kPackSchemaFile[] = "orvo_pack.xsd";

struct ShortcutSpec {
  std::string name, target, parameters;
};

// A cabinet that continues a set, as a Continuation child of its element.
struct ContinuationSpec {
  std::string name, sha256;
};

struct CabinetSpec {
  std::string name;
  uint64_t cost = 0;  // bytes the extraction writes: one progress tick per 5
  unsigned fileCount = 0;  // files the installation records
  std::string sha256;      // of the cabinet the element names
  std::vector<ContinuationSpec> continuations;  // the rest of its set, in order
};

struct PackSpec {
  std::string name, directory;
  bool perUser = false;
  std::vector<std::string> languages, regions, supersedes, inherits;
  std::string profileXml;  // Profile elements, copied as they are
  std::vector<ShortcutSpec> shortcuts;
  std::vector<CabinetSpec> cabinets;
};

// A master document with an empty list of Orvos.
std::string MasterDocumentText();

std::string PackDocumentText(const PackSpec& packSpec);

// The master document's bytes with the Orvo `name` listed, its pack document
// at "name\name.xml"; an entry of that name is replaced, the rest kept as it is.
bool RegisterOrvo(const std::string& masterBytes, const std::string& name, std::string* updated, std::string* error);

// A profile fragment: well-formed, nothing but Profile elements at its top.
bool CheckProfileFragment(const std::string& fragment, std::string* error);

}  // namespace orvo::media
