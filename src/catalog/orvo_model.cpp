#include "catalog/orvo_model.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <set>

#include "action/install_log.h"
#include "action/install_type.h"
#include "action/installer_session.h"
#include "catalog/untrusted_paths.h"
#include "documents/paths.h"
#include "media/media_locator.h"

namespace orvo {

std::wstring RequestName(int state) {
  switch (state) {
    case kRequestInstall: return L"kRequestInstall";
    case kRequestRemove: return L"kRequestRemove";
    case kRequestNull: return L"kRequestNull";
    default: return L"unknown";
  }
}

std::wstring CurrentName(int state) {
  switch (state) {
    case kCurrentlyInstalled: return L"kCurrentlyInstalled";
    case kCurrentlyNotInstalled: return L"kCurrentlyNotInstalled";
    default: return L"unknown";
  }
}

void Orvo::SetRequest(int state) {
  request = state;
  if (!masterElement) return;
  const wchar_t* text = state == kRequestInstall ? L"install" : state == kRequestRemove ? L"remove" : L"null";
  masterElement->setAttribute(L"Action", text);
}

void Orvo::SetCurrent(int state) {
  current = state;
  if (!masterElement) return;
  masterElement->setAttribute(L"Installed", state == kCurrentlyInstalled ? L"true" : L"false");
}

bool Orvo::TakesPart() const {
  auto& session = InstallerSession::Instance();
  unsigned type = session.installType();
  if (!(type & (IT_NEWINSTALL | IT_ADDREMOVE))) {
    if (request == kRequestRemove) {
      session.Log(L" => %s slated for uninstall", name);
      return false;
    }
    if (current == kCurrentlyNotInstalled && request != kRequestInstall) {
      session.Log(L" => %s not currently installed", name);
      return false;
    }
    return true;
  }
  if ((type & IT_NEWUSER) && current == kCurrentlyInstalled) {
    session.Log(L" => Allowing %s to proceed to secondary install", name);
    return true;
  }
  if (request != kRequestInstall) {
    session.Log(L" => %s not slated for install", name);
    return false;
  }
  return true;
}

void Orvo::ReferenceDocumentPaths(const UserDirectoryTables& users) {
  std::wstring relative = L"Keltra\\Orvos\\" + name + L"_ref" + L".xml";
  referenceDocuments[kAllUsers] = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), relative);
  for (const auto& [user, table] : users) {
    auto found = table.find(L"LocalAppDataFolder");
    if (found == table.end()) continue;
    referenceDocuments[user] = CombinePath(found->second.path, relative);
  }
}

void Orvo::VisibleProfiles(TextList& list) const {
  // The same profiles the profile step reads: any depth below the first
  // Registry of the document element.
  DomElement* registry = FirstChildElement(packDocument.root(), L"Registry");
  if (!registry) return;
  DomNodeList* profiles = registry->getElementsByTagName(L"Profile");
  for (XMLSize_t i = 0; i < profiles->getLength(); ++i) {
    auto* profile = static_cast<DomElement*>(profiles->item(i));
    if (AttributeText(profile, L"Visible") != L"true") continue;
    list.push_back(InstallerSession::Instance().FormatText(L"%s", AttributeText(profile, L"Name")));
  }
}

uint64_t Orvo::TickEstimate(const std::wstring& skipText, const OrvoCatalog& catalog) const {
  if (request != kRequestInstall && request != kRequestRemove) return 0;
  uint64_t total = 0;
  for (const auto& cabinet : cabinets) {
    uint64_t weight = uint64_t(std::max(0, request == kRequestInstall ? cabinet->cost : cabinet->fileCount));
    uint64_t counted = 0;
    for (const auto& [publisher, directories] : cabinet->targetDirectories) {
      if (!publisher.empty()) {
        const Orvo* owner = catalog.Find(publisher);
        if (!owner || !owner->TakesPart()) continue;
      }
      for (const auto& directory : directories) {
        if (skipText.find(directory) == std::wstring::npos) ++counted;
      }
    }
    total += weight * counted;
  }
  return total;
}

std::wstring Orvo::InheritanceText() const { return ChildText(packDocument.root(), L"Inheritance"); }

}  // namespace orvo
