// A catalog's registration taken from its own catalog document.
#pragma once
#include <windows.h>

#include <string>

namespace orvo {

// Writes subkey S of the key from document D; false when D does not load
// or S cannot be opened.
bool AutoRegisterCatalog(const std::wstring& groupType, int typeNumber, HKEY key, const std::wstring& subkey,
                         const std::wstring& documentPath);

}  // namespace orvo
