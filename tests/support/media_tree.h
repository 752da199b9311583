// Writes installation media for tests: the master document, pack documents
// with their cabinets, and the schemas of samples/media beside them, so no
// test hand-writes the documents' XML.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvo::test {

struct MasterOrvoSpec {
  std::wstring name, display, action, installed, mediaPath, standalone, standalonePath;
};

struct MasterDocumentSpec {
  std::vector<MasterOrvoSpec> orvos;
  std::wstring mediaRoot, url, initialSelection;
  // Further root children as name and text (DefaultSelection, ...).
  std::vector<std::pair<std::wstring, std::wstring>> extra;
};

struct CabinetSpec {
  std::wstring sequence, name, condition, cost, fileCount, directory, subscribe, sha256;
};

struct ProfileEntrySpec {
  std::wstring subkey, name, type, flags, data;
};

struct ProfileSpec {
  std::wstring name, visible, inheritance;
  std::vector<ProfileEntrySpec> entries;
};

struct ApplicationDefaultSpec {
  std::wstring name, value;
};

struct PackDocumentSpec {
  std::wstring orvoId, supercedes, cabFolder, useIdAsCabFolder, url, inheritance, preferAnyRegion;
  std::vector<std::wstring> languages, regions;
  std::vector<std::pair<std::wstring, std::wstring>> published;  // Id, Directory
  std::vector<CabinetSpec> cabinets;
  std::vector<ProfileSpec> profiles;
  std::vector<ApplicationDefaultSpec> applicationDefaults;
  // Raw XML put into the Registry and Shortcuts sections as they are.
  std::wstring registryXml, shortcutsXml;
  // The root's schema location when not "orvo_pack.xsd" (the schema is
  // still copied under that name).
  std::wstring schemaLocation;
};

std::wstring EscapeXml(const std::wstring& text);
// folder\master.xml and folder\master.xsd.
bool WriteMasterDocument(const std::wstring& folder, const MasterDocumentSpec& spec);
// The pack document at path and orvo_pack.xsd beside it.
bool WritePackDocument(const std::wstring& path, const PackDocumentSpec& spec);
// A deployment document ("KeltraContent.xml"): per product code the Orvos
// offered to it, in the master document's format; no schema.
bool WriteDeploymentDocument(const std::wstring& path,
                             const std::vector<std::pair<std::wstring, std::vector<MasterOrvoSpec>>>& products);
// A content cabinet of the project's own writer: "IndexFile.dat" first,
// then each file under its stored name; relative paths to bytes.
bool WriteContentCabinet(const std::wstring& path, const std::map<std::wstring, std::string>& files);

}  // namespace orvo::test
