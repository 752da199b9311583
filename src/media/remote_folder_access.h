// Connections to the network shares that content folders point at, made
// before any file is written there so the system can ask for credentials.
#pragma once
#include <windows.h>

#include <string>

namespace orvo {

// The text of a network error code, "<unknown error> N" for others.
std::wstring NetworkErrorText(unsigned long code);

// A Windows error code: 0 when the folder is accessible (connecting it
// first when needed, with the system's credential prompt).
unsigned long ConnectShare(const std::wstring& path);

// The user name of the last connection made in this process.
const std::wstring& LastNetworkUser();

// Connects every local or shared content folder of the "RCITEM_%d"
// properties whose target is a UNC path. 0, 1602 when the user cancelled a
// prompt, 1603 when a connection failed. indexPath: the application index
// read on maintenance installations; empty: the machine's.
UINT RemoteFolderAccess(const std::wstring& indexPath = std::wstring());

}  // namespace orvo
