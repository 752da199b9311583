#include "shortcuts/configure_shortcuts.h"

#include <shlobj.h>

#include <vector>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/text_lists.h"
#include "shortcuts/shell_link.h"
#include "shortcuts/shortcut_reader.h"

namespace orvo {
namespace {

const wchar_t kShortcutList[] = L"ORVO_SHORTCUT";

void AddOnce(TextList& list, const std::wstring& folder) {
  if (!ContainsText(list, folder, true)) list.push_back(folder);
}

// This product's removal has run: a reference document of the Orvo that is
// still there records files of another product.
bool HeldByAnotherProduct(const Orvo& orvo) {
  for (const auto& [owner, document] : orvo.referenceDocuments)
    if (!document.empty() && PathExists(document)) return true;
  return false;
}

}  // namespace

UINT ConfigureShortcuts(XmlDocument& master, OrvoCatalog& catalog, const std::wstring& indexPath) {
  auto& session = InstallerSession::Instance();
  session.Log(L"\n_configureshortcuts");
  const unsigned installType = session.installType();

  AppIndex index(indexPath);
  const bool listFromProperty = session.EvaluateConditionText(L"ORVO_SHORTCUT_0409182025", false);
  std::wstring listText = listFromProperty ? session.GetProperty(kShortcutList)
                                           : index.GetIndexedProperty(std::wstring(), kShortcutList);
  TextList wanted;
  SplitText(listText, L";", wanted, true);
  if ((installType & IT_NEWINSTALL) && !listFromProperty) {
    for (const auto& entry : catalog.orvos()) wanted.push_back(entry.second->name);
    listText = JoinText(wanted, L";");
  }
  index.SetIndexedProperty(std::wstring(), kShortcutList, listText);

  TextList refresh;
  std::vector<DomElement*> detach;
  ShortcutList records;
  for (const auto& entry : catalog.orvos()) {
    Orvo& orvo = *entry.second;
    const bool isWanted = ContainsText(wanted, orvo.name, true);
    const bool installed = orvo.current == kCurrentlyInstalled;
    ReadShortcuts(orvo, records);
    for (const auto& record : records) {
      const bool create = isWanted || record.alwaysInstall;
      // Shortcuts are found by target, not counted per product: while
      // another product still holds the Orvo (its reference documents
      // outlived this removal) and the target is there, the shortcut stays;
      // the last removal takes both.
      if (orvo.request == kRequestRemove && HeldByAnotherProduct(orvo) && PathExists(record.target)) {
        session.Log(L"  => Shortcut %s kept: another product still has %s", record.linkPath, orvo.name);
      } else if (orvo.request == kRequestRemove || (orvo.request == kRequestNull && installed && !create)) {
        DeleteShortcut(record);
        AddOnce(refresh, ParentFolder(record.linkPath));
      } else if (create && (orvo.request == kRequestInstall || installed)) {
        CreateShortcut(record);
      }
    }
    if (orvo.request == kRequestRemove && (installType & (IT_NEWINSTALL | IT_ADDREMOVE))) {
      master.SetChanged();
      if (orvo.standalone && orvo.masterElement) detach.push_back(orvo.masterElement);
    }
  }

  for (DomElement* element : detach) {
    if (DomNode* parent = element->getParentNode()) parent->removeChild(element);
  }
  for (const auto& folder : refresh) SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, folder.c_str(), nullptr);
  return ERROR_SUCCESS;
}

}  // namespace orvo
