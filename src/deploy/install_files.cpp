#include "deploy/install_files.h"

#include <shlobj.h>

#include <ctime>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "deploy/cabinet_extractor.h"
#include "documents/contained_path.h"
#include "documents/linked_folders.h"
#include "deploy/deployment_state.h"
#include "deploy/install_handler.h"
#include "deploy/reference_document.h"
#include "deploy/trusted_folders.h"
#include "documents/paths.h"
#include "media/media_locator.h"

namespace orvo {
namespace {


std::wstring WithOneTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path + L'\\';
}

// The copy beside the pack document serves every later per-user
// installation: it is written under another name and renamed only once
// complete, so a copy cut off half-way is never taken for the cabinet.
bool CacheCabinet(const std::wstring& source, const std::wstring& cache) {
  std::wstring partial = cache + L".partial";
  DeleteFileW(partial.c_str());
  EnsureFolder(ParentFolder(cache));
  if (!CopyFileW(source.c_str(), partial.c_str(), FALSE)) return false;
  if (MoveFileExW(partial.c_str(), cache.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(partial.c_str());
  return false;
}

// The copy an earlier installation left is checked like any other place
// the cabinet can come from; one with another digest is replaced. A split
// set is copied whole: the extractor reads the continuing cabinets beside
// the first.
void ProvideCacheCopy(const CabinetEntry& cabinet) {
  auto provide = [](const std::wstring& source, const std::wstring& cache, const std::wstring& digest) {
    if (PathExists(cache) && !MediaLocator::Instance().HasDigest(cache, digest)) DeletePath(cache, true, false);
    if (!PathExists(cache)) CacheCabinet(source, cache);
  };
  provide(cabinet.sourcePath, cabinet.cachePath, cabinet.digest);
  for (const auto& next : cabinet.continuing) {
    provide(CombinePath(ParentFolder(cabinet.sourcePath), next.name),
            CombinePath(ParentFolder(cabinet.cachePath), next.name), next.digest);
  }
}

// Everything one call shares.
struct InstallRun {
  AppIndex index;
  std::wstring userName;
  std::wstring commonAppData;
  unsigned installType = 0;
  DirectoryTable product;
  UserDirectoryTables users;
  TextList added, localFolders, sharedFolders, noOverwrite, readOnly, bypassed;
  TextList openedFolders;

  bool Has(unsigned bits) const { return (installType & bits) != 0; }

  // Strictly below common application data, without any step out of it:
  // opening anything else to all users would open far more than the content.
  bool IsBelowCommonAppData(const std::wstring& folder) const { return IsStrictlyBelow(folder, commonAppData); }

  void Grant(const std::wstring& folder, const wchar_t* message) {
    auto& session = InstallerSession::Instance();
    session.Log(message, folder);
    // The grant would reach whatever a link leads to.
    std::wstring link = LinkOnTheWay(folder);
    if (!link.empty()) {
      session.Log(L" !=> Refused to grant access through %s: it is a link", link);
      return;
    }
    unsigned long error = GrantAuthenticatedUsers(folder);
    if (error != 0) session.Log(L" !=> Failed to grant access, error: %s", SystemErrorText(error));
  }

  void Directory(Orvo& orvo, CabinetEntry& cabinet, const std::wstring& name);
  void PerUser(Orvo& orvo, CabinetEntry& cabinet, const std::wstring& name);
  void Shared(Orvo& orvo, CabinetEntry& cabinet, const std::wstring& name);
};

void InstallRun::Directory(Orvo& orvo, CabinetEntry& cabinet, const std::wstring& name) {
  DeploymentState& state = DeploymentState::Instance();
  auto& session = InstallerSession::Instance();
  state.noOverwrite = false;
  if (ContainsText(noOverwrite, name, true)) {
    session.Log(L"    -> NoOverwrite flag set on directory %s", name);
    state.noOverwrite = true;
  }
  if (ContainsText(readOnly, name, true)) {
    session.Log(L"    -> Readonly flag set on directory %s", name);
    return;
  }
  if (ContainsText(sharedFolders, name, true)) {
    DirectoryEntry& entry = product[name];
    if (entry.flags & AI_FLAG_PERUSER) {
      session.Log(L"    -> %s installed as Shared. Switching off per-user flag.", name);
      entry.flags &= ~unsigned(AI_FLAG_PERUSER);
    }
    if (Has(IT_DEPLOYMENT)) {
      session.Log(L"    -> %s installed as Shared. This is a deployment. Suppressing installation.", name);
      return;
    }
    session.Log(L"    -> %s installed as Shared. Suppressing ref counts.", name);
    state.suppressRefCounts = true;
  } else {
    if (state.suppressRefCounts) session.Log(L"    -> Restoring ref counts.");
    state.suppressRefCounts = false;
  }
  if (ContainsText(localFolders, name, true)) {
    DirectoryEntry& entry = product[name];
    if (entry.flags & AI_FLAG_PERUSER) {
      session.Log(L"    -> %s installed as Local. Switching off per-user flag.", name);
      entry.flags &= ~unsigned(AI_FLAG_PERUSER);
    }
  }
  auto found = product.find(name);
  if (found == product.end()) {
    session.Log(L"   !-> Directory %s is not defined in appIndex.xml", name);
    return;
  }
  if (found->second.flags & AI_FLAG_NOWRITE) {
    session.Log(L"   !-> AI_FLAG_NOWRITE preventing extraction of %s to %s", cabinet.name, name);
    return;
  }
  std::wstring key = Format(L"%s:%s", orvo.name, cabinet.name);
  if (ContainsText(bypassed, key, true)) {
    session.Log(L"   !-> Cabinet condition on %s preventing extraction of %s to %s", key, cabinet.name, name);
    return;
  }
  if (found->second.flags & AI_FLAG_PERUSER) {
    PerUser(orvo, cabinet, name);
  } else {
    Shared(orvo, cabinet, name);
  }
}

void InstallRun::PerUser(Orvo& orvo, CabinetEntry& cabinet, const std::wstring& name) {
  DeploymentState& state = DeploymentState::Instance();
  auto& session = InstallerSession::Instance();
  // Later installations for new users read the copy, without the media.
  ProvideCacheCopy(cabinet);
  for (const auto& [user, table] : users) {
    if (state.abortRequested) break;
    bool current = user == userName;
    if (!current && Has(IT_SECONDARY)) continue;
    if (!current && orvo.request != kRequestInstall) continue;
    auto directory = table.find(name);
    if (directory == table.end() || !IsUsableFolder(directory->second.path)) {
      session.Log(L"   !-> Directory %s is not defined for user %s", name, user);
      continue;
    }
    auto documentPath = orvo.referenceDocuments.find(user);
    if (documentPath == orvo.referenceDocuments.end()) {
      // The user's reference document lies below LocalAppDataFolder.
      session.Log(L"   !-> LocalAppDataFolder is not recorded for user %s: %s not extracted", user, cabinet.name);
      continue;
    }
    ProvideReferenceSchema(documentPath->second);
    XmlDocument document;
    DomDocument* loaded = nullptr;
    if (!LoadDocument(document, documentPath->second, loaded) || !loaded) continue;
    state.targetFolder = WithOneTrailingBackslash(directory->second.path);
    LocateExtractionPath(loaded, cabinet.name);
    if (IsBelowCommonAppData(state.targetFolder)) {
      if (!PathExists(state.targetFolder)) EnsureFolder(state.targetFolder);
      Grant(state.targetFolder, L"   - Granting authenticated users GENERIC_ALL access to %s");
    }
    session.Log(L"  -> Extracting %s to %s", cabinet.cachePath, state.targetFolder);
    ExtractCabinet(cabinet.cachePath, state.targetFolder, InstallHandler);
    FlushProgress();
    ForgetExtractionElements();
    document.Save(L"UTF-16", L"\r\n");
  }
}

void InstallRun::Shared(Orvo& orvo, CabinetEntry& cabinet, const std::wstring& name) {
  DeploymentState& state = DeploymentState::Instance();
  auto& session = InstallerSession::Instance();
  if (Has(IT_SECONDARY)) return;
  if (Has(IT_NEWUSER) && !Has(IT_REPAIRFIL) && orvo.request != kRequestInstall) return;
  const std::wstring& path = product[name].path;
  if (!IsUsableFolder(path)) {
    session.Log(L"   !=> %s not defined. Will not extract %s", name, cabinet.name);
    return;
  }
  state.targetFolder = WithOneTrailingBackslash(path);
  XmlDocument document;
  if (!state.suppressRefCounts) {
    std::wstring documentPath = orvo.referenceDocuments[kAllUsers];
    ProvideReferenceSchema(documentPath);
    DomDocument* loaded = nullptr;
    if (!LoadDocument(document, documentPath, loaded) || !loaded) {
      session.Log(L"   !-> Failed to load %s", documentPath);
      return;
    }
    LocateExtractionPath(loaded, cabinet.name);
  }
  if (IsBelowCommonAppData(state.targetFolder)) {
    if (!PathExists(state.targetFolder)) EnsureFolder(state.targetFolder);
    if (!ContainsText(openedFolders, state.targetFolder, true)) {
      openedFolders.push_back(state.targetFolder);
      Grant(state.targetFolder, L"     (Granting authenticated users GENERIC_ALL access to %s)");
    }
  }
  session.Log(L"  -> Extracting %s to %s", cabinet.sourcePath, state.targetFolder);
  ExtractCabinet(cabinet.sourcePath, state.targetFolder, InstallHandler);
  FlushProgress();
  ForgetExtractionElements();
  if (!state.suppressRefCounts) document.Save(L"UTF-16", L"\r\n");
}

// A cabinet that takes part and whose every copy had another digest fails
// the installation before any file is written.
bool HasRefusedCabinet(OrvoCatalog& catalog, const TextList& bypassed) {
  auto& session = InstallerSession::Instance();
  bool refused = false;
  for (auto& [orvoName, orvo] : catalog.orvos()) {
    for (const auto& cabinet : orvo->cabinets) {
      if (!cabinet->refused || ContainsText(bypassed, Format(L"%s:%s", orvo->name, cabinet->name), true)) continue;
      if (!orvo->TakesPart()) break;
      session.Log(L" !=> %s of %s: no copy has the recorded SHA-256. Nothing is installed", cabinet->name, orvo->name);
      refused = true;
    }
  }
  return refused;
}

TextList SplitList(const std::wstring& text) {
  TextList list;
  SplitText(text, L";", list, true);
  return list;
}

}  // namespace

std::wstring ElapsedText(long long seconds) {
  if (seconds < 0) seconds = 0;
  long long inDay = seconds % 86400;
  return Format(L"%02d:%02d:%02d", int(inDay / 3600), int(inDay / 60 % 60), int(inDay % 60));
}

unsigned InstallFiles(XmlDocument& master, OrvoCatalog& catalog, const std::wstring& installingUser) {
  DeploymentState& state = DeploymentState::Instance();
  auto& session = InstallerSession::Instance();
  KeptLog keptLog;
  InstallRun run;
  run.installType = session.installType();
  state.productCode = ChildText(master.root(), L"ProductCode");
  std::wstring addedText = run.index.GetIndexedProperty(state.productCode, L"ORVO_SA_ADDED");
  run.userName = installingUser.empty() ? CurrentUserName() : installingUser;
  run.commonAppData = SpecialFolder(CSIDL_COMMON_APPDATA);

  if (!run.Has(IT_REPAIRFIL | IT_SECONDARY | IT_NEWINSTALL | IT_ADDREMOVE) && addedText.empty()) {
    session.Log(L" => No file extraction required");
    return ERROR_SUCCESS;
  }
  long long start = static_cast<long long>(std::time(nullptr));
  if (!run.index.CollectDirectories(state.productCode, run.product, run.users)) return ERROR_SUCCESS;
  KeepTrustedFolders(state.productFolders, run.product, run.users);
  run.localFolders = SplitList(run.index.GetIndexedProperty(state.productCode, L"CD_LOCAL_FOLDERS"));
  run.sharedFolders = SplitList(run.index.GetIndexedProperty(state.productCode, L"CD_SHARED_FOLDERS"));
  run.noOverwrite = SplitList(run.index.GetIndexedProperty(state.productCode, L"CD_NO_OVERWRITE"));
  run.readOnly = SplitList(run.index.GetIndexedProperty(state.productCode, L"CD_READONLY"));
  run.bypassed = SplitList(run.index.GetIndexedProperty(state.productCode, L"ORVO_BYPASS_CABINETS"));
  run.added = SplitList(addedText);

  if (HasRefusedCabinet(catalog, run.bypassed)) return ERROR_INSTALL_FAILURE;

  state.repairFiles = run.Has(IT_REPAIRFIL);
  session.ReportProgress(1, 0, 0);

  for (auto& [orvoName, orvoPointer] : catalog.orvos()) {
    if (state.abortRequested) break;
    Orvo& orvo = *orvoPointer;
    if (!orvo.TakesPart()) continue;
    session.Log(L" => Installing %s", orvo.name);
    if (!IsPlainFileName(orvo.name)) {
      session.Log(L"   !-> Refused the name of %s: it cannot name a reference document", orvo.name);
      continue;
    }
    orvo.ReferenceDocumentPaths(run.users);
    for (auto& cabinet : orvo.cabinets) {
      if (state.abortRequested) break;
      if (orvo.standalone) ProvideCacheCopy(*cabinet);
      for (const auto& [owner, directories] : cabinet->targetDirectories) {
        if (!owner.empty()) {
          Orvo* publisher = catalog.Find(owner);
          if (!publisher || !publisher->TakesPart()) continue;
        }
        for (const auto& directory : directories) run.Directory(orvo, *cabinet, directory);
      }
    }
    if (run.Has(IT_NEWINSTALL | IT_ADDREMOVE) || !run.added.empty()) {
      master.SetChanged();
      orvo.SetCurrent(kCurrentlyInstalled);
    }
  }

  long long elapsed = static_cast<long long>(std::time(nullptr)) - start;
  session.Log(L" => Elapsed time: %s", ElapsedText(elapsed));
  session.Log(L" => %d ticks added to progress bar", state.ticksAdded);
  return state.abortRequested ? ERROR_INSTALL_USEREXIT : ERROR_SUCCESS;
}

}  // namespace orvo
