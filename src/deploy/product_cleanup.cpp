#include "deploy/product_cleanup.h"

#include <windows.h>

#include "action/frame.h"
#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "documents/contained_path.h"
#include "documents/paths.h"
#include "documents/text_lists.h"
#include "documents/xml_document.h"

namespace orvo {

void RemoveProductFolders() {
  auto& session = InstallerSession::Instance();
  std::wstring rootProperty = session.GetProperty(L"ORVO_PRODUCTROOT");
  if (rootProperty.empty()) rootProperty = L"INSTALLDIR";
  std::wstring root = session.GetProperty(rootProperty);
  if (IsUsableFolder(root)) {
    DeletePath(CombinePath(root, L"Orvos"), true, true);
    RemoveDirectoryW(root.c_str());
  }

  std::wstring installDir = session.GetProperty(L"INSTALLDIR");
  if (IsUsableFolder(installDir)) {
    // Each folder is listed before its contents: from the last, inner
    // folders go before the folders that hold them; only empty ones go.
    TextList folders = ListFolder(installDir, kListFolders, true);
    bool allRemoved = true;
    for (size_t i = folders.size(); i-- > 0;) allRemoved = RemoveDirectoryW(folders[i].c_str()) && allRemoved;
    if (allRemoved) RemoveDirectoryW(installDir.c_str());
  }

  std::wstring allUsers = session.GetProperty(L"ALLUSERSFOLDER");
  if (IsUsableFolder(allUsers) && RemoveDirectoryW(allUsers.c_str())) {
    std::wstring parent = ParentFolder(allUsers);
    if (!parent.empty()) RemoveDirectoryW(parent.c_str());
  }
}

void RemoveSupersededOrvos() {
  auto& session = InstallerSession::Instance();
  std::wstring path = InstalledMasterDocumentPath();
  XmlDocument master;
  DomDocument* document = nullptr;
  if (!LoadDocument(master, path, document) || !document) return;
  AppIndex index;
  TextList names;
  SplitText(index.GetIndexedProperty(L"", L"ORVO_SUPERCEDED"), L";", names, true);
  OrvoCatalog catalog;
  bool removed = false;
  for (const auto& name : names) {
    if (!catalog.RemoveFromList(master, name)) continue;
    removed = true;
    // The name comes from documents: it may only name a folder beside the master.
    if (IsPlainFileName(name) && IsUsableFolder(ParentFolder(path))) {
      DeletePath(CombinePath(ParentFolder(path), name), true, true);
    } else {
      session.Log(L"   !-> Refused to delete the folder of %s", name);
    }
  }
  if (removed) master.Save(L"UTF-16", L"\r\n");
}

}  // namespace orvo

