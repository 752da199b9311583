#include "media/remote_folder_access.h"

#include <winnetwk.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/text_lists.h"

namespace orvo {
namespace {

// Shared by every call while the library stays loaded, so a second share
// on the same server is offered the account the user typed for the first.
std::wstring g_lastUser;

// A connection that succeeds while the folder stays out of reach is tried
// again a few times only.
constexpr int kConnectAttempts = 3;

constexpr DWORD kConnectFlags = CONNECT_UPDATE_PROFILE | CONNECT_INTERACTIVE | CONNECT_CMD_SAVECRED;

struct ContentFolders {
  TextList local;
  TextList shared;
};

}  // namespace

std::wstring NetworkErrorText(unsigned long code) {
  switch (code) {
    case 0:
      return L"NO_ERROR Everything is just fine.";
    case 5:
      return L"ERROR_ACCESS_DENIED The caller does not have access to the network resource.";
    case 66:
      return L"ERROR_BAD_DEV_TYPE The type of local device and the type of network resource do not match.";
    case 67:
      return L"ERROR_BAD_NET_NAME The value specified by the lpRemoteName member is not acceptable to any network "
             L"resource provider, either because the resource name is invalid, or because the named resource "
             L"cannot be located.";
    case 85:
      return L"ERROR_ALREADY_ASSIGNED The local device specified by the lpLocalName member is already connected "
             L"to a network resource.";
    case 86:
    case 87:
      return L"ERROR_INVALID_PASSWORD The specified password is invalid and the CONNECT_INTERACTIVE flag is not "
             L"set.";
    case 170:
      return L"ERROR_BUSY The router or provider is busy, possibly initializing. The caller should retry.";
    case 1200:
      return L"ERROR_BAD_DEVICE The value specified by lpLocalName is invalid.";
    case 1202:
      return L"ERROR_DEVICE_ALREADY_REMEMBERED An entry for the device specified by lpLocalName is already in the "
             L"user profile.";
    case 1203:
      return L"ERROR_NO_NET_OR_BAD_PATH The operation cannot be performed because a network component is not "
             L"started or because a specified name cannot be used.";
    case 1204:
      return L"ERROR_BAD_PROVIDER The value specified by the lpProvider member does not match any provider.";
    case 1205:
      return L"ERROR_CANNOT_OPEN_PROFILE The system is unable to open the user profile to process persistent "
             L"connections.";
    case 1206:
      return L"ERROR_BAD_PROFILE The user profile is in an incorrect format.";
    case 1208:
      return L"ERROR_EXTENDED_ERROR A network-specific error occurred. Call the WNetGetLastError function to "
             L"obtain a description of the error.";
    case 1222:
      return L"ERROR_NO_NETWORK The network is unavailable.";
    case 1223:
      return L"ERROR_CANCELLED The attempt to make the connection was cancelled by the user through a dialog box "
             L"from one of the network resource providers, or by a called resource.";
    default:
      return Format(L"<unknown error> %d", code);
  }
}

const std::wstring& LastNetworkUser() { return g_lastUser; }

unsigned long ConnectShare(const std::wstring& path) {
  std::wstring remote = path;
  StripTrailingBackslashes(remote);
  if (remote.empty()) return ERROR_BAD_NET_NAME;
  if (PathExists(remote)) return ERROR_SUCCESS;

  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    NETRESOURCEW resource{};
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpRemoteName = &remote[0];
    DWORD result = WNetAddConnection2W(&resource, nullptr, g_lastUser.empty() ? nullptr : g_lastUser.c_str(),
                                       kConnectFlags);
    if (result != NO_ERROR) return result;

    wchar_t user[MAX_PATH] = {0};
    DWORD length = MAX_PATH;
    if (WNetGetUserW(remote.c_str(), user, &length) == NO_ERROR) g_lastUser = user;
    if (PathExists(remote)) return ERROR_SUCCESS;
  }
  return ERROR_BAD_NET_NAME;
}

UINT RemoteFolderAccess(const std::wstring& indexPath) {
  auto& session = InstallerSession::Instance();
  const bool firstInstall = (session.installType() & IT_NEWINSTALL) != 0;
  AppIndex index(indexPath);

  ContentFolders folders;
  if (firstInstall) {
    SplitFields(session.GetProperty(L"CD_LOCAL_FOLDERS"), L';', folders.local);
    SplitFields(session.GetProperty(L"CD_SHARED_FOLDERS"), L';', folders.shared);
  } else {
    SplitFields(index.GetIndexedProperty(std::wstring(), L"CD_LOCAL_FOLDERS"), L';', folders.local);
    SplitFields(index.GetIndexedProperty(std::wstring(), L"CD_SHARED_FOLDERS"), L';', folders.shared);
  }

  std::wstring value = session.GetProperty(Format(L"RCITEM_%d", 0));
  int counter = 1;
  while (!value.empty()) {
    std::wstring nextName = Format(L"RCITEM_%d", counter++);
    session.Log(L"   -> Parsing %s", value);
    TextList fields;
    SplitFields(value, L';', fields);
    if (fields.size() >= 9) {
      const std::wstring& name = fields[3];
      std::wstring target;
      if (ContainsText(folders.local, name, true)) {
        target = firstInstall ? fields[6] : index.GetIndexedDirectory(std::wstring(), name);
      } else if (ContainsText(folders.shared, name, true)) {
        target = firstInstall ? fields[7] : index.GetIndexedDirectory(std::wstring(), name);
      }
      if (target.compare(0, 2, L"\\\\") == 0) {
        unsigned long result = ConnectShare(target);
        if (result == ERROR_SUCCESS) {
          session.Log(L" - Access to %s successfully established", target);
        } else if (result == ERROR_CANCELLED) {
          session.Log(L" - User cancelled while trying to establish access to %s", target);
          return ERROR_INSTALL_USEREXIT;
        } else {
          session.Log(L" - Failure to connect to %s, error %s", target, NetworkErrorText(result));
          return ERROR_INSTALL_FAILURE;
        }
      }
    }
    value = session.GetProperty(nextName);
  }
  return ERROR_SUCCESS;
}

}  // namespace orvo
