#include "shortcuts/shell_link.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "documents/paths.h"
#include "shortcuts/com_owner.h"

namespace orvo {

bool CreateShortcut(const ShortcutRecord& record) {
  ComApartment apartment;
  ComPointer<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put())))
    return false;
  link->SetPath(record.target.c_str());
  link->SetArguments(record.arguments.c_str());
  link->SetShowCmd(SW_SHOWNORMAL);
  if (!record.description.empty()) link->SetDescription(record.description.c_str());
  if (!record.workingDirectory.empty()) link->SetWorkingDirectory(record.workingDirectory.c_str());
  if (!record.icon.empty()) link->SetIconLocation(record.icon.c_str(), record.iconIndex);

  ComPointer<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put()))) return false;
  return SUCCEEDED(file->Save(record.linkPath.c_str(), TRUE));
}

void DeleteShortcut(const ShortcutRecord& record) {
  ComApartment apartment;
  ComPointer<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put())))
    return;
  ComPointer<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put()))) return;

  for (const auto& path : FindFiles(record.folder, L"*.lnk", false)) {
    if (FAILED(file->Load(path.c_str(), STGM_READ))) continue;
    wchar_t arguments[MAX_PATH] = {0};
    wchar_t target[MAX_PATH] = {0};
    link->GetArguments(arguments, MAX_PATH);
    link->GetPath(target, MAX_PATH, nullptr, 0);
    if (_wcsicmp(target, record.target.c_str()) == 0 && _wcsicmp(arguments, record.arguments.c_str()) == 0) {
      // FindFiles lists files only: a folder named *.lnk is never taken.
      DeleteFileW(path.c_str());
      return;
    }
  }
}

}  // namespace orvo
