#include "shortcuts/shortcut_reader.h"

#include <io.h>

#include <cstdlib>

#include "action/installer_session.h"
#include "documents/contained_path.h"
#include "documents/paths.h"
#include "documents/text_lists.h"

namespace orvo {
namespace {

// Fields of the template, by the columns of the installer's Shortcut table.
enum TemplateField : size_t {
  kTemplateDirectory = 1,
  kTemplateDescription = 6,
  kTemplateIcon = 8,
  kTemplateIconIndex = 9,
  kTemplateWorkingDirectory = 11,
};

// The attribute's value when it is present; the default otherwise.
std::wstring AttributeOr(const DomElement* element, const wchar_t* name, const std::wstring& fallback) {
  return element->hasAttribute(name) ? AttributeText(element, name) : fallback;
}

// A folder from an installer property: a drive path or a share, never a
// place relative to whatever the current folder is.
bool IsFullFolderPath(const std::wstring& folder) {
  if (IsNetworkPath(folder)) return IsAbsolutePath(folder);
  return folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\';
}

}  // namespace

void ReadShortcuts(const Orvo& orvo, ShortcutList& records) {
  records.clear();
  const DomDocument* document = orvo.packDocument.document();
  if (!document) return;
  auto& session = InstallerSession::Instance();
  const std::wstring templ = session.GetProperty(L"VEXA_SHORTCUT_TEMPLATE", true);

  DomNodeList* elements = document->getElementsByTagName(L"Shortcut");
  for (XMLSize_t i = 0; elements && i < elements->getLength(); ++i) {
    auto* element = static_cast<const DomElement*>(elements->item(i));
    ShortcutRecord record;
    record.target = session.FormatRecordText(AttributeText(element, L"Target"));
    record.arguments = session.FormatRecordText(AttributeText(element, L"Parameters"));
    record.description = element->hasAttribute(L"Description")
                             ? session.FormatRecordText(AttributeText(element, L"Description"))
                             : FieldAt(templ, kTemplateDescription);
    record.icon = element->hasAttribute(L"Icon") ? session.FormatRecordText(AttributeText(element, L"Icon"))
                                                 : FieldAt(templ, kTemplateIcon);
    std::wstring iconIndex = AttributeOr(element, L"IconIndex", FieldAt(templ, kTemplateIconIndex));
    std::wstring workingProperty = AttributeOr(element, L"Directory", FieldAt(templ, kTemplateWorkingDirectory));
    std::wstring folderProperty = AttributeOr(element, L"TargetDirectory", FieldAt(templ, kTemplateDirectory));
    record.alwaysInstall = AttributeText(element, L"AlwaysInstall") == L"yes";

    // An icon of the package's Icon table is kept in the installer's cache
    // for the product; a full path that is missing names no such icon.
    if (!record.icon.empty() && _waccess(record.icon.c_str(), 0) != 0 && !IsAbsolutePath(record.icon))
      record.icon = CombinePath(session.FormatRecordText(L"[WindowsFolder]Installer\\[ProductCode]"), record.icon);
    record.iconIndex = _wtoi(iconIndex.c_str());
    if (record.iconIndex < 0) record.iconIndex = 0;

    record.workingDirectory =
        workingProperty.empty() ? ParentFolder(record.target) : session.GetProperty(workingProperty);
    record.folder = session.GetProperty(folderProperty.empty() ? L"DesktopFolder" : folderProperty);
    std::wstring name = session.FormatRecordText(AttributeText(element, L"Name"));
    if (!IsPlainFileName(name)) {
      session.Log(L" !=> Shortcut refused, its name leaves %s: %s", record.folder, name);
      continue;
    }
    if (!IsFullFolderPath(record.folder)) {
      session.Log(L" !=> Shortcut refused, its folder is not a full path: %s (%s)", name, record.folder);
      continue;
    }
    record.linkPath = CombinePath(record.folder, name) + L".lnk";
    records.push_back(std::move(record));
  }
}

}  // namespace orvo
