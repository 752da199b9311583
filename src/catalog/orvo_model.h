// The Orvo catalogue: the Orvos a master document offers, each with its
// pack document, cabinets, published directories, inheritance and the
// request and current states that the master document carries.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "appindex/app_index.h"
#include "documents/text_lists.h"
#include "documents/xml_document.h"
#include "media/media_locator.h"

namespace orvo {

// The owner of the reference documents that are for all users.
inline constexpr wchar_t kAllUsers[] = L"All Users";

enum RequestState : int { kRequestInstall = 0, kRequestRemove = 1, kRequestNull = 2 };
enum CurrentState : int { kCurrentlyInstalled = 0, kCurrentlyNotInstalled = 1 };

std::wstring RequestName(int state);
std::wstring CurrentName(int state);

class Orvo;
class OrvoCatalog;

// One cabinet of an Orvo: where the media hold it, where its per-user copy
// goes, and the directories it is extracted into.
class CabinetEntry {
 public:
  std::wstring name;
  std::wstring subscriptions;
  // The Orvo's own directories under the empty name; subscribed ones under
  // the name of the Orvo that publishes them.
  std::map<std::wstring, TextList> targetDirectories;
  std::wstring condition;
  std::wstring sourcePath;
  std::wstring cachePath;
  std::wstring searchFolder;
  std::wstring url;
  int cost = 0;
  int fileCount = 0;
  std::wstring logPath;
  // SHA-256 the pack document records for the cabinet; empty: not checked.
  std::wstring digest;
  // The cabinets that continue a split set, each with its recorded digest
  // (Continuation children of the element); none for older media, whose
  // continuing cabinets are not checked.
  std::vector<ContinuingCabinet> continuing;
  bool acquired = false;
  // Every copy found had another digest: the cabinet must not be used.
  bool refused = false;

  void SetLogPath(const std::wstring& path);
  // 1 found, 17 downloaded, 2 not found, not written or refused.
  int Acquire(bool downloadsAllowed);
};

// Identity and preferences from a pack document's Identification element.
class PackIdentificationCommon {
 public:
  virtual ~PackIdentificationCommon() = default;

  std::wstring orvoId;
  TextList languages;  // lower case, no duplicates
  TextList regions;    // upper case, no duplicates
  bool preferAnyRegion = false;
  std::wstring cabFolder;
  std::wstring url;

  // Reads Identification (below the pack document's root).
  void ReadIdentification(const DomElement* identification);

  bool MatchesLanguageAndRegion(const std::wstring& language, const std::wstring& region) const;
  bool MatchesLanguageOnly(const std::wstring& language) const;
  bool IdContainsLanguageAndRegion(const std::wstring& language, const std::wstring& region) const;
  bool IdContainsLanguageAnyRegion(const std::wstring& language) const;
  bool IdRegionIs(const std::wstring& region) const;
};

class Orvo : public PackIdentificationCommon {
 public:
  Orvo() = default;
  Orvo(const Orvo&) = delete;
  Orvo& operator=(const Orvo&) = delete;

  std::wstring name;
  bool display = false;
  bool autoInstallShortcuts = true;
  bool standalone = false;
  std::wstring packDocumentPath;
  std::wstring packFolder;
  std::wstring mediaPath;
  std::wstring standalonePath;
  std::wstring mediaFolder;
  std::wstring sourceFolder;
  std::wstring standaloneFolder;
  TextList inherits;
  std::map<std::wstring, std::wstring> referenceDocuments;  // owner -> path
  std::map<std::wstring, std::wstring> publishedDirectories;
  std::vector<std::unique_ptr<CabinetEntry>> cabinets;
  TextList supersedes;
  int request = kRequestNull;
  int current = kCurrentlyNotInstalled;
  XmlDocument packDocument;
  DomElement* masterElement = nullptr;

  // Both write the state into the master element.
  void SetRequest(int state);
  void SetCurrent(int state);
  bool TakesPart() const;
  // "All Users" below common application data; each user below the
  // "LocalAppDataFolder" of that user's table.
  void ReferenceDocumentPaths(const UserDirectoryTables& users);
  void VisibleProfiles(TextList& list) const;
  uint64_t TickEstimate(const std::wstring& skipText, const OrvoCatalog& catalog) const;
  // The Inheritance text of the loaded pack document.
  std::wstring InheritanceText() const;
};

class OrvoCatalog {
 public:
  using Map = std::map<std::wstring, std::unique_ptr<Orvo>>;

  OrvoCatalog() = default;
  OrvoCatalog(const OrvoCatalog&) = delete;
  OrvoCatalog& operator=(const OrvoCatalog&) = delete;

  // Builds the catalogue from a loaded master document; its size.
  size_t Load(XmlDocument& master, bool downloads);
  bool RemoveFromList(XmlDocument& master, const std::wstring& name);

  Orvo* Find(const std::wstring& name) const;
  const Map& orvos() const { return orvos_; }
  Map& orvos() { return orvos_; }
  size_t size() const { return orvos_.size(); }
  const TextList& unavailable() const { return unavailable_; }

 private:
  Map orvos_;
  TextList unavailable_;
};

}  // namespace orvo
